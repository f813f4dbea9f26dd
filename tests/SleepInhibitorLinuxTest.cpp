#include "engine/DeviceCom.h"
#include "support/LinkHelpers.h"
#include "support/SmallImages.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <thread>

// The real sleep inhibitor against logind mocked on a private system bus (python3-dbusmock), and against a
// system bus without logind.

namespace
{
using Mode = VirtualAmplifier::Mode;

/** A private bus that stands in for the system bus while it lives. */
struct PrivateSystemBus
{
    PrivateSystemBus()
    {
        daemon.start(juce::StringArray{"dbus-daemon", "--session", "--nofork", "--print-address=1"});
        // The address is its first line; the daemon goes on running.
        for (char c = 0; daemon.readProcessOutput(&c, 1) == 1 && c != '\n';)
            address += juce::String::charToString(c);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.toRawUTF8(), 1);
    }
    ~PrivateSystemBus()
    {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        daemon.kill();
    }
    juce::ChildProcess daemon;
    juce::String address;
};

/** The inhibitors the mocked logind holds, as "what who mode" lines; empty when it cannot be asked. */
std::optional<juce::StringArray> listInhibitors()
{
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return std::nullopt;
    sd_bus_message* reply = nullptr;
    std::optional<juce::StringArray> result;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", nullptr, &reply, "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0)
    {
        result.emplace();
        const char *what, *who, *why, *mode;
        uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
            result->add(juce::String(what) + " " + who + " " + mode);
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return result;
}

/** Waits for a condition with a deadline generous enough for a busy machine. */
template <typename Predicate> bool waitFor(Predicate done, int ms = 60000)
{
    for (int t = 0; t < ms && !done(); t += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

struct Rig
{
    explicit Rig(int blocks = 3)
        : deviceCom({.ports = &midi,
                     .enumerateUsb = midi.usbEnumerator(),
                     .fillCatalogue = smallImageCatalogue(blocks)})
    {
    }
    bool start(VirtualAmplifier&)
    {
        for (int i = 0; i < 4; ++i)
            deviceCom.midiInterface.timerCallback();
        return deviceCom.startUpdate("");
    }
    VirtualMidiSystem midi;
    DeviceCom deviceCom;
};
} // namespace

TEST(SleepInhibitor, HeldThroughEachRunAndLetGoAtEveryOutcome)
{
    PrivateSystemBus bus;
    ASSERT_TRUE(bus.address.startsWith("unix:")) << bus.address;

    {
        // A system bus without logind: the run goes on, and the reason is kept for the log.
        Rig rig;
        VirtualAmplifier amp(rig.midi, "LX40", Mode::boot, 0);
        ASSERT_TRUE(rig.start(amp));
        ASSERT_TRUE(waitFor([&] { return !rig.deviceCom.isThreadRunning(); }));
        EXPECT_EQ(rig.deviceCom.getRunOutcome(), RunOutcome::finished);
        EXPECT_TRUE(
            rig.deviceCom.takeSleepHoldFailure().startsWith("logind did not take the inhibitor lock"));
        EXPECT_TRUE(rig.deviceCom.takeSleepHoldFailure().isEmpty()) << "said once";
    }

    juce::ChildProcess logind;
    ASSERT_TRUE(
        logind.start(juce::StringArray{"/usr/bin/python3", "-m", "dbusmock", "--template", "logind"}));
    ASSERT_TRUE(waitFor([] { return listInhibitors().has_value(); })) << "the mocked logind never answered";
    const juce::StringArray none;
    const juce::StringArray ours{"sleep LC/LX Software Updater block"};

    for (const bool breakOff : {false, true})
    {
        SCOPED_TRACE(breakOff ? "broken off" : "finished");
        Rig rig(12); // a run of a few seconds: time enough to see the lock held, however busy the machine
        VirtualAmplifier amp(rig.midi, "LX60", Mode::boot, 0);
        ASSERT_TRUE(rig.start(amp));
        EXPECT_TRUE(waitFor([&] { return listInhibitors() == ours; })) << "taken at the start of the run";
        if (breakOff)
        {
            ASSERT_TRUE(waitFor([&] { return amp.getReceived().size() >= 2; }));
            rig.deviceCom.stopUpdate();
        }
        ASSERT_TRUE(waitFor([&] { return !rig.deviceCom.isThreadRunning(); }));
        EXPECT_EQ(rig.deviceCom.getRunOutcome(), breakOff ? RunOutcome::brokenOff : RunOutcome::finished);
        EXPECT_TRUE(waitFor([&] { return listInhibitors() == none; })) << "let go at the end";
        EXPECT_TRUE(rig.deviceCom.takeSleepHoldFailure().isEmpty());
    }
    logind.kill();
}
