#include "engine/HelpTexts.h"
#include "engine/UiTexts.h"
#include "support/WindowHarness.h"

#include <gtest/gtest.h>

namespace juce
{
// The framework's own step of its message loop: a pressed button clicks through a posted message.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
using Mode = VirtualAmplifier::Mode;

/** What a screen reader learns of a control: role, title, description, value, and whether it can be
    pressed; "-" for a control it cannot reach (hidden). */
juce::String readOut(juce::Component& control)
{
    auto* handler = control.getAccessibilityHandler();
    if (handler == nullptr || handler->isIgnored() || !control.isShowing())
        return "-";
    static const std::map<juce::AccessibilityRole, juce::String> roles{
        {juce::AccessibilityRole::button, "button"},
        {juce::AccessibilityRole::comboBox, "combo box"},
        {juce::AccessibilityRole::progressBar, "progress bar"},
        {juce::AccessibilityRole::label, "label"}};
    const auto role = roles.count(handler->getRole()) ? roles.at(handler->getRole()) : "other";
    juce::String value;
    if (auto* valueInterface = handler->getValueInterface())
        value = valueInterface->getCurrentValueAsString();
    const bool pressable = handler->getActions().contains(juce::AccessibilityActionType::press);
    return role + " | " + handler->getTitle() + " | " + handler->getDescription() + " | " + value +
           (pressable ? " | press" : "");
}

/** The window on the screen, where a screen reader and the keyboard reach it. */
struct ShownWindow : Window
{
    ShownWindow()
    {
        c->addToDesktop(juce::ComponentPeer::windowHasTitleBar);
        c->setVisible(true);
        c->toFront(true); // the active window, which the keyboard's focus belongs to
    }

    /** A key pressed in the window, and the messages it posted handled. */
    void key(int code, juce::ModifierKeys modifiers = {})
    {
        c->getPeer()->handleKeyPress(juce::KeyPress(code, modifiers, 0));
        while (juce::dispatchNextMessageOnSystemQueue(true))
        {
        }
    }

    juce::Component* focused() const { return juce::Component::getCurrentlyFocusedComponent(); }
};

const juce::String pageButtons = juce::String("button | Versions | ") + uiTexts::versionsDescription +
                                 " |  | press\nbutton | Boot help | " + uiTexts::bootInfoDescription +
                                 " |  | press\nbutton | VoiceSlot information | " +
                                 uiTexts::voiceSlotInfoDescription + " |  | press";
} // namespace

