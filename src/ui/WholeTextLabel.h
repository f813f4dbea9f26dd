#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A label that shows its whole text: lines break at the text's own line breaks and between words, and the
    font is the label's own (the framework's default) unless the text would not fit, in which case it is the
    largest smaller one that fits. The text never runs out of the label's rectangle, whatever the platform's
    default typeface and whatever the desktop's scale. */
class WholeTextLabel : public juce::Label
{
public:
    WholeTextLabel() : juce::Label(juce::String(), juce::String()) {}

    /** The height of the font the text is drawn with at the label's present size. */
    float getFittedFontHeight() { return fitted().fontHeight; }
    /** True when the whole text fits in the label's text area (false only below the smallest font). */
    bool showsWholeText() { return fitted().fits; }

    void paint(juce::Graphics& g) override;

private:
    struct Fit
    {
        juce::TextLayout layout;
        float fontHeight = 0.0f;
        bool fits = false;
    };

    juce::Rectangle<float> textArea() const;
    juce::TextLayout layoutAt(float fontHeight, float width) const;
    const Fit& fitted();

    Fit fit;
    juce::String fitText;
    juce::Rectangle<float> fitArea;
    float fitBaseHeight = 0.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(WholeTextLabel)
};
