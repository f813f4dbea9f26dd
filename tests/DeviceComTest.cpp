#include "engine/DeviceCom.h"
#include "engine/KnownDeviceTable.h"
#include "firmware/FirmwareImage.h"
#include "support/LinkHelpers.h"
#include "support/SmallImages.h"

#include <thread>

namespace
{
using Mode = VirtualAmplifier::Mode;
constexpr int smallBlocks = 3;

struct Rig
{
    explicit Rig(std::function<void(FirmwareCatalogue&)> catalogue = smallImageCatalogue(smallBlocks))
        : deviceCom({.ports = &midi,
                     .enumerateUsb = midi.usbEnumerator(),
                     .fillCatalogue = std::move(catalogue),
                     .holdOffSleep = sleep.inhibitor()})
    {
    }

    MidiInterfaceClass& link() { return deviceCom.midiInterface; }

    /** Ticks until the link is in boot mode with an output open, past the first watch tick's recount. */
    bool findBootDevice()
    {
        for (int i = 0; i < 4; ++i)
            link().timerCallback();
        return link().bootDetected.load();
    }

    /** Waits for the worker to end (for at most a minute), collecting every distinct progress value seen on
        the way. */
    std::vector<float> followRun()
    {
        std::vector<float> seen;
        const bool ended = waitUntil(
            [&]
            {
                const auto p = deviceCom.getProgress();
                if (seen.empty() || seen.back() != p)
                    seen.push_back(p);
                return !deviceCom.isThreadRunning();
            });
        EXPECT_TRUE(ended) << "the run never ended";
        seen.push_back(deviceCom.getProgress());
        return seen;
    }

    VirtualMidiSystem midi;
    CountingSleepInhibitor sleep;
    DeviceCom deviceCom;
};

/** The messages of an image, as byte vectors, in order. */
std::vector<std::vector<std::uint8_t>> messagesOf(const std::vector<std::uint8_t>& image)
{
    std::vector<std::vector<std::uint8_t>> messages;
    for (std::size_t start = 0; start < image.size();)
    {
        const auto end = static_cast<std::size_t>(
            std::find(image.begin() + static_cast<long>(start), image.end(), 0xF7) - image.begin());
        messages.emplace_back(image.begin() + static_cast<long>(start),
                              image.begin() + static_cast<long>(end) + 1);
        start = end + 1;
    }
    return messages;
}

std::vector<std::vector<std::uint8_t>> bytesReceived(const VirtualAmplifier& amp, Mode mode)
{
    std::vector<std::vector<std::uint8_t>> messages;
    for (const auto& r : amp.getReceived())
        if (r.mode == mode)
            messages.push_back(r.bytes);
    return messages;
}
} // namespace

TEST(FirmwareStream, SendsEveryMessageInOrderWithItsPauseAndTheAmplifierTakesTheNewFirmware)
{
    Rig rig;
    VirtualAmplifier amp(rig.midi, "LX40", Mode::boot, 0);
    EXPECT_EQ(rig.deviceCom.getProgress(), 0.0f) << "before any run";
    ASSERT_TRUE(rig.findBootDevice());

    ASSERT_TRUE(rig.deviceCom.startUpdate("LC20"));
    const auto seen = rig.followRun();

    const auto& image = smallImage("LX40", smallBlocks);
    const auto expected = messagesOf(image);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(smallBlocks + 2));
    EXPECT_EQ(bytesReceived(amp, Mode::boot), expected) << "exactly N + 2 messages, byte-identical, in order";
    EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
    auto firmware = smallImageFirmware("LX40", smallBlocks);
    firmware.resize(smallBlocks * 512, 0xFF);
    EXPECT_EQ(amp.getFirmware(), firmware);
    EXPECT_EQ(amp.getMode(), Mode::application);
    EXPECT_EQ(amp.getFirmwareVersion(), 131);

    // Every value seen is one the worker publishes, in rising order, ending with the run's end mark.
    std::vector<float> allowed{0.0f};
    std::size_t sent = 0;
    for (const auto& m : expected)
        allowed.push_back(static_cast<float>(sent += m.size()) / static_cast<float>(image.size()));
    EXPECT_EQ(allowed.back(), 1.0f);
    allowed.push_back(1.12f);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    for (const auto p : seen)
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), p), allowed.end()) << p;
    EXPECT_EQ(seen.back(), 1.12f);
    EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::finished);
    EXPECT_EQ(rig.sleep.taken.load(), 1) << "sleep is held off for the run";
    EXPECT_EQ(rig.sleep.held.load(), 0) << "and let go at its end";

    // The amplifier comes back in application mode with the new version.
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().isDeviceIdentified(); }));
    EXPECT_EQ(rig.link().firmwareVersion.load(), 131);
}

