#include "ui/InfoView.h"

namespace
{
constexpr int textMargin = 10;
}

InfoView::InfoView(const juce::String& text)
{
    addAndMakeVisible(textLabel);
    textLabel.setText(text, juce::dontSendNotification);
    textLabel.setJustificationType(juce::Justification::topLeft);
}

void InfoView::paint(juce::Graphics& g)
{
    g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
    g.setColour(findColour(juce::TextButton::buttonColourId));
    g.drawRect(getLocalBounds(), 1);
}

void InfoView::resized()
{
    textLabel.setBounds(getLocalBounds().reduced(textMargin));
}
