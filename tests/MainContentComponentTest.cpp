#include "ui/MainContentComponent.h"
#include "engine/HelpTexts.h"
#include "engine/UiTexts.h"
#include "support/LinkHelpers.h"
#include "support/SmallImages.h"
#include "support/WindowHarness.h"

#include <thread>

namespace
{
using Mode = VirtualAmplifier::Mode;

/** A log line: its text, two tabs and a blank, and the time as H:MM:SS on the 24-hour clock. */
bool isLogLine(const juce::String& line, const juce::String& start)
{
    if (!line.startsWith(start) || !line.contains("\t\t "))
        return false;
    const auto parts =
        juce::StringArray::fromTokens(line.fromLastOccurrenceOf("\t\t ", false, false), ":", "");
    if (parts.size() != 3 || parts[0].isEmpty() || parts[0].length() > 2 || parts[1].length() != 2 ||
        parts[2].length() != 2 || (parts[0].length() == 2 && parts[0][0] == '0'))
        return false;
    for (const auto& p : parts)
        if (!p.containsOnly("0123456789"))
            return false;
    return parts[0].getIntValue() < 24 && parts[1].getIntValue() < 60 && parts[2].getIntValue() < 60;
}
} // namespace

TEST(UpdaterRoads, AModelBootIsOfferedUpdatedAndConfirmed)
{
    Window w;
    VirtualAmplifier amp(w.midi, "LX40", Mode::boot, 0);
    auto& c = *w.c;
    EXPECT_EQ(c.statusLabel.getText(), helpTexts::instructionsText);
    EXPECT_EQ(w.barText(), "Searching for amplifier...");
    EXPECT_FALSE(c.updateButton.isVisible());
    EXPECT_FALSE(c.modelSelector.isVisible());

    w.step();
    ASSERT_EQ(w.log.lines.size(), 1);
    EXPECT_TRUE(isLogLine(w.log.lines[0], "State: Unknown State")) << w.log.lines[0];
    EXPECT_FALSE(c.progressBar.isMoving()) << "a bar with nothing new to show has nothing to wake for";

    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::BootValid; }));
    w.step();
    EXPECT_EQ(c.session.getState(), UpdaterState::Idle);
    ASSERT_EQ(w.log.lines.size(), 3);
    EXPECT_TRUE(isLogLine(w.log.lines[1], "State: Boot Valid   ")) << w.log.lines[1];
    EXPECT_TRUE(isLogLine(w.log.lines[2], "State: Idle State   ")) << w.log.lines[2];
    EXPECT_GE(w.clock.now, ProgramClock::steadinessMs)
        << "offered only once the facts held still long enough";
    EXPECT_EQ(w.barText(), "KW LX40 found and ready for update");
    EXPECT_EQ(c.updateButton.getButtonText(), "Update");
    EXPECT_TRUE(c.updateButton.isVisible());
    EXPECT_TRUE(c.updateButton.isEnabled());

    // A model chosen earlier for a generic boot plays no part for a model-specific one.
    c.modelSelector.setSelectedId(2, juce::dontSendNotification);
    c.buttonClicked(&c.updateButton);
    EXPECT_EQ(c.session.getState(), UpdaterState::Updating);
    EXPECT_FALSE(c.updateButton.isEnabled());
    EXPECT_TRUE(c.progressBar.isShowingPercentage());
    ASSERT_EQ(w.log.lines.size(), 4);
    EXPECT_TRUE(isLogLine(w.log.lines[3], "Upd. btn prsd @: 0.00")) << w.log.lines[3];

    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Updated; }));
    EXPECT_TRUE(c.progressBar.isMoving()) << "the stripes of a finished update keep moving";
    EXPECT_EQ(c.updateButton.getButtonText(), "Done");
    EXPECT_FALSE(c.updateButton.isEnabled());
    w.step();
    EXPECT_EQ(c.session.getState(), UpdaterState::AppMode);
    EXPECT_EQ(c.statusLabel.getText(), "Update finished!");
    EXPECT_EQ(w.barText(), "Update finished");
    EXPECT_TRUE(w.log.lines[4].startsWith("State: Updating...  "));
    EXPECT_TRUE(w.log.lines[5].startsWith("State: Updated!     "));
    EXPECT_TRUE(w.log.lines[6].startsWith("State: App / Amp    "));

    ASSERT_TRUE(w.runUntil(
        [&] { return c.statusLabel.getText() == "Everything is fine. Please enjoy the amplifier!"; }));
    EXPECT_EQ(w.barText(), "KW LX40 found (in app mode). Firmware version: 131");
    EXPECT_EQ(amp.getReceived()[1].bytes, std::vector<std::uint8_t>(smallImage("LX40", 3).begin() + 9,
                                                                    smallImage("LX40", 3).begin() + 9 + 599))
        << "the LX40 image, not the LX60 one chosen in the selector";
    EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
}

