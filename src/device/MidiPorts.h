#pragma once

#include "device/PortOwner.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <vector>

/** A MIDI port as the system lists it. */
struct MidiPortInfo
{
    /** The name under which the amplifier's port is known (see amplifierPortName). */
    juce::String name;
    /** The system's own identifier of the port: what it is opened by. */
    juce::String identifier;
    PortOwnership owner;

    bool operator==(const MidiPortInfo&) const = default;
};

/** The longest a send may take: a message that the device has not taken by then is a failed send. The
    value is the build's (cmake/JuceLibrary.cmake), which the framework's patched Windows send also waits. */
inline constexpr int longestSendMs = LCLX_LONGEST_SEND_MS;

/** An open MIDI output port. */
class MidiOutputPort
{
public:
    virtual ~MidiOutputPort() = default;
    /** Sends at once; false when the device did not take the message within `longestSendMs` (the message
        is then dropped, never left with the system to go out later). */
    virtual bool send(const juce::MidiMessage& message) = 0;
    /** True while the device behind the port is still there. A send into a port whose device has gone is
        swallowed without an error, so a sender that must know asks this first. */
    virtual bool isPresent() = 0;
};

/** An open MIDI input port; it delivers to the callback it was opened with while started. */
class MidiInputPort
{
public:
    virtual ~MidiInputPort() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual juce::String getName() const = 0;
};

/** The MIDI ports of the system: listed with the USB device each belongs to, and opened by the identifier
    of a listing, so that a list that changed in between never opens another port. */
class MidiPorts
{
public:
    virtual ~MidiPorts() = default;
    virtual std::vector<MidiPortInfo> listInputs() = 0;
    virtual std::vector<MidiPortInfo> listOutputs() = 0;
    /** Empty when the port cannot be opened or is no longer there. */
    virtual std::unique_ptr<MidiOutputPort> openOutput(const MidiPortInfo& port) = 0;
    /** Empty when the port cannot be opened or is no longer there. Messages go to `callback`; the source may
        be null. */
    virtual std::unique_ptr<MidiInputPort> openInput(const MidiPortInfo& port,
                                                     juce::MidiInputCallback& callback) = 0;
};

/** The system's MIDI ports through the framework's MidiInput and MidiOutput. */
MidiPorts& getSystemMidiPorts();

/** The name under which the amplifier is known for a port name as the system lists it.
    ALSA (Linux) names the sequencer port of a USB-MIDI device after the device's product string followed by
    " MIDI n", n counting its ports from 1: "KW LX40 Boot MIDI 1" is the port of "KW LX40 Boot". That suffix
    is removed; any other name is kept whole. Elsewhere the name is returned as it is. */
juce::String amplifierPortName(const juce::String& systemName);
