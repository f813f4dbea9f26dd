#include "cli/BenchCommand.h"
#include "engine/UiTexts.h"
#include "support/LinkHelpers.h"
#include "support/ProgramClock.h"
#include "support/SmallImages.h"

#include <sstream>

using Mode = VirtualAmplifier::Mode;

namespace
{
/** One `lclx-update` session on in-memory ports, driven by a ProgramClock as the program's timers would. */
struct Bench
{
    explicit Bench(const juce::StringArray& arguments, std::function<void(FirmwareCatalogue&)> catalogue = {})
    {
        const auto parsed = parseBenchArguments(arguments);
        const auto* options = std::get_if<BenchOptions>(&parsed);
        EXPECT_NE(options, nullptr) << arguments.joinIntoString(" ");
        session = std::make_unique<BenchSession>(
            options != nullptr ? *options : BenchOptions{},
            DeviceComSeams{.ports = &midi,
                           .enumerateUsb = midi.usbEnumerator(),
                           .fillCatalogue = catalogue ? std::move(catalogue) : smallImageCatalogue(3),
                           .holdOffSleep = sleep.inhibitor()},
            out, err, false);
    }

    void step()
    {
        clock.step(session->session.deviceCom.midiInterface, midi, [this] { session->step(); });
    }

    /** Runs until the session ends (or `interruptAt` holds, once per interruption asked) and returns its exit
        code; -1 if it never ends. */
    int run(std::function<bool()> interruptAt = {}, int interruptions = 1)
    {
        const bool ended = ProgramClock::runUntil(
            [&]
            {
                step();
                if (interruptAt && interruptions > 0 && interruptAt())
                {
                    --interruptions;
                    session->interrupt();
                }
            },
            [this] { return session->getExit().has_value(); }, 200000);
        return ended ? static_cast<int>(*session->getExit()) : -1;
    }

    juce::String said() const { return juce::String(out.str()) + juce::String(err.str()); }

    VirtualMidiSystem midi;
    CountingSleepInhibitor sleep;
    std::ostringstream out, err;
    std::unique_ptr<BenchSession> session;
    ProgramClock clock;
};

constexpr int exitOf(BenchExit code)
{
    return static_cast<int>(code);
}
} // namespace

TEST(BenchCommand, ReadsItsCommandLineAndRefusesWhatItDoesNotKnow)
{
    struct Case
    {
        juce::StringArray arguments;
        bool valid;
    };
    const Case cases[] = {{{"update", "--model", "LX40", "--wait", "600", "--repair", "--json"}, true},
                          {{"list", "--json"}, true},
                          {{"export", "images"}, true},
                          {{"--help"}, true},
                          {{}, false},
                          {{"flash"}, false},
                          {{"list", "--repair"}, false},
                          {{"update", "--wait"}, false},
                          {{"update", "--wait", "-1"}, false},
                          {{"update", "--wait", "99999999999"}, false},
                          {{"update", "--model"}, false},
                          {{"export"}, false},
                          {{"export", "a", "b"}, false}};
    for (const auto& c : cases)
        EXPECT_EQ(std::holds_alternative<BenchOptions>(parseBenchArguments(c.arguments)), c.valid)
            << c.arguments.joinIntoString(" ");
}

TEST(BenchCommand, ListsTheAmplifierInEachModeWithItsVersionAndWhetherAnUpdateIsAvailable)
{
    struct Case
    {
        const char* key;
        Mode mode;
        juce::int32 version;
        const char* line;
    };
    const Case cases[] = {
        {"LX40", Mode::application, 131, "LX40  application  firmware 131  update available: no"},
        {"LX40", Mode::application, 1000, "LX40  application  firmware 1000  update available: yes"},
        {"LX60", Mode::boot, 0, "LX60  update  firmware unknown  update available: yes"},
        {"LC20-D_MKII", Mode::genericBoot, 0,
         "generic boot loader  firmware unknown  update available: yes"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.line);
        Bench bench({"list"});
        VirtualAmplifier amp(bench.midi, c.key, c.mode, c.version);
        EXPECT_EQ(bench.run(), exitOf(BenchExit::confirmed));
        EXPECT_TRUE(bench.said().trim().endsWith(c.line)) << bench.said();
        EXPECT_FALSE(amp.werePresetsErased()) << "listing changes nothing";
    }
    Bench json({"list", "--json"});
    VirtualAmplifier amp(json.midi, "LX40", Mode::application, 1000);
    EXPECT_EQ(json.run(), exitOf(BenchExit::confirmed));
    const auto object = juce::JSON::parse(json.said());
    EXPECT_EQ(object["model"].toString(), "LX40") << json.said();
    EXPECT_EQ(static_cast<int>(object["firmware"]), 1000);
    EXPECT_TRUE(static_cast<bool>(object["updateAvailable"]));

    Bench none({"list"});
    EXPECT_EQ(none.run(), exitOf(BenchExit::noAmplifier));
}

