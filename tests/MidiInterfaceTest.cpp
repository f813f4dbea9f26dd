#include "engine/KnownDeviceTable.h"
#include "support/LinkHelpers.h"

#include <thread>

namespace
{
struct Link
{
    VirtualMidiSystem midi;
    MidiInterfaceClass link{midi, midi.usbEnumerator()};
    /** With `portOwnersKnown` false, as a system that does not tie ports to USB devices: the amplifier's
       ports are then ports of no known device, found by name or by asking. */
    explicit Link(bool portOwnersKnown = true)
    {
        midi.setPortOwnersKnown(portOwnersKnown);
        appendKnownDevices(link.knownDevices);
    }
};

/** The (input, output) pair open after each tick, read from the port log. */
std::vector<std::pair<int, int>> scanPairs(Link& l, int ticks)
{
    std::vector<std::pair<int, int>> pairs;
    int input = -1, output = -1;
    for (int t = 0; t < ticks; ++t)
    {
        l.midi.clearPortLog();
        l.link.timerCallback();
        for (const auto& line : l.midi.getPortLog())
        {
            const auto index = line.fromLastOccurrenceOf(" ", false, false).getIntValue();
            if (line.startsWith("open in "))
                input = index;
            else if (line.startsWith("open out "))
                output = index;
        }
        pairs.emplace_back(input, output);
    }
    return pairs;
}
} // namespace

TEST(PortScan, VisitsEveryPairInOrderAndRestartsWhenThePortCountChanges)
{
    Link l(false);
    l.midi.addOtherPorts({"in 0", "in 1"}, {"out 0", "out 1", "out 2"});
    l.midi.addUsbEntry({0x2A5A, 0x0047}); // an LX60 in application mode that does not answer

    const std::vector<std::pair<int, int>> expected{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {0, 0}};
    EXPECT_EQ(scanPairs(l, 7), expected);

    l.midi.addOtherPorts({}, {"out 3"});
    EXPECT_EQ(scanPairs(l, 2), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}}));

    // A reset alone does not restart the scan: it goes on from where it was, with no input open until the
    // wrap.
    l.link.resetConnection();
    l.midi.clearPortLog();
    l.link.timerCallback();
    EXPECT_EQ(l.midi.getPortLog(), juce::StringArray("open out 2"));
}

TEST(PortScan, WithOneInputEachWrapOpensItAgainBeforeClosingTheOldOne)
{
    Link l(false);
    l.midi.addOtherPorts({"in 0"}, {"out 0", "out 1"});
    l.midi.addUsbEntry({0x2A5A, 0x0045});
    l.link.timerCallback();
    l.link.timerCallback();
    l.midi.clearPortLog();
    l.link.timerCallback(); // the wrap
    const auto log = l.midi.getPortLog();
    EXPECT_EQ(log, juce::StringArray({"open in 0", "close in 0", "open out 0", "close out 1"}));
}

TEST(PortScan, SendsIdentityQueriesForEveryRecordOnlyWithAnOutputOpen)
{
    Link l;
    VirtualAmplifier amp(l.midi, "LX20", VirtualAmplifier::Mode::application, 2282);
    l.midi.addOtherPorts({}, {}); // nothing else
    l.link.timerCallback();
    l.link.waitForIdentityQueries();
    l.midi.waitForDeliveries();
    const auto received = amp.getReceived();
    // The amplifier's port is the first pair, so it hears two queries for every record: version then info,
    // record by record, a pause after each.
    const auto records = l.link.knownDevices.size();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(2 * records));
    for (int i = 0; i < records; ++i)
    {
        const auto code = l.link.knownDevices[i]->deviceCode;
        EXPECT_EQ(received[static_cast<std::size_t>(2 * i)].bytes, makeQueryVersion(code));
        EXPECT_EQ(received[static_cast<std::size_t>(2 * i + 1)].bytes, makeQueryInfo(code));
    }
    EXPECT_GE(received.back().time - received.front().time, std::chrono::milliseconds(5 * (2 * records - 1)));
}