TEST(FirmwareStream, AGenericBootTakesTheGivenKeyAndAModelBootItsOwn)
{
    {
        Rig rig;
        VirtualAmplifier amp(rig.midi, "LC20-D_MKII", Mode::genericBoot, 0);
        ASSERT_TRUE(rig.findBootDevice());
        EXPECT_FALSE(rig.deviceCom.startUpdate(""));
        EXPECT_FALSE(rig.deviceCom.startUpdate("LC20-D MKII")) << "the display form is no key";
        EXPECT_FALSE(rig.deviceCom.isThreadRunning());
        ASSERT_TRUE(rig.deviceCom.startUpdate("LC20-D_MKII"));
        rig.followRun();
        EXPECT_EQ(bytesReceived(amp, Mode::genericBoot), messagesOf(smallImage("LC20-D_MKII", smallBlocks)));
        EXPECT_EQ(amp.getCompletedImages(), 1);
    }
    {
        Rig rig;
        EXPECT_FALSE(rig.deviceCom.startUpdate("LX40")) << "no boot device";
        VirtualAmplifier amp(rig.midi, "LX60", Mode::boot, 0);
        ASSERT_TRUE(rig.findBootDevice());
        ASSERT_TRUE(rig.deviceCom.startUpdate(""));
        rig.followRun();
        EXPECT_EQ(bytesReceived(amp, Mode::boot), messagesOf(smallImage("LX60", smallBlocks)));
    }
}

TEST(FirmwareStream, ARepairNeedsAGenericBootAndAnImageAndPausesLongerFirst)
{
    // LC20-A carries a 9-byte image here, which no repair may send.
    Rig rig(
        [](FirmwareCatalogue& catalogue)
        {
            smallImageCatalogue(smallBlocks)(catalogue);
            static const std::uint8_t tiny[] = {0xF0, 0x00, 0x21, 0x5A, 0x00, 0x01, 0x51, 0x01, 0xF7};
            catalogue[6]->imageData = tiny;
            catalogue[6]->imageSize = sizeof(tiny);
        });
    {
        VirtualAmplifier modelBoot(rig.midi, "LX20", Mode::boot, 0);
        ASSERT_TRUE(rig.findBootDevice());
        EXPECT_FALSE(rig.deviceCom.startRepair("LX20")) << "a model-specific boot is no repair";
        EXPECT_FALSE(rig.deviceCom.isThreadRunning());
    }
    rig.link().resetConnection();
    VirtualAmplifier amp(rig.midi, "LX20", Mode::genericBoot, 0);
    ASSERT_TRUE(rig.findBootDevice());
    EXPECT_FALSE(rig.deviceCom.startRepair("LC20-A")) << "an image of 100 bytes or less";
    EXPECT_FALSE(rig.deviceCom.startRepair("LX 20"));
    EXPECT_FALSE(rig.deviceCom.isThreadRunning());

    // Only lower bounds on real time: a busy machine makes every pause longer, never shorter.
    auto firstMessageDelay = [&](auto start)
    {
        const auto before = amp.getReceived().size();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(start());
        EXPECT_TRUE(waitUntil([&] { return amp.getReceived().size() > before; }));
        const auto received = amp.getReceived();
        const auto delay =
            received.size() > before ? received[before].time - t0 : std::chrono::nanoseconds(0);
        rig.followRun();
        return delay;
    };
    EXPECT_GE(firstMessageDelay([&] { return rig.deviceCom.startRepair("LX20"); }),
              std::chrono::milliseconds(500));
    EXPECT_EQ(amp.getMode(), Mode::application);

    // Once the amplifier is back in generic boot, an ordinary update pauses only 50 ms.
    amp.restartIn(Mode::genericBoot);
    rig.link().resetConnection();
    ASSERT_TRUE(rig.findBootDevice());
    EXPECT_GE(firstMessageDelay([&] { return rig.deviceCom.startUpdate("LX20"); }),
              std::chrono::milliseconds(50));
}