TEST(BenchCommand, UpdatesThroughAModelsOwnAndAGenericBootLoaderAndConfirmsTheVersion)
{
    struct Case
    {
        const char* key;
        Mode mode;
        juce::StringArray arguments;
        BenchExit exit;
    };
    const Case cases[] = {
        {"LX40", Mode::boot, {"update"}, BenchExit::confirmed},
        {"LC20-D_MKII", Mode::genericBoot, {"update", "--model", "lc20-d mkii"}, BenchExit::confirmed},
        {"LC20-D_MKII", Mode::genericBoot, {"update"}, BenchExit::badArguments},
        {"LC20-D_MKII", Mode::genericBoot, {"update", "--model", "LX40"}, BenchExit::badArguments}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.arguments.joinIntoString(" "));
        Bench bench(c.arguments);
        VirtualAmplifier amp(bench.midi, c.key, c.mode, 0);
        EXPECT_EQ(bench.run(), exitOf(c.exit)) << bench.said();
        const bool sent = c.exit == BenchExit::confirmed;
        EXPECT_EQ(amp.getCompletedImages(), sent ? 1 : 0);
        EXPECT_EQ(amp.getReceived().empty(), !sent) << "a refused model is sent nothing";
        if (sent)
        {
            auto firmware = smallImageFirmware(c.key, 3);
            firmware.resize(3 * 512, 0xFF); // the rest of the last block
            EXPECT_EQ(amp.getFirmware(), firmware);
            EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
            EXPECT_TRUE(bench.said().contains("update confirmed")) << bench.said();
            EXPECT_EQ(bench.sleep.taken.load(), 1);
        }
    }
}

TEST(BenchCommand, ExitCodesTellWhatHappenedAndAnEraseNeedsRepair)
{
    {
        Bench bench({"update", "--wait", "1"});
        EXPECT_EQ(bench.run(), exitOf(BenchExit::noAmplifier));
    }
    {
        // A boot loader on USB whose port is not listed: nothing can be sent.
        Bench bench({"update"});
        bench.midi.addUsbEntry({0x2A5A, 0x0044});
        EXPECT_EQ(bench.run(), exitOf(BenchExit::refused)) << bench.said();
    }
    {
        Bench bench({"update"});
        VirtualAmplifier amp(bench.midi, "LX40", Mode::boot, 0);
        amp.unplugAfter(2);
        EXPECT_EQ(bench.run(), exitOf(BenchExit::brokenOff)) << bench.said();
        EXPECT_EQ(amp.getReceived().size(), 2u);
    }
    {
        Bench bench({"update"});
        VirtualAmplifier amp(bench.midi, "LX40", Mode::boot, 0);
        amp.setVersionAfterUpdate(1000);
        EXPECT_EQ(bench.run(), exitOf(BenchExit::notConfirmed)) << bench.said();
    }
    for (const bool repair : {false, true})
    {
        SCOPED_TRACE(repair ? "with --repair" : "without --repair");
        Bench bench(repair ? juce::StringArray{"update", "--repair"} : juce::StringArray{"update"});
        VirtualAmplifier amp(bench.midi, "LX20", Mode::application, 1000);
        EXPECT_EQ(bench.run(), exitOf(repair ? BenchExit::confirmed : BenchExit::refused)) << bench.said();
        EXPECT_EQ(amp.werePresetsErased(), repair);
        EXPECT_EQ(amp.getCompletedImages(), repair ? 1 : 0);
        EXPECT_EQ(bench.said().contains("--repair"), !repair) << bench.said();
    }
    for (const int interruptions : {1, 2})
    {
        // One Ctrl-C during a run only warns; a second stops it after its current message.
        Bench bench({"update"});
        VirtualAmplifier amp(bench.midi, "LX40", Mode::boot, 0);
        const auto code = bench.run([&] { return amp.getReceived().size() >= 2; }, interruptions);
        EXPECT_EQ(code, exitOf(interruptions == 1 ? BenchExit::confirmed : BenchExit::brokenOff))
            << bench.said();
        EXPECT_TRUE(bench.said().contains("without working firmware")) << bench.said();
        EXPECT_EQ(amp.getCompletedImages(), interruptions == 1 ? 1 : 0);
    }
}

