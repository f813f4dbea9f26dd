#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A text button whose caption is drawn at its natural width: where the look-and-feel's font would not fit
    the button, a smaller one is taken instead of squeezing the letters. */
class CaptionButton : public juce::TextButton
{
public:
    using juce::TextButton::TextButton;

    /** The font the caption is drawn with, and the width it has for it. */
    juce::Font getCaptionFont() const;
    int getCaptionWidth(const juce::Font& font) const;

    void paintButton(juce::Graphics& g, bool isHighlighted, bool isDown) override;
    /** Return, as the framework has it, and Space press a focused button. */
    bool keyPressed(const juce::KeyPress& key) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CaptionButton)
};
