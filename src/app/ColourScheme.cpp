#include "app/ColourScheme.h"

void applyColourScheme(juce::LookAndFeel& lookAndFeel)
{
    const juce::Colour lightGrey(0xFFD3D3D3);
    const juce::Colour background(0xFFF5F5F5);
    const auto buttonColour = lightGrey.brighter(0.6f);

    lookAndFeel.setColour(juce::TextButton::buttonColourId, buttonColour);
    lookAndFeel.setColour(juce::ResizableWindow::backgroundColourId, background);
    lookAndFeel.setColour(juce::PopupMenu::highlightedBackgroundColourId, buttonColour.darker(0.4f));
    lookAndFeel.setColour(juce::ProgressBar::backgroundColourId, background.darker(0.2f));
    lookAndFeel.setColour(juce::ProgressBar::foregroundColourId, background);
    lookAndFeel.setColour(juce::ComboBox::buttonColourId, lightGrey.withAlpha(0.6f));
}