TEST(ScreenReader, ReadsEveryControlWithItsNameValueAndActionInEveryStateOfAnUpdate)
{
    ASSERT_NE(juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr)
        << "run under xvfb-run";
    ShownWindow w;
    auto& c = *w.c;
    auto tree = [&]
    {
        juce::StringArray lines;
        for (juce::Component* control : std::initializer_list<juce::Component*>{
                 &c.statusLabel, &c.progressBar, &c.modelSelector, &c.updateButton, &c.versionsButton,
                 &c.bootInfoButton, &c.voiceSlotInfoButton})
            lines.add(readOut(*control));
        return lines.joinIntoString("\n");
    };
    auto expect = [&](const juce::String& status, const juce::String& bar, const juce::String& selector,
                      const juce::String& update)
    {
        return juce::StringArray{"label | " + status + " |  | " + status, "progress bar | " + bar, selector,
                                 update, pageButtons}
            .joinIntoString("\n");
    };
    const auto updateReads = [](const juce::String& caption)
    { return "button | " + caption + " | " + uiTexts::updateDescription + " |  | press"; };

    EXPECT_EQ(tree(), expect(helpTexts::instructionsText, "Searching for amplifier... |  | 0", "-", "-"));

    // A broken boot: the model is asked for by its purpose, then read with the choice.
    {
        VirtualAmplifier generic(w.midi, "LX60", Mode::genericBoot, 0);
        ASSERT_TRUE(w.runUntil(
            [&]
            { return c.session.getState() == UpdaterState::BootGeneric && c.modelSelector.isVisible(); }));
        const auto selector = juce::String("combo box | ") + uiTexts::modelSelectorTitle + " | " +
                              uiTexts::modelSelectorDescription + " | ";
        EXPECT_EQ(readOut(c.modelSelector), selector + " | press");
        c.modelSelector.setSelectedId(2, juce::dontSendNotification);
        EXPECT_EQ(readOut(c.modelSelector), selector + "LX60 | press");
        generic.unplug();
        ASSERT_TRUE(w.runUntil([&] { return !c.modelSelector.isVisible(); }));
    }

    VirtualAmplifier amp(w.midi, "LX40", Mode::boot, 0);
    ASSERT_TRUE(
        w.runUntil([&] { return c.session.getState() == UpdaterState::Idle && c.updateButton.isVisible(); }));
    EXPECT_EQ(tree(), expect(helpTexts::instructionsText, "KW LX40 found and ready for update |  | 0", "-",
                             updateReads("Update")));

    c.buttonClicked(&c.updateButton);
    ASSERT_TRUE(w.runUntil([&] { return c.progressValue > 0.2; }));
    const auto shown = readOut(c.progressBar);
    EXPECT_TRUE(shown.startsWith(juce::String("progress bar | ") + uiTexts::progressTitle + " |  | 0."))
        << shown << ": while the percentage shows, the bar is read by its title with the progress";
    EXPECT_EQ(readOut(c.updateButton), updateReads("Updating"));

    ASSERT_TRUE(w.runUntil([&] { return c.statusLabel.getText() == uiTexts::allFine; }));
    EXPECT_EQ(tree(), expect(uiTexts::allFine, "KW LX40 found (in app mode). Firmware version: 131 |  | 0",
                             "-", "-"));
}

TEST(ScreenReader, HearsWhatMustNotBeMissedOnceEachInOrder)
{
    struct Road
    {
        const char* name;
        std::function<void(Window&, std::unique_ptr<VirtualAmplifier>&)> drive;
        juce::StringArray heard;
    };
    const auto finished = juce::String(uiTexts::updateFinishedStatus);
    const auto fine = [](const char* port, const char* version)
    { return juce::String(port) + uiTexts::appModeFound + version + "\n" + uiTexts::allFine; };
    auto clickWhenOffered = [](Window& w)
    {
        ASSERT_TRUE(w.runUntil(
            [&] { return w.c->session.getState() == UpdaterState::Idle && w.c->updateButton.isEnabled(); }));
        w.c->buttonClicked(&w.c->updateButton);
    };
    const Road roads[] = {
        {"model boot",
         [&](Window& w, auto& amp)
         {
             amp = std::make_unique<VirtualAmplifier>(w.midi, "LX40", Mode::boot, 0);
             clickWhenOffered(w);
         },
         {"KW LX40 found and ready for update", uiTexts::updateStartedAnnouncement, finished,
          fine("KW LX40", "131")}},
        {"broken boot",
         [&](Window& w, auto& amp)
         {
             amp = std::make_unique<VirtualAmplifier>(w.midi, "LX60", Mode::genericBoot, 0);
             ASSERT_TRUE(w.runUntil([&] { return w.c->modelSelector.isVisible(); }));
             w.c->modelSelector.setSelectedId(2, juce::dontSendNotification);
             clickWhenOffered(w);
         },
         {helpTexts::brokenBootText, uiTexts::updateStartedAnnouncement, finished, fine("KW LX60", "131")}},
        {"broken off",
         [&](Window& w, auto& amp)
         {
             amp = std::make_unique<VirtualAmplifier>(w.midi, "LX40", Mode::boot, 0);
             amp->unplugAfter(2);
             clickWhenOffered(w);
         },
         {"KW LX40 found and ready for update", uiTexts::updateStartedAnnouncement,
          juce::String(uiTexts::brokenOffBar) + "\n" + helpTexts::recoveryText}},
        {"repair",
         [&](Window& w, auto& amp)
         { amp = std::make_unique<VirtualAmplifier>(w.midi, "LX20", Mode::application, 1000); },
         {juce::String("KW LX20") + uiTexts::badFirmware,
          juce::String(uiTexts::autoUpdating) + "\n" + uiTexts::reprogramming + "LX20", finished,
          fine("KW LX20", "2282")}},
    };
    for (const auto& road : roads)
    {
        SCOPED_TRACE(road.name);
        Window w;
        std::unique_ptr<VirtualAmplifier> amp;
        road.drive(w, amp);
        ASSERT_TRUE(w.runUntil([&] { return w.announcements.size() >= road.heard.size(); }))
            << w.announcements.joinIntoString("\n--\n");
        w.run(3000); // nothing more, nothing twice
        EXPECT_EQ(w.announcements, road.heard) << w.announcements.joinIntoString("\n--\n");
    }
}