TEST(UpdaterRoads, AGenericBootWaitsForTheUsersModelAndStreamsItsImage)
{
    Window w;
    VirtualAmplifier amp(w.midi, "LC20-D_MKII", Mode::genericBoot, 0);
    auto& c = *w.c;
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::BootGeneric; }));
    w.run(1000);
    EXPECT_EQ(c.session.getState(), UpdaterState::BootGeneric);
    EXPECT_EQ(c.statusLabel.getText(), helpTexts::brokenBootText);
    EXPECT_TRUE(c.modelSelector.isVisible());
    EXPECT_FALSE(c.updateButton.isVisible()) << "hidden while no model is chosen";
    EXPECT_EQ(c.modelSelector.getText(), "");

    const juce::StringArray items{"LX40",        "LX60",   "LX20",   "LC20-B",
                                  "LC20-D MKII", "LC20-C", "LC20-A", "LC20 MKI"};
    ASSERT_EQ(c.modelSelector.getNumItems(), 8);
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ(c.modelSelector.getItemText(i), items[i]);
        EXPECT_EQ(c.modelSelector.getItemId(i), i + 1);
    }

    c.modelSelector.setSelectedId(5, juce::dontSendNotification);
    w.step();
    EXPECT_EQ(c.session.getState(), UpdaterState::Idle);
    EXPECT_TRUE(c.updateButton.isVisible());
    EXPECT_TRUE(c.updateButton.isEnabled());

    c.buttonClicked(&c.updateButton);
    ASSERT_EQ(c.session.getState(), UpdaterState::Updating);
    EXPECT_FALSE(c.modelSelector.isVisible());
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::AppMode; }));
    EXPECT_EQ(amp.getCompletedImages(), 1);
    auto firmware = smallImageFirmware("LC20-D_MKII", 3);
    firmware.resize(3 * 512, 0xFF);
    EXPECT_EQ(amp.getFirmware(), firmware);
    ASSERT_TRUE(w.runUntil(
        [&] { return c.statusLabel.getText() == "Everything is fine. Please enjoy the amplifier!"; }));
    EXPECT_EQ(w.barText(), "KW LC20-D MKII found (in app mode). Firmware version: 2282");
}

TEST(UpdaterRoads, BadFirmwareIsErasedAndReprogrammedWithoutAClick)
{
    for (const juce::String key : {"LX20", "LC20-D_MKII"})
    {
        SCOPED_TRACE(key.toStdString());
        Window w;
        VirtualAmplifier amp(w.midi, key, Mode::application, 1000);
        auto& c = *w.c;
        ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::BadBootDetected; }));
        w.step();
        EXPECT_EQ(c.session.getState(), UpdaterState::ErasedForRepair);
        EXPECT_EQ(c.statusLabel.getText(), amp.getModel().appPortName + " found. Bad firmware version.");
        EXPECT_EQ(w.barText(), "Erased VoiceSlot(s) and firmware");
        EXPECT_EQ(c.session.getRepairKey(), key);
        EXPECT_TRUE(amp.wasFirmwareErased());

        ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Updating; }));
        EXPECT_EQ(c.statusLabel.getText(), "Auto updating firmware...");
        ASSERT_TRUE(w.runUntil(
            [&] { return c.statusLabel.getText() == "Everything is fine. Please enjoy the amplifier!"; }));
        EXPECT_EQ(c.session.getState(), UpdaterState::AppMode);
        EXPECT_EQ(amp.getMode(), Mode::application);
        EXPECT_EQ(amp.getFirmwareVersion(), 2282);
        EXPECT_EQ(amp.getCompletedImages(), 1);
        EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
        EXPECT_EQ(w.log.lines.size(), 7)
            << w.log.lines.joinIntoString("\n"); // Unknown, App, Bad, Erased, Updating, Updated, App
    }
}

