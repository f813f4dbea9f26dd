#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A progress bar that can tell which text it shows instead of the percentage, and whether it shows one. */
class TextProgressBar : public juce::ProgressBar
{
public:
    using juce::ProgressBar::ProgressBar;

    void setTextToDisplay(const juce::String& text)
    {
        shownText = text;
        showingPercentage = false;
        juce::ProgressBar::setTextToDisplay(text);
    }

    void setPercentageDisplay(bool shouldDisplayPercentage)
    {
        showingPercentage = shouldDisplayPercentage;
        juce::ProgressBar::setPercentageDisplay(shouldDisplayPercentage);
    }

    const juce::String& getTextToDisplay() const { return shownText; }
    bool isShowingPercentage() const { return showingPercentage; }

private:
    juce::String shownText;
    bool showingPercentage = true;
};
