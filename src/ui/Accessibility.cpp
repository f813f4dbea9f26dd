#include "ui/Accessibility.h"

void announceToScreenReader(const juce::String& text)
{
    juce::AccessibilityHandler::postAnnouncement(text,
                                                 juce::AccessibilityHandler::AnnouncementPriority::high);
}

namespace
{
class ChosenItem final : public juce::AccessibilityTextValueInterface
{
public:
    explicit ChosenItem(juce::ComboBox& b) : box(b) {}
    bool isReadOnly() const override { return true; }
    juce::String getCurrentValueAsString() const override { return box.getText(); }
    void setValueAsString(const juce::String&) override {}

private:
    juce::ComboBox& box;
};

class TitledComboBoxHandler final : public juce::AccessibilityHandler
{
public:
    explicit TitledComboBoxHandler(juce::ComboBox& b)
        : juce::AccessibilityHandler(b, juce::AccessibilityRole::comboBox,
                                     juce::AccessibilityActions().addAction(
                                         juce::AccessibilityActionType::press, [&b] { b.showPopup(); }),
                                     {std::make_unique<ChosenItem>(b)}),
          box(b)
    {
    }

    juce::AccessibleState getCurrentState() const override
    {
        const auto state = juce::AccessibilityHandler::getCurrentState().withExpandable();
        return box.isPopupActive() ? state.withExpanded() : state.withCollapsed();
    }

private:
    juce::ComboBox& box;
};
} // namespace

std::unique_ptr<juce::AccessibilityHandler> TitledComboBox::createAccessibilityHandler()
{
    return std::make_unique<TitledComboBoxHandler>(*this);
}