TEST(UpdaterRoads, OtherMidiDevicesAndAnUnreadableUsbListLeaveARunToFinish)
{
    Window w(10);
    VirtualAmplifier amp(w.midi, "LX40", Mode::boot, 0);
    auto& c = *w.c;
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Idle; }));
    c.buttonClicked(&c.updateButton);
    ASSERT_EQ(c.session.getState(), UpdaterState::Updating);

    // While the image streams, another USB-MIDI device and a program's virtual port come and go, and the
    // system's USB list cannot be read for a while.
    w.midi.addOtherPorts({"Synth"}, {"Synth"}, UsbIds{0x1209, 0x0001});
    w.run(600);
    w.midi.addOtherPorts({}, {"Virtual Raw MIDI"});
    w.midi.failUsbEnumeration(true);
    w.run(900);
    w.midi.failUsbEnumeration(false);
    w.midi.removeOtherPorts({"Synth", "Virtual Raw MIDI"});
    ASSERT_EQ(c.session.deviceCom.getRunOutcome(), RunOutcome::running)
        << "the image must still be streaming here";

    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::AppMode; }))
        << getStateName(c.session.getState()) << " " << static_cast<int>(c.session.deviceCom.getRunOutcome())
        << " " << c.session.deviceCom.getProgress();
    EXPECT_EQ(c.statusLabel.getText(), uiTexts::updateFinishedStatus);
    EXPECT_EQ(c.session.deviceCom.getRunOutcome(), RunOutcome::finished);
    EXPECT_EQ(amp.getCompletedImages(), 1);
    EXPECT_EQ(w.midi.getOtherReceivedCount(), 0);
    EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
}

TEST(UpdaterRoads, AnErasedAmplifierIsRepairedThroughItsOwnLatePortAndClosingAsksUntilThen)
{
    ASSERT_NE(juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr)
        << "the question is a window of its own: run under xvfb-run";
    Window w;
    auto& c = *w.c;
    w.c->addToDesktop(juce::ComponentPeer::windowHasTitleBar);
    w.c->setVisible(true);
    // A USB-MIDI interface that calls itself "USB Audio Device" sits beside an LX20 whose generic boot loader
    // calls itself "KW Bass Amp Boot" and whose port the system lists ten USB listings (3 s) after its USB
    // identity.
    w.midi.addOtherPorts({"USB Audio Device"}, {"USB Audio Device"}, UsbIds{0x1209, 0x0001});
    VirtualAmplifier amp(w.midi, "LX20", Mode::application, 1000);
    amp.setGenericBootPortName("KW Bass Amp Boot");
    w.midi.setPortLag(10);
    int quits = 0;
    auto quit = [&] { ++quits; };

    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::ErasedForRepair; }));
    ASSERT_TRUE(w.runUntil([&] { return c.statusLabel.getText() == uiTexts::autoUpdating; }));
    EXPECT_EQ(c.session.getState(), UpdaterState::ErasedForRepair) << "no port yet: the repair waits for it";

    // An amplifier with no firmware: closing asks first, with the same default as during a run.
    c.requestQuit(quit);
    auto* question = c.getQuitQuestion();
    ASSERT_NE(question, nullptr);
    for (auto* child : question->getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*>(child);
            button != nullptr && button->getButtonText() == uiTexts::keepUpdatingCaption)
            button->onClick();
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(c.getQuitQuestion(), nullptr);

    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Updating; }));
    ASSERT_TRUE(w.runUntil(
        [&] { return c.statusLabel.getText() == "Everything is fine. Please enjoy the amplifier!"; }));
    EXPECT_EQ(amp.getCompletedImages(), 1);
    EXPECT_EQ(amp.getFirmwareVersion(), 2282);
    EXPECT_EQ(w.midi.getOtherReceivedCount(), 0) << "the stranger received part of the image";
    EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");

    c.requestQuit(quit);
    EXPECT_EQ(quits, 1) << "the repaired amplifier runs its firmware: closing is immediate";
}

TEST(UpdaterRoads, AnUnplugHalfWayBreaksTheRunOffButNotAtTheVeryStartOrEnd)
{
    {
        Window w(10);
        VirtualAmplifier amp(w.midi, "LC20-A", Mode::boot, 0);
        auto& c = *w.c;
        ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Idle; }));
        c.buttonClicked(&c.updateButton);
        ASSERT_TRUE(w.runUntil([&] { return c.progressValue >= 0.4; }));
        amp.unplug();
        ASSERT_TRUE(w.runUntil([&] { return c.session.getState() != UpdaterState::Updating; }, 1000));
        EXPECT_EQ(c.session.getState(), UpdaterState::Aborted);
        EXPECT_TRUE(isLogLine(w.log.lines[w.log.lines.size() - 2], "Upd. terminated @: 0."))
            << w.log.lines.joinIntoString("\n");
        EXPECT_TRUE(w.log.lines[w.log.lines.size() - 1].startsWith("State: ??????????   "));
        w.step();
        EXPECT_EQ(c.statusLabel.getText(), helpTexts::recoveryText);
        EXPECT_EQ(w.barText(), "Update abnormally terminated !!!");
        EXPECT_FALSE(c.progressBar.isShowingPercentage());

        // A boot device coming back is not offered an update; an amplifier in application mode ends the
        // broken-off state.
        amp.plugIn();
        w.run(5000);
        EXPECT_EQ(c.session.getState(), UpdaterState::Aborted);
    }
    for (const double stored : {0.01, 0.99, 0.5})
    {
        Window w;
        auto& c = *w.c;
        c.session.enterStateForTesting(UpdaterState::Updating, stored);
        VirtualAmplifier amp(w.midi, "LX40", Mode::boot, 0); // a change of the USB connection
        w.run(300);
        EXPECT_EQ(c.session.getState(), stored == 0.5 ? UpdaterState::Aborted : UpdaterState::Updating)
            << stored;
    }
}