TEST(FirmwareStream, AnUnpluggedAmplifierBreaksTheRunOffWithoutTouchingAClosedPort)
{
    Rig rig(smallImageCatalogue(8));
    VirtualAmplifier amp(rig.midi, "LC20-B", Mode::boot, 0);
    rig.midi.setSendDuration(std::chrono::microseconds(200));
    ASSERT_TRUE(rig.findBootDevice());
    ASSERT_TRUE(rig.deviceCom.startUpdate(""));

    ASSERT_TRUE(waitUntil([&] { return rig.deviceCom.getProgress() >= 0.3f; }));
    amp.unplug();
    // The message thread sees the ports go and closes the output while the worker may be sending.
    for (int i = 0; i < 5 && rig.deviceCom.isThreadRunning(); ++i)
        rig.link().timerCallback();
    EXPECT_FALSE(rig.link().bootDetected.load());

    const auto seen = rig.followRun();
    EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::brokenOff);
    EXPECT_GT(seen.back(), 0.3f);
    EXPECT_LT(seen.back(), 1.0f) << "a broken-off run keeps what it had sent and never claims the end";
    EXPECT_EQ(rig.sleep.held.load(), 0);
    EXPECT_EQ(amp.getCompletedImages(), 0);
    EXPECT_TRUE(rig.midi.getHostViolations().isEmpty()) << rig.midi.getHostViolations().joinIntoString("\n");
}

// A device that stops taking messages (a driver that never hands a buffer back) costs one bounded send: the
// run is broken off, never hung, and the erase that would follow is not sent.
TEST(FirmwareStream, ASendTheDeviceNeverTakesBreaksTheRunOffAndRefusesTheErase)
{
    Rig rig(smallImageCatalogue(8));
    VirtualAmplifier amp(rig.midi, "LC20-B", Mode::boot, 0);
    ASSERT_TRUE(rig.findBootDevice());
    ASSERT_TRUE(rig.deviceCom.startUpdate(""));
    ASSERT_TRUE(waitUntil([&] { return rig.deviceCom.getProgress() >= 0.3f; }));
    rig.midi.setSendsHang(true);
    const auto received = amp.getReceived().size();

    const auto seen = rig.followRun();
    EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::brokenOff);
    EXPECT_LT(seen.back(), 1.0f);
    EXPECT_LE(amp.getReceived().size(), received + 1) << "nothing more after the send that failed";
    EXPECT_EQ(amp.getCompletedImages(), 0);
    EXPECT_FALSE(rig.deviceCom.eraseDevice(0x7E));
}

TEST(FirmwareStream, ARunStartsAtZeroAndNeverSendsWithoutAnOpenOutput)
{
    Rig rig;
    VirtualAmplifier amp(rig.midi, "LX40", Mode::boot, 0);
    ASSERT_TRUE(rig.findBootDevice());
    ASSERT_TRUE(rig.deviceCom.startUpdate(""));
    EXPECT_FALSE(rig.deviceCom.startUpdate("")) << "a start while a run is going on";
    rig.followRun();
    ASSERT_EQ(rig.deviceCom.getProgress(), 1.12f);

    amp.restartIn(Mode::boot);
    rig.link().resetConnection();
    ASSERT_TRUE(rig.findBootDevice());
    ASSERT_TRUE(rig.deviceCom.startUpdate(""));
    EXPECT_EQ(rig.deviceCom.getProgress(), 0.0f) << "never the last run's end";
    EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::running);
    rig.followRun();
    EXPECT_EQ(amp.getCompletedImages(), 2);

    // A boot device whose port is not found: nothing is sent and nothing claims success.
    Rig portless;
    portless.midi.addOtherPorts({"Keyboard"}, {"Keyboard"});
    portless.midi.addUsbEntry({0x2A5A, 0x0044});
    ASSERT_TRUE(portless.findBootDevice());
    EXPECT_FALSE(portless.deviceCom.startUpdate(""));
    EXPECT_EQ(portless.deviceCom.getRunOutcome(), RunOutcome::refused);
    EXPECT_EQ(portless.deviceCom.getProgress(), 0.0f);
    EXPECT_FALSE(portless.deviceCom.isThreadRunning());
}

