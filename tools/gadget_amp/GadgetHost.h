#pragma once

#include "AmplifierHost.h"
#include "AmplifierRecord.h"
#include "SysExCollector.h"

#include <alsa/asoundlib.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

/** A USB gadget with one MIDI function (configfs, on a UDC such as dummy_hcd's), shown and hidden as the
    amplifier on it asks, with the gadget's own raw MIDI device for what the host sends and what the amplifier
    answers. Every change of the hardware (binding, unbinding, opening the raw MIDI device) is done on its one
    loop thread, in order, so a device that unplugs itself on a message it receives stops receiving at once.
 */
class GadgetHost final : public AmplifierHost
{
public:
    GadgetHost(std::string udcName, AmplifierRecord& record);
    ~GadgetHost() override;

    /** Lays out the gadget in configfs; false, with the reason on stderr, where it cannot. */
    bool create();
    /** Starts the loop thread that serves `device` (the amplifier, a VirtualAmplifier). */
    void start(AmplifierHost::Device& device);
    /** Stops the loop thread and unbinds the gadget. */
    void stop();
    /** A device that takes its time to restart: off the bus at least this long whenever it re-enumerates. */
    void setRestartAbsence(std::chrono::milliseconds absence);

    std::recursive_mutex& worldLock() override { return lock; }
    void attach(Device&, const juce::String& portName, UsbIds usb) override;
    void detach(Device&) override;
    void reenumerate(Device&, std::chrono::milliseconds leaveAfter, const juce::String& portName, UsbIds usb,
                     int absentListings) override;
    void sendToHost(Device&, const std::vector<std::uint8_t>& bytes) override;

private:
    using Clock = SysExCollector::Clock;

    std::chrono::milliseconds restartAbsence{0};

    struct Action
    {
        enum Kind
        {
            attach,
            detach
        };
        Clock::time_point due;
        Kind kind;
        std::string portName;
        UsbIds usb;
    };

    void run();
    void perform(const Action& action);
    bool bindTo(const std::string& name);
    void openRawMidi();
    void closeRawMidi();
    void readInput();
    void take(std::uint8_t byte, Clock::time_point time);

    const std::string udc;
    const std::filesystem::path gadgetDir;
    const std::string cardId;
    AmplifierRecord& record;
    std::recursive_mutex lock;
    std::deque<Action> actions;
    bool acceptInput = false;
    std::atomic<bool> stopping{false};
    std::thread loop;
    AmplifierHost::Device* device = nullptr;

    snd_rawmidi_t* input = nullptr;
    snd_rawmidi_t* output = nullptr;
    bool kernelTimes = false;
    SysExCollector collector;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(GadgetHost)
};