TEST(UpdaterRoads, ACablePulledAfterAnyMessageBreaksTheRunOffAndItSendsNothingMore)
{
    constexpr int blocks = 3;
    for (std::size_t k = 1; k <= blocks + 2; ++k)
    {
        SCOPED_TRACE("pulled after message " + std::to_string(k));
        Window w(blocks);
        VirtualAmplifier amp(w.midi, "LX40", Mode::boot, 0);
        auto& c = *w.c;
        ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Idle; }));
        amp.unplugAfter(k);
        c.buttonClicked(&c.updateButton);
        bool saidFinished = false;
        auto watch = [&]
        {
            saidFinished |= c.statusLabel.getText() == uiTexts::updateFinishedStatus ||
                            c.session.getState() == UpdaterState::Updated;
        };
        ASSERT_TRUE(w.runUntil(
            [&]
            {
                watch();
                return !amp.isPluggedIn();
            }));
        amp.plugIn(); // again in update mode, as the recovery text asks; after the last message, in its new
                      // mode
        for (int i = 0; i < 60; ++i) // 600 ms of real time: the old run would have sent again by now
        {
            w.step();
            watch();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }

        if (k == blocks + 2)
        {
            // The whole image went out: once the restarted amplifier is steady, the update is finished,
            // however early its restart was noticed.
            w.runUntil(
                [&]
                {
                    watch();
                    return saidFinished;
                },
                5000);
            EXPECT_TRUE(saidFinished) << getStateName(c.session.getState());
            EXPECT_EQ(amp.getCompletedImages(), 1);
            continue;
        }
        EXPECT_FALSE(saidFinished);
        EXPECT_EQ(c.session.getState(), UpdaterState::Aborted);
        EXPECT_EQ(c.session.deviceCom.getRunOutcome(), RunOutcome::brokenOff);
        EXPECT_EQ(amp.getReceived().size(), k)
            << "the amplifier plugged in again receives nothing of that run";
        EXPECT_TRUE(isLogLine(w.log.lines[w.log.lines.size() - 2], "Upd. terminated @: "))
            << w.log.lines.joinIntoString("\n");
    }
}

TEST(UpdaterRoads, ASecondRunInOneSittingIsFinishedOnlyOnceItsImageIsDelivered)
{
    // No way to hold off sleep here: the runs go on, and the log says so once.
    Window w(3, SleepInhibitor(
                    [](juce::String& failure) -> std::unique_ptr<SleepHold>
                    {
                        failure = "no system D-Bus";
                        return nullptr;
                    }));
    auto& c = *w.c;
    auto first = std::make_unique<VirtualAmplifier>(w.midi, "LX40", Mode::boot, 0);
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Idle; }));
    c.buttonClicked(&c.updateButton);
    ASSERT_TRUE(w.runUntil([&] { return c.statusLabel.getText() == uiTexts::allFine; }));
    first.reset();
    w.run(1000);

    VirtualAmplifier second(w.midi, "LX20", Mode::application, 1000);
    bool early = false;
    ASSERT_TRUE(w.runUntil(
        [&]
        {
            early |= second.getCompletedImages() == 0 &&
                     (c.session.getState() == UpdaterState::Updated ||
                      c.statusLabel.getText() == uiTexts::updateFinishedStatus);
            return c.statusLabel.getText() == uiTexts::allFine && second.getCompletedImages() == 1;
        }))
        << w.log.lines.joinIntoString("\n") << "\n"
        << c.statusLabel.getText() << "\n"
        << w.barText();
    EXPECT_FALSE(early) << w.log.lines.joinIntoString("\n")
                        << "\n\"Update finished!\" before the erased amplifier had its closing record";
    EXPECT_TRUE(c.session.deviceCom.isAcceptedFirmwareVersion(second.getFirmwareVersion()));

    int sleepLines = 0;
    for (const auto& line : w.log.lines)
        sleepLines +=
            line.startsWith("Sleep could not be held off during the update: no system D-Bus") ? 1 : 0;
    EXPECT_EQ(sleepLines, 1) << w.log.lines.joinIntoString("\n");
}

