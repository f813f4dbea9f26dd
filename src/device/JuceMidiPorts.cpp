#include "device/MidiPorts.h"

#if JUCE_LINUX
#include <unistd.h>
#endif

#if JUCE_WINDOWS
namespace juce
{
/** The patched framework's (cmake/juce-patches/juce_audio_devices): whether this thread's last long send
    failed, refused by the system or not handed back by the driver in time. */
bool didLastSysExSendFail() noexcept;
} // namespace juce
#endif

namespace
{
#if JUCE_LINUX
/** Without an ALSA sequencer (no sound hardware) every attempt to list ports would print ALSA's error to the
    terminal, three times a second; then there are simply no ports. */
bool midiSystemAvailable()
{
    return ::access("/dev/snd/seq", R_OK | W_OK) == 0;
}
#else
bool midiSystemAvailable()
{
    return true;
}
#endif

/** An open output of the system's MIDI layer, closed with it. */
class JuceOutputPort final : public MidiOutputPort
{
public:
    explicit JuceOutputPort(std::unique_ptr<juce::MidiOutput> o) : output(std::move(o)) {}
    bool send(const juce::MidiMessage& message) override
    {
        output->sendMessageNow(message);
#if JUCE_WINDOWS
        // A system-exclusive send waits for the driver to hand the buffer back; the framework's wait is
        // bounded to longestSendMs, after which the output is reset and the message dropped.
        const bool longSend = message.getRawDataSize() > 3 || message.isSysEx();
        return !longSend || !juce::didLastSysExSendFail();
#else
        // The sequencer takes the message into the kernel's queue at once.
        return true;
#endif
    }

    bool isPresent() override
    {
        // A device that re-enumerates comes back under a new identifier, so the old port counts as gone.
        for (const auto& device : juce::MidiOutput::getAvailableDevices())
            if (device.identifier == output->getIdentifier())
                return true;
        return false;
    }

private:
    std::unique_ptr<juce::MidiOutput> output;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(JuceOutputPort)
};

/** An open input of the system's MIDI layer, closed with it. */
class JuceInputPort final : public MidiInputPort
{
public:
    explicit JuceInputPort(std::unique_ptr<juce::MidiInput> i) : input(std::move(i)) {}
    void start() override { input->start(); }
    void stop() override { input->stop(); }
    juce::String getName() const override { return amplifierPortName(input->getName()); }

private:
    std::unique_ptr<juce::MidiInput> input;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(JuceInputPort)
};

std::vector<MidiPortInfo> describe(const juce::Array<juce::MidiDeviceInfo>& devices)
{
    std::vector<MidiPortInfo> ports;
    for (const auto& device : devices)
        ports.push_back(
            {amplifierPortName(device.name), device.identifier, findPortOwner(device.identifier)});
    return ports;
}

class SystemMidiPorts final : public MidiPorts
{
public:
    std::vector<MidiPortInfo> listInputs() override
    {
        return midiSystemAvailable() ? describe(juce::MidiInput::getAvailableDevices())
                                     : std::vector<MidiPortInfo>();
    }

    std::vector<MidiPortInfo> listOutputs() override
    {
        return midiSystemAvailable() ? describe(juce::MidiOutput::getAvailableDevices())
                                     : std::vector<MidiPortInfo>();
    }

    std::unique_ptr<MidiOutputPort> openOutput(const MidiPortInfo& port) override
    {
        if (!midiSystemAvailable() || port.identifier.isEmpty())
            return {};
        auto output = juce::MidiOutput::openDevice(port.identifier);
        return output != nullptr ? std::make_unique<JuceOutputPort>(std::move(output)) : nullptr;
    }

    std::unique_ptr<MidiInputPort> openInput(const MidiPortInfo& port,
                                             juce::MidiInputCallback& callback) override
    {
        if (!midiSystemAvailable() || port.identifier.isEmpty())
            return {};
        auto input = juce::MidiInput::openDevice(port.identifier, &callback);
        return input != nullptr ? std::make_unique<JuceInputPort>(std::move(input)) : nullptr;
    }
};
} // namespace

MidiPorts& getSystemMidiPorts()
{
    static SystemMidiPorts ports;
    return ports;
}

juce::String amplifierPortName(const juce::String& systemName)
{
#if JUCE_LINUX
    const auto suffixStart = systemName.lastIndexOf(" MIDI ");
    if (suffixStart > 0)
    {
        const auto number = systemName.substring(suffixStart + 6);
        if (number.isNotEmpty() && number.containsOnly("0123456789"))
            return systemName.substring(0, suffixStart);
    }
#endif
    return systemName;
}
