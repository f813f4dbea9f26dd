#pragma once

#include "ui/WholeTextLabel.h"

/** A framed help page that shows one fixed text from its top-left corner. */
class InfoView : public juce::Component
{
public:
    explicit InfoView(const juce::String& text);
    ~InfoView() override = default;

    void paint(juce::Graphics& g) override;
    void resized() override;

    WholeTextLabel textLabel;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(InfoView)
};