TEST(UpdaterRoads, AnUpdateThatCanSendNothingSaysSoAndMayBeTriedAgain)
{
    Window w;
    auto& c = *w.c;
    // An LX40 boot loader on USB whose port is not listed under its name: there is no output to send to.
    w.midi.addOtherPorts({"Keyboard"}, {"Keyboard"});
    w.midi.addUsbEntry({0x2A5A, 0x0044});
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Idle; }));
    c.buttonClicked(&c.updateButton);
    EXPECT_EQ(c.session.getState(), UpdaterState::Idle);
    EXPECT_EQ(c.statusLabel.getText(), uiTexts::notSentStatus);
    EXPECT_EQ(w.barText(), uiTexts::notSentBar);
    EXPECT_TRUE(c.updateButton.isVisible());
    EXPECT_TRUE(c.updateButton.isEnabled());
    w.run(3000);
    EXPECT_NE(c.statusLabel.getText(), uiTexts::updateFinishedStatus);
    EXPECT_EQ(w.sleep.taken.load(), 0);
}

TEST(UpdaterRoads, AnAmplifierIsErasedOnlyWhenItsFirmwareCanBePutBackAndOnlyOnce)
{
    auto erasures = [](const VirtualAmplifier& amp)
    {
        const auto eraseApp = *makeTextCommand("eraseapp", amp.getModel().deviceCode);
        const auto received = amp.getReceived();
        return std::count_if(received.begin(), received.end(),
                             [&](const auto& r) { return r.bytes == eraseApp; });
    };
    {
        // This build carries no LX20 image.
        Window w(3, {},
                 [](FirmwareCatalogue& catalogue)
                 {
                     smallImageCatalogue(3)(catalogue);
                     catalogue.remove(2);
                 });
        VirtualAmplifier amp(w.midi, "LX20", Mode::application, 1000);
        auto& c = *w.c;
        ASSERT_TRUE(
            w.runUntil([&] { return c.statusLabel.getText().endsWith(uiTexts::noFirmwareToRestore); }));
        w.run(5000);
        EXPECT_EQ(c.session.getState(), UpdaterState::AppMode);
        EXPECT_FALSE(amp.werePresetsErased());
        EXPECT_EQ(erasures(amp), 0);
    }
    {
        // The repair does not take: the amplifier comes back with the same unaccepted version.
        Window w;
        VirtualAmplifier amp(w.midi, "LX20", Mode::application, 1000);
        amp.setVersionAfterUpdate(1000);
        auto& c = *w.c;
        ASSERT_TRUE(w.runUntil([&] { return c.statusLabel.getText().endsWith(uiTexts::repairDidNotTake); }));
        w.run(5000);
        EXPECT_EQ(c.statusLabel.getText(),
                  "KW LX20" + juce::String(uiTexts::badFirmware) + uiTexts::repairDidNotTake);
        EXPECT_EQ(erasures(amp), 1);
        EXPECT_EQ(amp.getCompletedImages(), 1);
    }
}

TEST(UpdaterRoads, FlickeringFactsNeverBecomeSteady)
{
    Window w;
    auto& c = *w.c;
    VirtualAmplifier amp(w.midi, "LX60", Mode::boot, 0);
    for (int second = 0; second < 10; ++second)
    {
        w.run(1000);
        if (amp.isPluggedIn())
            amp.unplug();
        else
            amp.plugIn();
    }
    EXPECT_FALSE(c.session.isSteady());
    EXPECT_EQ(c.session.getState(), UpdaterState::Unknown);
    EXPECT_EQ(w.barText(), "Searching for amplifier...") << "no steady-only handler acted";
}

TEST(UpdaterRoads, AFailedEraseIsTriedAgainUntilItSucceeds)
{
    Window w;
    auto& c = *w.c;
    // An amplifier that answered, with no output port open: every erase fails.
    w.midi.addUsbEntry({0x2A5A, 0x0011});
    auto identify = [&]
    {
        w.link().pairConfirmed = true; // with no output, the pair could not be asked again
        w.link().handleIncomingMidiMessage(nullptr, replyMessage(0x6C, 0x04, {0x00, 0x68, 0x07, 0, 0}));
        w.link().handleIncomingMidiMessage(nullptr, replyMessage(0x6C, 0x06, {0, 0, 0, 0, 0}));
    };
    identify();
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::BadBootDetected; }));
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        identify(); // each failed erase resets the link; the amplifier answers again
        w.step();
        EXPECT_EQ(c.session.getState(), UpdaterState::BadBootDetected);
        EXPECT_EQ(w.barText(), "Failed to erase VoiceSlot(s) and firmware");
        EXPECT_EQ(c.statusLabel.getText(), "KW LC20 found. Bad firmware version.");
    }

    w.midi.clearUsbEntries();
    VirtualAmplifier amp(w.midi, "LC20", Mode::application, 1000);
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::ErasedForRepair; }, 20000));
    EXPECT_TRUE(amp.wasFirmwareErased());
}