TEST(Identification, FindsAnAmplifierInApplicationModeBehindOtherPorts)
{
    Link l;
    l.midi.addOtherPorts({"Midi Through Port-0"}, {"Midi Through Port-0", "Synth"});
    VirtualAmplifier amp(l.midi, "LX60", VirtualAmplifier::Mode::application, 131);

    ASSERT_TRUE(tickUntil(l.link, l.midi, [&] { return l.link.isDeviceIdentified(); }));
    EXPECT_EQ(l.link.firmwareVersion.load(), 131);
    EXPECT_EQ(l.link.deviceCode.load(), 0x0F);
    EXPECT_FALSE(l.link.bootDetected.load());
    EXPECT_EQ(l.link.getConnectedDevice().displayName, "LX60");

    // Once identified, a tick only watches: no queries, no ports opened.
    const auto heard = amp.getReceived().size();
    l.midi.clearPortLog();
    l.link.timerCallback();
    EXPECT_EQ(amp.getReceived().size(), heard);
    EXPECT_TRUE(l.midi.getPortLog().isEmpty());
    EXPECT_TRUE(l.link.isDeviceIdentified());

    // Unplugged: the port counts change and the link forgets it.
    amp.unplug();
    l.link.timerCallback();
    EXPECT_FALSE(l.link.isDeviceIdentified());
    EXPECT_EQ(l.link.firmwareVersion.load(), 0);
    EXPECT_EQ(l.link.getConnectedDevice().displayName, "");
    EXPECT_EQ(l.link.deviceCode.load(), 0x0F) << "the device code outlives a reset";
}

TEST(Identification, ResetsWhenAnOpenInputsNameDoesNotFitTheMode)
{
    for (const juce::String inputName : {"KW LX40 Boot", "KW LX40"})
    {
        SCOPED_TRACE(inputName.toStdString());
        Link l(false);
        l.midi.addOtherPorts({inputName}, {"out"});
        l.midi.addUsbEntry({0x2A5A, 0x0045});
        l.link.timerCallback();                    // opens the pair (0, 0)
        for (int asking = 0; asking < 2; ++asking) // the pair that answered is asked once more
        {
            l.link.handleIncomingMidiMessage(nullptr, replyMessage(0x0E, 0x04, {0x40, 0x03, 0, 0, 0}));
            l.link.handleIncomingMidiMessage(nullptr, replyMessage(0x0E, 0x06, {0, 0, 0, 0, 0}));
            l.link.timerCallback();
        }
        ASSERT_TRUE(l.link.isDeviceIdentified());

        l.link.timerCallback();
        const bool namedBoot = inputName.containsIgnoreCase("boot");
        EXPECT_EQ(l.link.isDeviceIdentified(), !namedBoot);
    }
}

TEST(Identification, OldRepliesOnAPairThatDoesNotAnswerAgainIdentifyNothing)
{
    // A device hands over the replies it kept while no input listened as soon as one opens, whatever output
    // is open then: here the pair's output leads to no amplifier at all. The erase must never go there.
    Link l(false);
    l.midi.addOtherPorts({"KW LX40"}, {"elsewhere"});
    l.midi.addUsbEntry({0x2A5A, 0x0045});
    l.link.timerCallback(); // opens the pair (0, 0)
    l.link.handleIncomingMidiMessage(nullptr, replyMessage(0x0E, 0x04, {0x40, 0x03, 0, 0, 0}));
    l.link.handleIncomingMidiMessage(nullptr, replyMessage(0x0E, 0x06, {0, 0, 0, 0, 0}));
    for (int tick = 0; tick < 4; ++tick)
    {
        l.link.timerCallback();
        l.link.waitForIdentityQueries();
        EXPECT_FALSE(l.link.isDeviceIdentified()) << "tick " << tick;
    }
    EXPECT_FALSE(l.link.versionReplied.load())
        << "the old replies were forgotten when the pair was asked again";
}