TEST(Erase, SendsBothCommandsWithTheDeviceCodeAndResetsTheLink)
{
    Rig rig;
    VirtualAmplifier amp(rig.midi, "LC20", Mode::application, 1000);
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().isDeviceIdentified(); }));
    const auto code = rig.deviceCom.getConnectedDeviceCode();
    EXPECT_EQ(code, 0x6C);
    EXPECT_EQ(rig.deviceCom.getConnectedAppPortName(), "KW LC20");
    EXPECT_EQ(rig.deviceCom.getConnectedDisplayName(), "LC20 MKI");

    // The identity queries of the step that found it go out whole before the erase commands.
    rig.link().waitForIdentityQueries();
    rig.midi.waitForDeliveries();
    const auto heard = amp.getReceived().size();
    EXPECT_EQ(heard % static_cast<std::size_t>(2 * rig.link().knownDevices.size()), 0u)
        << "whole sets of identity queries";
    EXPECT_TRUE(rig.deviceCom.eraseDevice(code));
    const auto received = amp.getReceived();
    ASSERT_EQ(received.size(), heard + 2);
    EXPECT_EQ(received[heard].bytes, *makeTextCommand("erasevs", 0x6C));
    EXPECT_EQ(received[heard + 1].bytes, *makeTextCommand("eraseapp", 0x6C));
    EXPECT_GE(received[heard + 1].time - received[heard].time, std::chrono::milliseconds(50));
    EXPECT_TRUE(amp.werePresetsErased());
    EXPECT_TRUE(amp.wasFirmwareErased());
    EXPECT_FALSE(rig.link().isDeviceIdentified());
    EXPECT_EQ(rig.deviceCom.getConnectedDeviceCode(), 0);

    // It comes back as a generic boot loader.
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().genericBoot.load(); }));
    EXPECT_EQ(rig.link().bootProductId.load(), 0x0022);
}

TEST(Erase, WithNoOutputOpenFailsAfterItsPausesAndStillResetsTheLink)
{
    Rig rig;
    rig.midi.addOtherPorts({"in"}, {});
    rig.midi.addUsbEntry({0x2A5A, 0x0031});
    rig.link().timerCallback();
    ASSERT_TRUE(rig.link().bootDetected.load());

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(rig.deviceCom.eraseDevice(0x7C));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(150));
    EXPECT_FALSE(rig.link().bootDetected.load());
}

TEST(FirmwareStream, ImagesThatBreakTheLayoutAreRefusedWithNothingSent)
{
    const auto& good = smallImage("LX40", 2);
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> image;
    };
    auto withoutFirstEnd = good;
    withoutFirstEnd[8] = 0x00; // the opening message loses its F7; the next F0 comes before any F7
    auto truncated = std::vector<std::uint8_t>(good.begin(), good.end() - 1); // the last F7 is missing
    auto trailing = good;
    trailing.insert(trailing.end(), {0x00, 0x01, 0x02});
    auto noStart = good;
    noStart[0] = 0x00;
    const std::vector<Case> cases{{"missing end byte", withoutFirstEnd},
                                  {"truncated", truncated},
                                  {"trailing bytes", trailing},
                                  {"no F0 at the start", noStart},
                                  {"empty", {}}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        // The image lives in a buffer of exactly its size, so a read past it is caught by the sanitizers.
        const auto buffer = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(c.image.size(), 1));
        std::copy(c.image.begin(), c.image.end(), buffer.get());
        Rig rig(
            [&](FirmwareCatalogue& catalogue)
            {
                fillFirmwareCatalogue(catalogue);
                catalogue[0]->imageData = c.image.empty() ? nullptr : buffer.get();
                catalogue[0]->imageSize = static_cast<juce::uint32>(c.image.size());
            });
        VirtualAmplifier amp(rig.midi, "LX40", Mode::boot, 0);
        ASSERT_TRUE(rig.findBootDevice());
        EXPECT_FALSE(rig.deviceCom.startUpdate(""));
        EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::refused);
        EXPECT_FALSE(rig.deviceCom.isThreadRunning());
        EXPECT_TRUE(bytesReceived(amp, Mode::boot).empty()) << "not even the part before the fault";
    }
}

TEST(FirmwareStream, DestroyingTheEngineStopsARunningUpdateAfterItsCurrentMessage)
{
    VirtualMidiSystem midi;
    VirtualAmplifier amp(midi, "LX60", Mode::boot, 0);
    std::optional<DeviceCom> deviceCom;
    deviceCom.emplace(DeviceComSeams{
        .ports = &midi, .enumerateUsb = midi.usbEnumerator(), .fillCatalogue = smallImageCatalogue(8)});
    for (int i = 0; i < 4; ++i)
        deviceCom->midiInterface.timerCallback();
    ASSERT_TRUE(deviceCom->startUpdate(""));
    const auto& image = smallImage("LX60", 8);
    const auto imageMessages = countImageMessages({image.data(), image.size()}).value_or(0);
    ASSERT_TRUE(waitUntil([&] { return amp.getReceived().size() >= 3; }));
    deviceCom.reset();
    // Bound by what arrived, not by the time the stop took: the run ended well before its image did.
    const auto received = amp.getReceived().size();
    EXPECT_GE(received, 3u);
    EXPECT_LT(received, imageMessages) << "the stop came at the message under way, not at the image's end";
    EXPECT_EQ(amp.getCompletedImages(), 0);
}