TEST(UpdaterRoads, AppModeStaysWhenTheAmplifierIsReplaced)
{
    Window w;
    auto& c = *w.c;
    auto amp = std::make_unique<VirtualAmplifier>(w.midi, "LC20-B", Mode::application, 2282);
    ASSERT_TRUE(w.runUntil(
        [&] { return c.statusLabel.getText() == "Everything is fine. Please enjoy the amplifier!"; }));
    amp.reset();
    w.run(500);
    EXPECT_EQ(w.barText(), "Please wait... Amp is OFF or USB is changing state.");
    EXPECT_EQ(c.statusLabel.getText(), helpTexts::instructionsText);
    VirtualAmplifier bootAmp(w.midi, "LX40", Mode::boot, 0);
    w.run(6000);
    EXPECT_EQ(c.session.getState(), UpdaterState::AppMode);
    EXPECT_FALSE(c.updateButton.isVisible());
}

TEST(MainWindowContent, PageButtonsToggleTheirPagesAndCaptions)
{
    Window w;
    auto& c = *w.c;
    EXPECT_EQ(c.voiceSlotInfoButton.getButtonText(), "VS info >");
    EXPECT_EQ(c.bootInfoButton.getButtonText(), "BOOT info >");
    EXPECT_TRUE(helpTexts::instructionsText.contains("[VS info >]"));
    EXPECT_TRUE(helpTexts::instructionsText.contains("[BOOT info >]"));

    c.buttonClicked(&c.voiceSlotInfoButton);
    EXPECT_TRUE(c.voiceSlotInfoView.isVisible());
    EXPECT_EQ(c.voiceSlotInfoButton.getButtonText(), "< back");
    c.buttonClicked(&c.voiceSlotInfoButton);
    EXPECT_FALSE(c.voiceSlotInfoView.isVisible());
    EXPECT_EQ(c.voiceSlotInfoButton.getButtonText(), "VS info >");

    c.buttonClicked(&c.bootInfoButton);
    EXPECT_TRUE(c.bootInfoView.isVisible());
    EXPECT_EQ(c.bootInfoButton.getButtonText(), "< back");
    c.buttonClicked(&c.voiceSlotInfoButton);
    EXPECT_FALSE(c.bootInfoView.isVisible());
    EXPECT_TRUE(c.voiceSlotInfoView.isVisible());
    EXPECT_EQ(c.bootInfoButton.getButtonText(), "BOOT info >");

    c.buttonClicked(&c.versionsButton);
    EXPECT_TRUE(c.versionsView.isVisible());
    EXPECT_FALSE(c.voiceSlotInfoView.isVisible());
    EXPECT_EQ(c.versionsButton.getButtonText(), "h");
    EXPECT_TRUE(c.versionsView.textLabel.getText().startsWith("Software versions:\nLX40: 1.1.00 (131)\n"));

    // An Update click closes every page first; with no amplifier it only logs and disables the button.
    c.buttonClicked(&c.updateButton);
    EXPECT_FALSE(c.versionsView.isVisible());
    EXPECT_EQ(c.versionsButton.getButtonText(), "i");
    EXPECT_EQ(c.session.getState(), UpdaterState::Unknown);
    EXPECT_FALSE(c.updateButton.isEnabled());
    ASSERT_EQ(w.log.lines.size(), 1);
    EXPECT_TRUE(isLogLine(w.log.lines[0], "Upd. btn prsd @: 0.00"));
}