TEST(BenchCommand, ExportWritesEveryImageAsThePackerMadeIt)
{
    const auto folder = juce::File::createTempFile("export");
    FirmwareCatalogue catalogue;
    fillFirmwareCatalogue(catalogue);
    ASSERT_GT(catalogue.size(), 0);
    std::ostringstream out, err;
    EXPECT_EQ(exportImages(catalogue, folder, out, err), BenchExit::confirmed) << err.str();
    EXPECT_EQ(exportImages(catalogue, folder.getChildFile("LX40.syx"), out, err), BenchExit::failed)
        << "a file where the folder should be";
    for (const auto* entry : catalogue)
    {
        juce::MemoryBlock written, packed;
        EXPECT_TRUE(folder.getChildFile(entry->firmwareKey + ".syx").loadFileAsData(written))
            << entry->firmwareKey;
        ASSERT_TRUE(juce::File(UPDATER_FIRMWARE_OUTPUT_DIR)
                        .getChildFile(entry->firmwareKey + ".syx")
                        .loadFileAsData(packed));
        EXPECT_TRUE(written == packed) << entry->firmwareKey;
    }
    EXPECT_EQ(folder.findChildFiles(juce::File::findFiles, false).size(), catalogue.size());
    folder.deleteRecursively();
}

TEST(BenchCommand, OfTwoUpdatersOnOneAmplifierOneSendsAndTheOtherSeesItClaimed)
{
    // The window's session and the command line, side by side on the same amplifier, both pressing Update
    // as soon as it is offered.
    struct Window : UpdateSession::Listener
    {
        void claimedElsewhere() override { ++claimsSeen; }
        int claimsSeen = 0;
    };
    Bench bench({"update", "--wait", "20"});
    UpdateSession windowSession{DeviceComSeams{.ports = &bench.midi,
                                               .enumerateUsb = bench.midi.usbEnumerator(),
                                               .fillCatalogue = smallImageCatalogue(3),
                                               .holdOffSleep = bench.sleep.inhibitor()}};
    Window window;
    windowSession.addListener(&window);
    ProgramClock windowClock;
    VirtualAmplifier amp(bench.midi, "LX40", Mode::boot, 0);

    const bool ended = ProgramClock::runUntil(
        [&]
        {
            windowClock.step(windowSession.deviceCom.midiInterface, bench.midi,
                             [&] { windowSession.step(); });
            if (windowSession.getState() == UpdaterState::Idle && windowSession.getView().updateEnabled)
                windowSession.pressUpdate();
            bench.step();
        },
        [&] { return bench.session->getExit().has_value() && !windowSession.holdsClaim(); }, 200000);
    ASSERT_TRUE(ended) << bench.said();

    EXPECT_EQ(amp.getCompletedImages(), 1) << bench.said();
    EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
    const bool benchSent = *bench.session->getExit() == BenchExit::confirmed;
    const bool benchSawClaim = bench.said().contains(uiTexts::claimedElsewhere);
    EXPECT_NE(benchSent, benchSawClaim) << bench.said();
    EXPECT_EQ(window.claimsSeen > 0, benchSent) << "the one that did not send says so";
    windowSession.removeListener(&window);
}