namespace
{
std::vector<KnownDevice> everyKnownDevice()
{
    juce::OwnedArray<KnownDevice> devices;
    appendKnownDevices(devices);
    std::vector<KnownDevice> records;
    for (const auto* device : devices)
        records.push_back(*device);
    return records;
}

class EveryKnownDevice : public testing::TestWithParam<KnownDevice>
{
};
} // namespace

// Every row of the table, through the real engine and the virtual amplifier: a row added is a row tested.
TEST_P(EveryKnownDevice, IsFoundIdentifiedUpdatedAndRepairedAsItsRecordSays)
{
    const auto& record = GetParam();
    constexpr int blocks = 1;
    Rig rig(smallImageCatalogue(blocks));
    const auto* first = findKnownDeviceByBootProductId(rig.link().knownDevices, record.bootProductId);

    if (record.isGenericBootLoader())
    {
        // Found by its product ID and a port of its own; the first record of its product ID names it.
        rig.midi.addOtherPorts({}, {record.bootPortName}, UsbIds{0x2A5A, record.bootProductId});
        rig.midi.addUsbEntry({0x2A5A, record.bootProductId});
        ASSERT_TRUE(rig.findBootDevice());
        EXPECT_TRUE(rig.link().genericBoot.load());
        EXPECT_EQ(rig.link().getConnectedDevice().displayName, first->displayName);
        EXPECT_TRUE(rig.link().sendSysEx(makeQueryInfo(0).data(), 8)) << "its port is open";
        return;
    }

    FirmwareCatalogue catalogue;
    fillFirmwareCatalogue(catalogue);
    const auto* entry = findFirmware(catalogue, record.firmwareKey);
    ASSERT_NE(entry, nullptr) << "a model with no image in the catalogue";
    auto firmware = smallImageFirmware(record.firmwareKey, blocks);
    firmware.resize(blocks * 512, 0xFF);

    // In application mode: identified by its replies, under its own record.
    VirtualAmplifier amp(rig.midi, record.firmwareKey, Mode::application, 1);
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().isDeviceIdentified(); }));
    EXPECT_EQ(rig.deviceCom.getConnectedDisplayName(), record.displayName);
    EXPECT_EQ(rig.deviceCom.getConnectedDeviceCode(), record.deviceCode);

    // The repair: erased with its code, back as its generic boot loader, re-programmed with its own image.
    ASSERT_TRUE(rig.deviceCom.eraseDevice(record.deviceCode));
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().genericBoot.load(); }));
    EXPECT_EQ(rig.link().bootProductId.load(), record.genericBootProductId);
    ASSERT_TRUE(rig.deviceCom.startRepair(record.firmwareKey));
    rig.followRun();
    EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::finished);
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().isDeviceIdentified(); }));
    EXPECT_EQ(rig.link().firmwareVersion.load(), entry->versionNumber);

    // In its own update mode: its own image with its own device code, the Update click's way.
    amp.restartIn(Mode::boot);
    ASSERT_TRUE(tickUntil(rig.link(), rig.midi, [&] { return rig.link().bootDetected.load(); }));
    EXPECT_EQ(rig.deviceCom.getConnectedDisplayName(), record.displayName);
    ASSERT_TRUE(rig.deviceCom.startUpdate(""));
    rig.followRun();
    EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::finished);
    EXPECT_EQ(amp.getCompletedImages(), 2);
    EXPECT_EQ(amp.getFirmware(), firmware);
    EXPECT_TRUE(amp.getViolations().isEmpty()) << amp.getViolations().joinIntoString("\n");
}

// A row is shown by its name in the test's listing, never by its bytes (which hold addresses).
void PrintTo(const KnownDevice& row, std::ostream* out)
{
    *out << row.displayName;
}

INSTANTIATE_TEST_SUITE_P(Table, EveryKnownDevice, testing::ValuesIn(everyKnownDevice()),
                         [](const testing::TestParamInfo<KnownDevice>& row)
                         {
                             auto name = row.param.displayName.retainCharacters(
                                 "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
                             return (name + "_" + juce::String(row.index)).toStdString();
                         });
