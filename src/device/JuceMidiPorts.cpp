#include "device/MidiPorts.h"

#if JUCE_LINUX
#include <unistd.h>
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

class JuceOutputPort final : public MidiOutputPort
{
public:
    explicit JuceOutputPort(std::unique_ptr<juce::MidiOutput> o) : output(std::move(o)) {}
    void sendMessageNow(const juce::MidiMessage& message) override { output->sendMessageNow(message); }

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
};

class JuceInputPort final : public MidiInputPort
{
public:
    explicit JuceInputPort(std::unique_ptr<juce::MidiInput> i) : input(std::move(i)) {}
    void start() override { input->start(); }
    void stop() override { input->stop(); }
    juce::String getName() const override { return amplifierPortName(input->getName()); }

private:
    std::unique_ptr<juce::MidiInput> input;
};

juce::StringArray namesOf(const juce::Array<juce::MidiDeviceInfo>& devices)
{
    juce::StringArray names;
    for (const auto& device : devices)
        names.add(amplifierPortName(device.name));
    return names;
}

class SystemMidiPorts final : public MidiPorts
{
public:
    juce::StringArray getInputNames() override
    {
        return midiSystemAvailable() ? namesOf(juce::MidiInput::getAvailableDevices()) : juce::StringArray();
    }

    juce::StringArray getOutputNames() override
    {
        return midiSystemAvailable() ? namesOf(juce::MidiOutput::getAvailableDevices()) : juce::StringArray();
    }

    std::unique_ptr<MidiOutputPort> openOutput(int index) override
    {
        if (!midiSystemAvailable())
            return {};
        const auto devices = juce::MidiOutput::getAvailableDevices();
        if (!juce::isPositiveAndBelow(index, devices.size()))
            return {};
        auto output = juce::MidiOutput::openDevice(devices[index].identifier);
        return output != nullptr ? std::make_unique<JuceOutputPort>(std::move(output)) : nullptr;
    }

    std::unique_ptr<MidiInputPort> openInput(int index, juce::MidiInputCallback& callback) override
    {
        if (!midiSystemAvailable())
            return {};
        const auto devices = juce::MidiInput::getAvailableDevices();
        if (!juce::isPositiveAndBelow(index, devices.size()))
            return {};
        auto input = juce::MidiInput::openDevice(devices[index].identifier, &callback);
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