TEST(MainWindowContent, ClosingDuringAnUpdateAsksFirstAndOnlyAConfirmationStopsIt)
{
    ASSERT_NE(juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr)
        << "the question is a window of its own: run under xvfb-run";
    // An image long enough (about 13 s) to be still going at the second question on a slow system.
    Window w(60);
    w.c->addToDesktop(juce::ComponentPeer::windowHasTitleBar);
    w.c->setVisible(true);
    VirtualAmplifier amp(w.midi, "LX60", Mode::boot, 0);
    auto& c = *w.c;
    int quits = 0;
    auto quit = [&] { ++quits; };
    c.requestQuit(quit);
    EXPECT_EQ(quits, 1) << "no update: closing is immediate";
    EXPECT_EQ(c.getQuitQuestion(), nullptr);

    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::Idle; }));
    c.buttonClicked(&c.updateButton);
    auto ask = [&]
    {
        c.requestQuit(quit);
        auto* question = c.getQuitQuestion();
        EXPECT_NE(question, nullptr) << "no question while the run's outcome is "
                                     << static_cast<int>(c.session.deviceCom.getRunOutcome()) << " in state "
                                     << getStateName(c.session.getState());
        return question;
    };
    auto press = [](juce::AlertWindow* question, const juce::String& caption)
    {
        for (auto* child : question->getChildren())
        {
            auto* button = dynamic_cast<juce::TextButton*>(child);
            if (button != nullptr && button->getButtonText() == caption)
            {
                button->onClick();
                return true;
            }
        }
        return false;
    };

    auto* question = ask();
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(question->isCurrentlyModal());
    for (auto* child : question->getChildren())
    {
        if (auto* button = dynamic_cast<juce::TextButton*>(child))
        {
            EXPECT_EQ(button->isRegisteredForShortcut(juce::KeyPress(juce::KeyPress::returnKey)),
                      button->getButtonText() == uiTexts::keepUpdatingCaption)
                << "the default answer keeps updating";
        }
    }
    const auto progressWhenAsked = c.session.deviceCom.getProgress();
    ASSERT_TRUE(w.runUntil([&] { return c.progressValue > progressWhenAsked; }, 20000))
        << "the window and the update go on while it asks";
    ASSERT_TRUE(press(question, uiTexts::keepUpdatingCaption));
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(c.getQuitQuestion(), nullptr);

    question = ask();
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(press(question, uiTexts::closeAnywayCaption));
    EXPECT_EQ(quits, 2);
    // The worker stops after the message under way: the run ends broken off, short of its image.
    ASSERT_TRUE(waitUntil([&] { return !c.session.deviceCom.isThreadRunning(); }));
    EXPECT_EQ(c.session.deviceCom.getRunOutcome(), RunOutcome::brokenOff);
    const auto received = amp.getReceived().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(amp.getReceived().size(), received);
    EXPECT_EQ(amp.getCompletedImages(), 0);

    // Keeping on to the end: a finished run.
    Window kept;
    VirtualAmplifier amp2(kept.midi, "LX40", Mode::boot, 0);
    ASSERT_TRUE(kept.runUntil([&] { return kept.c->session.getState() == UpdaterState::Idle; }));
    kept.c->buttonClicked(&kept.c->updateButton);
    kept.c->requestQuit(quit);
    ASSERT_NE(kept.c->getQuitQuestion(), nullptr);
    ASSERT_TRUE(press(kept.c->getQuitQuestion(), uiTexts::keepUpdatingCaption));
    ASSERT_TRUE(kept.runUntil([&] { return kept.c->session.getState() == UpdaterState::AppMode; }));
    EXPECT_EQ(kept.c->session.deviceCom.getRunOutcome(), RunOutcome::finished);
    EXPECT_EQ(amp2.getCompletedImages(), 1);
    EXPECT_EQ(quits, 2);
}

TEST(MainWindowContent, LaysOutTheWidgetsAroundTheLogo)
{
    Window w;
    auto& c = *w.c;
    EXPECT_EQ(c.getBounds(), juce::Rectangle<int>(0, 0, 600, 400));
    ASSERT_EQ(c.logoImage.getBounds(), juce::Rectangle<int>(0, 0, 148, 20));
    EXPECT_EQ(c.updateButton.getBounds(), juce::Rectangle<int>(500, 316, 80, 24));
    EXPECT_EQ(c.progressBar.getBounds(), juce::Rectangle<int>(20, 316, 480, 24));
    EXPECT_EQ(c.modelSelector.getBounds(), juce::Rectangle<int>(20, 316, 480, 24));
    EXPECT_EQ(c.statusLabel.getBounds(), juce::Rectangle<int>(20, 20, 560, 276));
    EXPECT_EQ(c.voiceSlotInfoView.getBounds(), juce::Rectangle<int>(20, 20, 560, 320));
    EXPECT_EQ(c.bootInfoView.getBounds(), juce::Rectangle<int>(20, 20, 560, 320));
    EXPECT_EQ(c.bootInfoButton.getBounds(), juce::Rectangle<int>(440, 360, 60, 20));
    EXPECT_EQ(c.voiceSlotInfoButton.getBounds(), juce::Rectangle<int>(520, 360, 60, 20));
    EXPECT_EQ(c.versionsButton.getBounds(), juce::Rectangle<int>(360, 360, 20, 20));
    EXPECT_EQ(c.voiceSlotInfoView.textLabel.getBounds(), juce::Rectangle<int>(10, 10, 540, 300));

    // Later children lie in front: the pages cover the label and the progress row, not the page buttons.
    EXPECT_GT(c.getIndexOfChildComponent(&c.bootInfoView), c.getIndexOfChildComponent(&c.updateButton));
    EXPECT_GT(c.getIndexOfChildComponent(&c.modelSelector), c.getIndexOfChildComponent(&c.progressBar));
    EXPECT_FALSE(c.bootInfoView.getBounds().intersects(c.bootInfoButton.getBounds()));

    // Without a logo the progress row moves down by its height.
    c.logoImage = juce::Image();
    c.resized();
    EXPECT_EQ(c.updateButton.getBounds(), juce::Rectangle<int>(500, 336, 80, 24));
    EXPECT_EQ(c.statusLabel.getBounds(), juce::Rectangle<int>(20, 20, 560, 296));
}

