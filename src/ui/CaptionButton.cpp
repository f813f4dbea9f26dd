#include "ui/CaptionButton.h"

namespace
{
constexpr float smallestCaptionHeight = 8.0f;
constexpr float captionHeightStep = 0.25f;
} // namespace

int CaptionButton::getCaptionWidth(const juce::Font& font) const
{
    // The indents the framework's look-and-feels keep between the caption and the button's edges.
    const auto cornerSize = std::min(getHeight(), getWidth()) / 2;
    const auto indentLimit = juce::roundToInt(font.getHeight() * 0.6f);
    const auto leftIndent = std::min(indentLimit, 2 + cornerSize / (isConnectedOnLeft() ? 4 : 2));
    const auto rightIndent = std::min(indentLimit, 2 + cornerSize / (isConnectedOnRight() ? 4 : 2));
    return getWidth() - leftIndent - rightIndent;
}

juce::Font CaptionButton::getCaptionFont() const
{
    auto& self = const_cast<CaptionButton&>(*this); // the look-and-feel asks for a non-const button
    auto font = getLookAndFeel().getTextButtonFont(self, getHeight());
    while (font.getHeight() - captionHeightStep >= smallestCaptionHeight &&
           font.getStringWidthFloat(getButtonText()) > static_cast<float>(getCaptionWidth(font)))
        font = font.withHeight(font.getHeight() - captionHeightStep);
    return font;
}

void CaptionButton::paintButton(juce::Graphics& g, bool isHighlighted, bool isDown)
{
    auto& lf = getLookAndFeel();
    lf.drawButtonBackground(g, *this, findColour(getToggleState() ? buttonOnColourId : buttonColourId),
                            isHighlighted, isDown);

    const auto font = getCaptionFont();
    g.setFont(font);
    g.setColour(findColour(getToggleState() ? textColourOnId : textColourOffId)
                    .withMultipliedAlpha(isEnabled() ? 1.0f : 0.5f));
    const auto width = getCaptionWidth(font);
    g.drawText(getButtonText(), (getWidth() - width) / 2, 0, width, getHeight(), juce::Justification::centred,
               false);
}

bool CaptionButton::keyPressed(const juce::KeyPress& key)
{
    if (isEnabled() && key.isKeyCode(juce::KeyPress::spaceKey))
    {
        triggerClick();
        return true;
    }
    return juce::TextButton::keyPressed(key);
}
