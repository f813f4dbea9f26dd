#pragma once

#include "AmplifierHost.h"
#include "device/MidiPorts.h"
#include "device/UsbProbe.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

/** In-memory MIDI ports and USB device list for tests: virtual devices attach here, and the updater sees
    their ports and USB entries through the same seams as the real system's. Everything in it, and in the
    devices attached to it, is guarded by one recursive lock, `worldLock()`. */
class VirtualMidiSystem : public MidiPorts, public AmplifierHost
{
public:
    VirtualMidiSystem();
    ~VirtualMidiSystem() override;

    std::recursive_mutex& worldLock() override { return lock; }

    /** A device keeps the place it was first attached at (a new one for each device, never the same twice on
        this machine) through every re-enumeration, until setPlace moves its cable. */
    void attach(Device& device, const juce::String& portName, UsbIds usb) override;
    /** Moves a device's cable to another port: from its next attachment on, it shows up there. */
    void setPlace(Device& device, const juce::String& place);
    juce::String getPlace(Device& device);
    void forget(Device& device) override;
    void detach(Device& device) override;
    /** The device leaves at the host's first look at the ports or USB devices after `leaveAfter`; a "look"
        is one listing of the ports or the USB devices. */
    void reenumerate(Device& device, std::chrono::milliseconds leaveAfter, const juce::String& portName,
                     UsbIds usb, int absentListings) override;
    /** Queues a message from a device to the host; it arrives on the delivery thread, like a MIDI input's. */
    void sendToHost(Device& device, const std::vector<std::uint8_t>& bytes) override;
    /** Waits until every queued message to the host has been delivered or dropped. */
    void waitForDeliveries();

    /** Ports of devices that are not amplifiers, of a USB device with `usb` or of none; what is sent to them
        is recorded (otherReceived) and goes no further. */
    void addOtherPorts(const juce::StringArray& inputNames, const juce::StringArray& outputNames,
                       std::optional<UsbIds> usb = std::nullopt);
    /** Removes the ports of other devices that carry these names. */
    void removeOtherPorts(const juce::StringArray& names);
    /** How many messages went to ports of other devices. */
    int getOtherReceivedCount();
    /** A device attached from now on shows its ports only after the host has listed the USB devices this
        many times with its USB entry there, as a system that binds the MIDI driver after the device. */
    void setPortLag(int usbListings);
    /** As a system that does not tell which USB device a port belongs to: names are all the host has. */
    void setPortOwnersKnown(bool known);
    /** A USB entry without ports, as of a device whose MIDI ports have not appeared. */
    void addUsbEntry(UsbIds usb);
    void clearUsbEntries();

    /** The USB devices present; empty (a failed enumeration) while failUsbEnumeration holds. */
    std::optional<std::vector<UsbIds>> enumerateUsb();
    /** Makes every USB enumeration fail, as when the system's device list cannot be read. */
    void failUsbEnumeration(bool fail);
    UsbEnumerator usbEnumerator()
    {
        return [this] { return enumerateUsb(); };
    }

    /** Every port the host opened and closed, in order: "open in 0", "close out 2" and so on. */
    juce::StringArray getPortLog();
    void clearPortLog();
    /** Problems seen on the host side, such as a port closed while a send on it was under way. */
    juce::StringArray getHostViolations();
    /** How long a send holds a port outside the world lock, to make a race with a close likely. */
    void setSendDuration(std::chrono::microseconds duration) { sendDuration = duration; }
    /** While set, every send waits its bound and fails, as to a device that never takes a message. */
    void setSendsHang(bool hang) { sendsHang = hang; }

    /** The names of the ports, as a listing gives them. */
    juce::StringArray getInputNames();
    juce::StringArray getOutputNames();

    std::vector<MidiPortInfo> listInputs() override;
    std::vector<MidiPortInfo> listOutputs() override;
    std::unique_ptr<MidiOutputPort> openOutput(const MidiPortInfo& port) override;
    std::unique_ptr<MidiInputPort> openInput(const MidiPortInfo& port,
                                             juce::MidiInputCallback& callback) override;

private:
    struct Port
    {
        int id;
        juce::String name;
        Device* device;
        std::optional<UsbPortOwner> usb;
        /** Not listed until the host has listed the USB devices this many more times. */
        int hiddenForUsbListings = 0;
    };
    struct UsbEntry
    {
        Device* device;
        UsbIds ids;
    };
    struct Pending
    {
        Device* device;
        std::chrono::steady_clock::time_point leaveAt;
        bool left;
        juce::String portName;
        UsbIds usb;
        int listingsLeft;
    };
    class InputPort;
    class OutputPort;

    /** The names of a port list, after noting that the host looked. */
    std::vector<MidiPortInfo> listPorts(const std::vector<Port>& ports);
    static juce::String newPlace();
    /** A USB device as one enumeration of it: each attachment is another. */
    UsbPortOwner newUsbOwner(UsbIds usb);
    /** The listed port with this identifier, and its index in the listing; null when it is not listed. */
    static const Port* find(const std::vector<Port>& ports, const MidiPortInfo& port, int& listedIndex);
    static bool isListed(const Port& port) { return port.hiddenForUsbListings <= 0; }
    void noteListing();
    void noteDepartures();
    void deliveryLoop();

    std::recursive_mutex lock;
    int nextPortId = 1;
    int nextUsbDevice = 1;
    std::map<Device*, juce::String> places;
    bool portOwnersKnown = true;
    bool usbEnumerationFails = false;
    int otherReceived = 0;
    int portLag = 0;
    std::vector<Port> inputs;  // ports the host reads: device to host
    std::vector<Port> outputs; // ports the host writes: host to device
    std::vector<UsbEntry> usbEntries;
    std::vector<Pending> pending;
    std::vector<InputPort*> openInputs;
    std::vector<OutputPort*> openOutputs;
    juce::StringArray portLog, hostViolations;
    std::chrono::microseconds sendDuration{0};
    std::atomic<bool> sendsHang{false};

    std::deque<std::pair<int, std::vector<std::uint8_t>>> toHost;
    std::condition_variable_any toHostChanged;
    bool delivering = false;
    bool stopping = false;
    std::thread deliveryThread;
};