TEST(MainWindowContent, StateNamesAreThirteenCharactersWide)
{
    for (int s = 0; s <= 10; ++s)
        EXPECT_EQ(getStateName(static_cast<UpdaterState>(s)).length(), 13) << s;
    EXPECT_EQ(getStateName(UpdaterState::Aborted), "??????????   ");
    EXPECT_EQ(getStateName(UpdaterState::ErasedForRepair), "Erased 4 Rpr.");
}

TEST(MainWindowContent, EveryTextIsShownWholeAndEveryCaptionAtItsNaturalWidth)
{
    Window w;
    auto& c = *w.c;
    const std::vector<std::pair<const char*, juce::String>> statusTexts{
        {"instructions", helpTexts::instructionsText},
        {"broken boot", helpTexts::brokenBootText},
        {"recovery", helpTexts::recoveryText},
        {"nothing sent", uiTexts::notSentStatus}};
    const std::vector<std::pair<const char*, InfoView*>> pages{
        {"versions", &c.versionsView}, {"VS", &c.voiceSlotInfoView}, {"BOOT", &c.bootInfoView}};
    const std::vector<std::pair<CaptionButton*, juce::StringArray>> buttons{
        {&c.bootInfoButton, {"BOOT info >", uiTexts::pageOpen}},
        {&c.voiceSlotInfoButton, {"VS info >", uiTexts::pageOpen}},
        {&c.versionsButton, {uiTexts::versionsPageClosed, uiTexts::versionsPageOpen}},
        {&c.updateButton, {uiTexts::updateCaption, uiTexts::updatingCaption, uiTexts::doneCaption}}};

    for (const float scale : {1.0f, 2.0f})
    {
        SCOPED_TRACE("desktop scale " + std::to_string(scale));
        juce::Desktop::getInstance().setGlobalScaleFactor(scale);
        for (const auto& [name, text] : statusTexts)
        {
            c.statusLabel.setText(text, juce::dontSendNotification);
            EXPECT_TRUE(c.statusLabel.showsWholeText()) << name << " text in the status label";
        }
        for (const auto& [name, page] : pages)
            EXPECT_TRUE(page->textLabel.showsWholeText()) << name << " page";
        for (const auto& [button, captions] : buttons)
            for (const auto& caption : captions)
            {
                button->setButtonText(caption);
                const auto font = button->getCaptionFont();
                EXPECT_LE(font.getStringWidthFloat(caption),
                          static_cast<float>(button->getCaptionWidth(font)))
                    << caption << " would be squeezed";
            }
    }
    juce::Desktop::getInstance().setGlobalScaleFactor(1.0f);
    c.statusLabel.setText(uiTexts::allFine, juce::dontSendNotification);
    EXPECT_EQ(c.statusLabel.getFittedFontHeight(), c.statusLabel.getFont().getHeight())
        << "a text that fits keeps the default font";
}

TEST(UpdaterRoads, TheModelChosenForAGenericBootGoesWithIt)
{
    Window w;
    auto& c = *w.c;
    auto generic = std::make_unique<VirtualAmplifier>(w.midi, "LC20-D_MKII", Mode::genericBoot, 0);
    ASSERT_TRUE(w.runUntil([&] { return c.session.getState() == UpdaterState::BootGeneric; }));
    c.modelSelector.setSelectedId(5, juce::dontSendNotification);
    w.step();
    ASSERT_EQ(c.modelSelector.getText(), "LC20-D MKII");
    ASSERT_EQ(c.session.getState(), UpdaterState::Idle);

    // Between two ticks the generic loader is replaced by an LX40 in its own update mode.
    generic.reset();
    VirtualAmplifier lx40(w.midi, "LX40", Mode::boot, 0);
    ASSERT_TRUE(w.runUntil([&] { return w.barText() == "KW LX40 found and ready for update"; }, 10000))
        << getStateName(c.session.getState()) << " / " << w.barText() << " / " << c.modelSelector.getText();
    EXPECT_FALSE(c.modelSelector.isVisible());
    EXPECT_EQ(c.modelSelector.getSelectedId(), 0) << "the choice went with the loader it was made for";
    EXPECT_TRUE(c.updateButton.isVisible());
}