TEST(ReplyRecognition, AcceptsOnlyWholeRepliesOfTheMakerForAKnownDevice)
{
    Link l;
    auto& link = l.link;
    link.deviceCode = 0x55;
    link.pairConfirmed = true; // what a reply is, apart from where it came in

    link.handleIncomingMidiMessage(nullptr, replyMessage(0x33, 0x04, {0x40, 0x03, 0, 0, 0}));
    EXPECT_EQ(link.deviceCode.load(), 0x55) << "an unknown device code changes nothing";
    EXPECT_FALSE(link.versionReplied.load());

    auto otherMaker = makeSysExMessage(0x0E, 0x04, std::vector<std::uint8_t>{0x40, 0x03, 0, 0, 0});
    otherMaker[1] = 0x01;
    link.handleIncomingMidiMessage(nullptr, juce::MidiMessage(otherMaker.data(), 13, 0.0));
    EXPECT_FALSE(link.versionReplied.load());
    EXPECT_EQ(link.deviceCode.load(), 0x55);

    // Shorter than 12 bytes: ignored, never read past its end.
    const auto whole = makeSysExMessage(0x0E, 0x04, std::vector<std::uint8_t>{0x40, 0x03, 0, 0, 0});
    for (int size = 1; size < 12; ++size)
        link.handleIncomingMidiMessage(nullptr, juce::MidiMessage(whole.data(), size, 0.0));
    EXPECT_FALSE(link.versionReplied.load());

    link.handleIncomingMidiMessage(nullptr, replyMessage(0x7D, 0x07, {0, 0, 0, 0, 0}));
    EXPECT_EQ(link.deviceCode.load(), 0x7D) << "another command from a known device records its code";
    EXPECT_FALSE(link.versionReplied.load());
    EXPECT_FALSE(link.infoReplied.load());

    link.handleIncomingMidiMessage(nullptr, replyMessage(0x0E, 0x06, {0, 0, 0, 0, 0}));
    EXPECT_FALSE(link.isDeviceIdentified());
    link.handleIncomingMidiMessage(nullptr, replyMessage(0x0E, 0x04, {0x00, 0x4A, 0x07, 0, 0}));
    EXPECT_TRUE(link.isDeviceIdentified()) << "the version reply completes the pair at once";
    EXPECT_EQ(link.firmwareVersion.load(), 1866);
    EXPECT_EQ(link.getConnectedDevice().displayName, "LX40");
}

