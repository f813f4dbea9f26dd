#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** Says a text to the user's screen reader. */
using Announcer = std::function<void(const juce::String&)>;

/** Hands a text to the system's screen reader through the framework's announcements; where the framework
    serves none (Linux), nothing is said. */
void announceToScreenReader(const juce::String& text);

/** A combo box that a screen reader calls by its title (the purpose of the choice) and reads with the item
    chosen as its value; the framework's own calls it by the chosen item, and by nothing before a choice. */
class TitledComboBox : public juce::ComboBox
{
public:
    using juce::ComboBox::ComboBox;

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(TitledComboBox)
};
