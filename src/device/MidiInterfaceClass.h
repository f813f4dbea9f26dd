#pragma once

#include "device/KnownDevice.h"
#include "device/MidiPorts.h"
#include "device/UsbProbe.h"

#include <atomic>

/** The updater's link to the amplifier: finds it on USB and MIDI every 300 ms, identifies it, records what it
    found for the user interface, receives its replies and sends what the update engine asks for. */
class MidiInterfaceClass : public juce::MidiInputCallback, public juce::Timer
{
public:
    explicit MidiInterfaceClass(MidiPorts& ports = getSystemMidiPorts(),
                                UsbEnumerator usbEnumerator = enumeratePlatformUsbDevices);
    ~MidiInterfaceClass() override;

    /** Both identity replies have been accepted since the last reset, and again after the port pair they came
        in on was asked once more. */
    bool isDeviceIdentified() const;
    /** A copy of the record of the device found; an empty record when none. */
    KnownDevice getConnectedDevice() const;
    /** Sends one message at once; false, sending nothing, when no output is open. Safe from any thread. */
    bool sendSysEx(const juce::uint8* data, int size);
    /** Names the output that is open now, for a sender that must keep to it; 0 when none is open. Every
        opening, closing or replacement of the output ends the session it had. */
    juce::uint32 getOutputSession() const;
    /** Sends one message only while the output of `session` is still the open one and its device is still
        there; false, sending nothing, otherwise. Safe from any thread. */
    bool sendSysExOn(juce::uint32 session, const juce::uint8* data, int size);
    /** Waits, for a bounded time, until the identity queries of the last scan step have all gone out (or
        been dropped); false if they have not. */
    bool waitForIdentityQueries();
    /** Sends a text command of `length` bytes (at most 256) for a device code; false when not sent. It
        goes out after any identity queries still under way, never between them. */
    bool sendTextCommand(const char* text, int length, juce::uint8 deviceCode);
    /** Forgets the device and closes both ports. */
    void resetConnection();
    /** From now on takes only the amplifier plugged in at `place` (an update belongs to it until it ends);
        an empty place is one the system did not tell, and then only a lone device of the maker is taken.
        Without a place, the first amplifier found is taken, as before any update. Message thread. */
    void keepToPlace(std::optional<juce::String> place);
    /** Where the device found is plugged in; empty when none is found or the system does not say. */
    juce::String getConnectedPlace() const { return connectedPlace; }

    void timerCallback() override;
    void handleIncomingMidiMessage(juce::MidiInput* source, const juce::MidiMessage& message) override;

    /** How many output and input ports the scan walks: those of the amplifier's USB device. */
    std::atomic<int> numOutputPorts{0};
    std::atomic<int> numInputPorts{0};
    std::atomic<juce::uint8> deviceCode{0};
    std::atomic<int> bootProductId{0};
    std::atomic<bool> bootDetected{false};
    std::atomic<bool> genericBoot{false};
    int outputScanIndex = 0;
    int inputScanIndex = 0;
    std::atomic<juce::int32> firmwareVersion{0};
    std::atomic<bool> versionReplied{false};
    std::atomic<bool> infoReplied{false};
    /** The open port pair answered a second asking: the replies are its device's own. */
    std::atomic<bool> pairConfirmed{false};
    juce::CriticalSection replyLock;
    juce::OwnedArray<KnownDevice> knownDevices;

    /** Discovery runs every this many milliseconds. */
    static constexpr int discoveryIntervalMs = 300;

private:
    /** Follows a device found: it is given up when its USB identity leaves or a port open on it is no longer
        listed as it was; other devices and ports coming and going change nothing. */
    void watchConnection();
    void discover();
    /** Lists the system's ports with the USB device each belongs to. */
    void listPorts();
    /** Takes the ports of the amplifier being scanned from the listing; true when they changed. */
    bool refreshScanPorts();
    /** Holds a port pair that answered and asks it once more; true while the pair is held. */
    bool confirmPair();
    void forgetReplies();
    bool stepPortScan();
    void openOutputPort(int index);
    void openInputPort(int index);
    void closePorts();
    /** Hands the identity queries for every record to the query thread and returns at once. */
    void sendIdentityQueries();
    /** Opens the output of the boot loader with this product ID; true when an output is open. */
    bool openBootOutputPort(int productId);
    /** The port of a boot loader among the ports that may be its own; null when none can be told. */
    const MidiPortInfo* chooseBootPort(const std::vector<MidiPortInfo>& candidates, int productId) const;
    void replaceOutput(std::unique_ptr<MidiOutputPort> newOutput, const MidiPortInfo& port);
    bool hasOutput() const;
    /** True for a boot product ID that names no model (a generic boot loader). */
    bool isGenericBootProductId(int productId) const;
    /** The maker's devices of the last scan that the link may take: those at the place it keeps to, and no
        amplifier in application mode that another program is updating. */
    std::vector<UsbIds> candidateDevices() const;
    /** The place of the first candidate with this product ID; empty when none or the system did not say. */
    juce::String placeOfCandidate(int productId) const;

    MidiPorts& midiPorts;
    UsbEnumerator enumerateUsb;
    // The message thread's view of the ports: the last listing, the ports the scan walks, and the ports open.
    std::vector<MidiPortInfo> inputPorts, outputPorts;
    std::vector<MidiPortInfo> scanInputs, scanOutputs;
    MidiPortInfo openInputInfo, openOutputInfo;
    /** The application-mode product ID whose ports are scanned. */
    int followedProductId = 0;
    std::optional<juce::String> keptPlace;
    juce::String connectedPlace;
    std::unique_ptr<MidiInputPort> midiInput;
    // The worker thread sends while the message thread may close or replace the output: outputLock is held
    // for every send and every change of midiOutput, so a port is never closed under a running send.
    std::unique_ptr<MidiOutputPort> midiOutput;
    juce::uint32 outputSession = 0;
    bool confirmingPair = false;
    juce::uint32 lastOutputSession = 0;
    juce::CriticalSection outputLock;

    // The queries with their pauses take about 110 ms: sent on the message thread, they would stall the
    // window each tick. They go out on their own thread, bound to the output session they were meant for.
    class QueryThread;
    std::unique_ptr<QueryThread> queryThread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MidiInterfaceClass)
};
