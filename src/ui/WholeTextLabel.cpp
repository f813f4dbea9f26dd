#include "ui/WholeTextLabel.h"

namespace
{
/** Below this the text would be hard to read; a text that needs less would be a fault of the texts. */
constexpr float smallestFontHeight = 9.0f;
constexpr float fontHeightStep = 0.25f;
} // namespace

juce::Rectangle<float> WholeTextLabel::textArea() const
{
    return getBorderSize().subtractedFrom(getLocalBounds()).toFloat();
}

juce::TextLayout WholeTextLabel::layoutAt(float fontHeight, float width) const
{
    juce::AttributedString text;
    text.setWordWrap(juce::AttributedString::byWord);
    text.setJustification(getJustificationType().getOnlyHorizontalFlags() | juce::Justification::top);
    text.append(getText(), getFont().withHeight(fontHeight),
                findColour(textColourId).withMultipliedAlpha(isEnabled() ? 1.0f : 0.5f));
    juce::TextLayout layout;
    layout.createLayout(text, width);
    return layout;
}

const WholeTextLabel::Fit& WholeTextLabel::fitted()
{
    const auto area = textArea();
    const auto baseHeight = getFont().getHeight();
    if (fitText == getText() && fitArea == area && fitBaseHeight == baseHeight && fit.fontHeight > 0.0f)
        return fit;

    fitText = getText();
    fitArea = area;
    fitBaseHeight = baseHeight;
    for (auto height = baseHeight;; height -= fontHeightStep)
    {
        auto layout = layoutAt(height, area.getWidth());
        const bool fits = layout.getHeight() <= area.getHeight();
        if (fits || height - fontHeightStep < smallestFontHeight)
        {
            fit = {std::move(layout), height, fits};
            return fit;
        }
    }
}

void WholeTextLabel::paint(juce::Graphics& g)
{
    g.fillAll(findColour(backgroundColourId));
    const auto& f = fitted();
    auto area = textArea();
    const auto placement = getJustificationType();
    const auto spare = std::max(0.0f, area.getHeight() - f.layout.getHeight());
    if (placement.testFlags(juce::Justification::verticallyCentred))
        area.removeFromTop(spare / 2.0f);
    else if (placement.testFlags(juce::Justification::bottom))
        area.removeFromTop(spare);
    f.layout.draw(g, area);
    g.setColour(findColour(outlineColourId));
    g.drawRect(getLocalBounds());
}