TEST(BootPort, IsChosenByNameWithItsFallbacksAndCaseRules)
{
    struct Case
    {
        int productId;
        juce::StringArray outputs;
        juce::String expected; // empty: no port is opened
        bool generic;
    };
    const Case cases[] = {
        {0x0044, {"Synth", "KW LX40 Boot"}, "KW LX40 Boot", false},
        {0x0044, {"kw lx40 BOOT"}, "kw lx40 BOOT", false},
        {0x0044, {"KW LX40 Boot 2", "KW LX40 Boo", "KW LX40"}, "", false},
        {0x0044, {"KW Amp Boot", "USB Audio Device", "KW LX40 Boot"}, "KW LX40 Boot", false},
        {0x4001, {"USB Audio Device"}, "USB Audio Device", true},
        {0x4001, {"usb audio DEVICE"}, "usb audio DEVICE", true},
        {0x4001, {"kw amp boot"}, "kw amp boot", true}, // its own boot port name, found in any case
        {0x0044, {"kw amp boot"}, "", false},           // the generic fallback is case-sensitive
        {0x0044, {"KW Amp Boot"}, "KW Amp Boot", false},
        {0x4001, {"KW Bass Amp Boot", "KW Amp Boot", "USB Audio Device"}, "KW Amp Boot", true},
        {0x0022, {"KW Bass Amp Boot"}, "KW Bass Amp Boot", true},
        {0x0022, {"kw bass amp boot"}, "kw bass amp boot", true}, // the second record's name, any case
        // Every name of the product ID's records comes before a fallback, and a fallback that more than one
        // port carries says nothing.
        {0x0022, {"USB Audio Device", "KW Bass Amp Boot"}, "KW Bass Amp Boot", true},
        {0x4001, {"USB Audio Device", "usb audio device"}, "", true},
        {0x0044, {"KW Amp Boot", "KW Amp Boot", "USB Audio Device"}, "USB Audio Device", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(
            (juce::String::toHexString(c.productId) + " " + c.outputs.joinIntoString(",")).toStdString());
        Link l(false); // names are all there is
        l.midi.addOtherPorts({}, c.outputs);
        l.midi.addUsbEntry({0x2A5A, static_cast<juce::uint16>(c.productId)});
        l.link.timerCallback();
        EXPECT_TRUE(l.link.bootDetected.load());
        EXPECT_EQ(l.link.genericBoot.load(), c.generic);
        EXPECT_EQ(l.link.bootProductId.load(), c.productId);
        const auto opened = openedOutputs(l.midi, c.outputs);
        EXPECT_EQ(opened, c.expected.isEmpty() ? juce::StringArray() : juce::StringArray(c.expected));
        EXPECT_EQ(l.link.sendSysEx(makeQueryInfo(0).data(), 8), c.expected.isNotEmpty());
    }
}

TEST(BootPort, IsTheBootLoadersOwnPortUnderAnyNameAndIsLookedForUntilItIsListed)
{
    // A USB-MIDI interface that calls itself "USB Audio Device", then a broken boot loader whose port is
    // listed after its USB identity, numbered by the system as a second device of its name.
    Link l;
    l.midi.addOtherPorts({"USB Audio Device"}, {"USB Audio Device"}, UsbIds{0x1209, 0x0001});
    l.midi.addUsbEntry({0x2A5A, 0x0022});
    const auto query = makeQueryInfo(0);
    for (int tick = 0; tick < 3; ++tick)
    {
        l.link.timerCallback();
        EXPECT_TRUE(l.link.bootDetected.load());
        EXPECT_FALSE(l.link.sendSysEx(query.data(), 8)) << "no output is open";
    }
    EXPECT_TRUE(l.midi.getPortLog().isEmpty()) << "the stranger is never opened";

    l.midi.addOtherPorts({"2- KW Bass Amp Boot"}, {"2- KW Bass Amp Boot"}, UsbIds{0x2A5A, 0x0022});
    l.link.timerCallback();
    EXPECT_EQ(openedOutputs(l.midi, l.midi.getOutputNames()), juce::StringArray("2- KW Bass Amp Boot"));
    EXPECT_TRUE(l.link.sendSysEx(query.data(), 8));
    EXPECT_EQ(l.midi.getOtherReceivedCount(), 1);
}

TEST(Watch, FollowsTheAmplifierAndNotOtherDevicesOrAFailedEnumeration)
{
    for (const auto mode : {VirtualAmplifier::Mode::application, VirtualAmplifier::Mode::boot})
    {
        const bool boot = mode == VirtualAmplifier::Mode::boot;
        SCOPED_TRACE(boot ? "boot" : "application");
        Link l;
        VirtualAmplifier amp(l.midi, "LX60", mode, 131);
        auto found = [&] { return boot ? l.link.bootDetected.load() : l.link.isDeviceIdentified(); };
        ASSERT_TRUE(tickUntil(l.link, l.midi, found));
        const auto session = l.link.getOutputSession();
        ASSERT_NE(session, 0u);

        // Another USB-MIDI device and a program's virtual port come and go; the USB list cannot be read.
        l.midi.addOtherPorts({"Synth"}, {"Synth"}, UsbIds{0x1209, 0x0001});
        l.link.timerCallback();
        l.midi.addOtherPorts({}, {"Virtual Raw MIDI"});
        l.link.timerCallback();
        l.midi.removeOtherPorts({"Synth", "Virtual Raw MIDI"});
        l.midi.failUsbEnumeration(true);
        for (int tick = 0; tick < 3; ++tick)
            l.link.timerCallback();
        l.midi.failUsbEnumeration(false);
        l.link.timerCallback();
        EXPECT_TRUE(found());
        EXPECT_EQ(l.link.getOutputSession(), session) << "the output was never closed or replaced";

        // The amplifier leaves and is back before the next tick, with as many ports as before: its port is no
        // longer the one that was opened.
        l.midi.reenumerate(amp, std::chrono::milliseconds(0), amp.getPortName(), {0x2A5A, amp.getProductId()},
                           0);
        l.link.timerCallback();
        EXPECT_FALSE(found());
        EXPECT_EQ(l.link.getOutputSession(), 0u);
    }
}

TEST(Watch, ADeviceThatAnswersUnderAGenericCodeIsFollowedByTheProductIdItWasFoundBy)
{
    // Replies under device code 0 name the generic record, which has no application product ID; the link
    // must not take that for the device leaving, tick after tick.
    Link l;
    l.midi.addOtherPorts({"KW LX60"}, {"KW LX60"}, UsbIds{0x2A5A, 0x0047});
    l.midi.addUsbEntry({0x2A5A, 0x0047});
    l.link.timerCallback(); // opens the pair
    for (int asking = 0; asking < 2; ++asking)
    {
        l.link.handleIncomingMidiMessage(nullptr, replyMessage(0x00, 0x04, {0x03, 0x01, 0, 0, 0}));
        l.link.handleIncomingMidiMessage(nullptr, replyMessage(0x00, 0x06, {0, 0, 0, 0, 0}));
        l.link.timerCallback();
    }
    ASSERT_TRUE(l.link.isDeviceIdentified());
    for (int tick = 0; tick < 3; ++tick)
        l.link.timerCallback();
    EXPECT_TRUE(l.link.isDeviceIdentified());
    l.midi.clearUsbEntries();
    l.link.timerCallback();
    EXPECT_FALSE(l.link.isDeviceIdentified()) << "its product ID left";
}

TEST(BootPort, AVirtualAmplifierInBootModeIsFoundWithItsRecord)
{
    for (const auto mode : {VirtualAmplifier::Mode::boot, VirtualAmplifier::Mode::genericBoot})
    {
        Link l;
        l.midi.addOtherPorts({"Midi Through Port-0"}, {"Midi Through Port-0"});
        VirtualAmplifier amp(l.midi, "LC20-C", mode, 0);
        l.link.timerCallback();
        const bool generic = mode == VirtualAmplifier::Mode::genericBoot;
        EXPECT_TRUE(l.link.bootDetected.load());
        EXPECT_EQ(l.link.genericBoot.load(), generic);
        EXPECT_EQ(l.link.getConnectedDevice().displayName, generic ? "LX/LC20" : "LC20-C");
        EXPECT_EQ(openedOutputs(l.midi, l.midi.getOutputNames()), juce::StringArray(amp.getPortName()));

        for (int i = 0; i < 3; ++i)
        {
            l.link.timerCallback();
            EXPECT_TRUE(l.link.bootDetected.load());
        }
        amp.unplug();
        l.link.timerCallback();
        EXPECT_FALSE(l.link.bootDetected.load());
        EXPECT_EQ(l.link.getConnectedDevice().displayName, "");
    }
}

TEST(PortGuard, APortIsNeverClosedWhileASendOnItIsUnderWay)
{
    Link l;
    VirtualAmplifier amp(l.midi, "LX40", VirtualAmplifier::Mode::boot, 0);
    l.midi.setSendDuration(std::chrono::microseconds(300));
    l.link.timerCallback();
    ASSERT_TRUE(l.link.bootDetected.load());

    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread worker(
        [&]
        {
            const auto message = makeQueryInfo(0x0E);
            while (!stop)
                sent += l.link.sendSysEx(message.data(), 8) ? 1 : 0;
        });
    // The message thread closes and reopens the port as fast as it can, as a reset would, until both sides
    // have had their turns many times; a busy machine only takes longer.
    constexpr int enough = 50;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int reopened = 0;
    while ((reopened < enough || sent < enough) && std::chrono::steady_clock::now() < deadline)
    {
        l.link.resetConnection();
        l.link.timerCallback();
        reopened += l.link.bootDetected ? 1 : 0;
    }
    stop = true;
    worker.join();

    EXPECT_GE(reopened, enough);
    EXPECT_GE(sent.load(), enough);
    EXPECT_TRUE(l.midi.getHostViolations().isEmpty()) << l.midi.getHostViolations().joinIntoString("\n");
}

TEST(SystemMidiPorts, BringLinuxPortNamesToTheAmplifiersNames)
{
#if JUCE_LINUX
    EXPECT_EQ(amplifierPortName("KW LX40 Boot MIDI 1"), "KW LX40 Boot");
    EXPECT_EQ(amplifierPortName("USB Audio Device MIDI 2"), "USB Audio Device");
    EXPECT_EQ(amplifierPortName("KW LC20-D MKII MIDI 12"), "KW LC20-D MKII");
    EXPECT_EQ(amplifierPortName("KW LX40 Boot Extra MIDI 1"), "KW LX40 Boot Extra");
#endif
    EXPECT_EQ(amplifierPortName("KW LX40 Boot"), "KW LX40 Boot");
    EXPECT_EQ(amplifierPortName("KW LX40 Boot MIDI"), "KW LX40 Boot MIDI");
    EXPECT_EQ(amplifierPortName("KW LX40 Boot MIDI 1a"), "KW LX40 Boot MIDI 1a");
    EXPECT_EQ(amplifierPortName(" MIDI 1"), " MIDI 1");
}

TEST(SystemMidiPorts, WithoutAMidiSystemThereAreNoPortsAndNoNoise)
{
    if (juce::File("/dev/snd/seq").exists())
        GTEST_SKIP() << "this machine has a MIDI system";

    testing::internal::CaptureStderr();
    auto& ports = getSystemMidiPorts();
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_TRUE(ports.listInputs().empty());
        EXPECT_TRUE(ports.listOutputs().empty());
        EXPECT_EQ(ports.openOutput({"Midi Through Port-0", "14-0", {}}), nullptr);
    }
    MidiInterfaceClass link;
    appendKnownDevices(link.knownDevices);
    link.timerCallback();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
