#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The whole content of the main window. */
class MainContentComponent : public juce::Component
{
public:
    MainContentComponent() { setSize(600, 400); }

    void paint(juce::Graphics& g) override
    {
        g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
    }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainContentComponent)
};