TEST(Keyboard, TabsThroughTheControlsInReadingOrderOpensAPageAndRunsAnUpdate)
{
    ASSERT_NE(juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr)
        << "run under xvfb-run";
    ShownWindow w;
    auto& c = *w.c;
    VirtualAmplifier amp(w.midi, "LX40", Mode::boot, 0);
    ASSERT_TRUE(
        w.runUntil([&] { return c.session.getState() == UpdaterState::Idle && c.updateButton.isVisible(); }));
    ASSERT_EQ(w.focused(), &c.updateButton) << "the Update button takes the focus when it is offered";

    // Reading order: (the selector, hidden here), Update, "i", the two page buttons; and back.
    const std::vector<juce::Component*> order{&c.updateButton, &c.versionsButton, &c.bootInfoButton,
                                              &c.voiceSlotInfoButton};
    for (std::size_t i = 1; i < order.size(); ++i)
    {
        w.key(juce::KeyPress::tabKey);
        EXPECT_EQ(w.focused(), order[i]) << "Tab " << i;
    }
    for (std::size_t i = order.size() - 1; i-- > 0;)
    {
        w.key(juce::KeyPress::tabKey, juce::ModifierKeys::shiftModifier);
        EXPECT_EQ(w.focused(), order[i]) << "Shift-Tab to " << i;
    }

    // Space opens the boot page; what it covers is out of reach; Escape closes it.
    w.key(juce::KeyPress::tabKey);
    w.key(juce::KeyPress::tabKey);
    ASSERT_EQ(w.focused(), &c.bootInfoButton);
    w.key(juce::KeyPress::spaceKey);
    EXPECT_TRUE(c.bootInfoView.isVisible());
    EXPECT_EQ(c.bootInfoButton.getButtonText(), "< back");
    for (int i = 0; i < 6; ++i) // the order wraps round: twice through what is reachable
    {
        w.key(juce::KeyPress::tabKey, juce::ModifierKeys::shiftModifier);
        EXPECT_NE(w.focused(), &c.updateButton) << "the Update button under the page is out of reach";
        EXPECT_NE(w.focused(), nullptr);
    }
    w.key(juce::KeyPress::escapeKey);
    EXPECT_FALSE(c.bootInfoView.isVisible());
    EXPECT_EQ(c.bootInfoButton.getButtonText(), "BOOT info >");

    for (int i = 0; i < 4 && w.focused() != &c.updateButton; ++i)
        w.key(juce::KeyPress::tabKey);
    ASSERT_EQ(w.focused(), &c.updateButton) << "reachable again once the page is closed";
    w.key(juce::KeyPress::returnKey);
    EXPECT_EQ(c.session.getState(), UpdaterState::Updating);
    ASSERT_TRUE(w.runUntil([&] { return c.statusLabel.getText() == uiTexts::allFine; }));
    EXPECT_EQ(amp.getCompletedImages(), 1);
}
