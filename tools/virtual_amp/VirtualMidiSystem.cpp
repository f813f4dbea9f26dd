#include "VirtualMidiSystem.h"

#include <algorithm>

class VirtualMidiSystem::InputPort final : public MidiInputPort
{
public:
    InputPort(VirtualMidiSystem& s, const Port& p, int i, juce::MidiInputCallback& c)
        : system(s), portId(p.id), name(p.name), index(i), callback(c)
    {
    }

    ~InputPort() override
    {
        const std::lock_guard guard(system.lock);
        std::erase(system.openInputs, this);
        system.portLog.add("close in " + juce::String(index));
    }

    void start() override
    {
        const std::lock_guard guard(system.lock);
        started = true;
    }

    void stop() override
    {
        const std::lock_guard guard(system.lock);
        started = false;
    }

    juce::String getName() const override { return name; }

    VirtualMidiSystem& system;
    const int portId;
    const juce::String name;
    const int index;
    juce::MidiInputCallback& callback;
    bool started = false;
};

class VirtualMidiSystem::OutputPort final : public MidiOutputPort
{
public:
    OutputPort(VirtualMidiSystem& s, int id, int i) : system(s), portId(id), index(i) {}

    ~OutputPort() override
    {
        const std::lock_guard guard(system.lock);
        if (sendsUnderWay.load() > 0)
            system.hostViolations.add("output " + juce::String(index) + " closed while a send was under way");
        std::erase(system.openOutputs, this);
        system.portLog.add("close out " + juce::String(index));
    }

    bool send(const juce::MidiMessage& message) override
    {
        ++sendsUnderWay;
        const std::vector<std::uint8_t> bytes(message.getRawData(),
                                              message.getRawData() + message.getRawDataSize());
        if (system.sendsHang)
        {
            // A device that never takes the message: the send gives up at its bound, and drops it.
            std::this_thread::sleep_for(std::chrono::milliseconds(longestSendMs));
            --sendsUnderWay;
            return false;
        }
        if (system.sendDuration.count() > 0)
            std::this_thread::sleep_for(system.sendDuration);
        {
            const std::lock_guard guard(system.lock);
            // A port whose device has gone swallows what is sent to it. The device is called after the
            // search, since it may leave the bus (and the list) on what it receives.
            Device* device = nullptr;
            for (const auto& port : system.outputs)
                if (port.id == portId)
                    device = port.device;
            for (const auto& port : system.outputs)
                if (port.id == portId && port.device == nullptr)
                    ++system.otherReceived;
            if (device != nullptr)
                device->receiveFromHost(bytes);
        }
        --sendsUnderWay;
        return true;
    }

    bool isPresent() override
    {
        const std::lock_guard guard(system.lock);
        for (const auto& port : system.outputs)
            if (port.id == portId)
                return true;
        return false;
    }

    VirtualMidiSystem& system;
    const int portId;
    const int index;
    std::atomic<int> sendsUnderWay{0};
};

VirtualMidiSystem::VirtualMidiSystem() : deliveryThread([this] { deliveryLoop(); }) {}

VirtualMidiSystem::~VirtualMidiSystem()
{
    {
        const std::lock_guard guard(lock);
        stopping = true;
    }
    toHostChanged.notify_all();
    deliveryThread.join();
}

void VirtualMidiSystem::attach(Device& device, const juce::String& portName, UsbIds usb)
{
    const std::lock_guard guard(lock);
    usb.place = getPlace(device);
    const auto owner = newUsbOwner(usb);
    inputs.push_back({nextPortId++, portName, &device, owner, portLag});
    outputs.push_back({nextPortId++, portName, &device, owner, portLag});
    usbEntries.push_back({&device, usb});
}

void VirtualMidiSystem::setPlace(Device& device, const juce::String& place)
{
    const std::lock_guard guard(lock);
    places[&device] = place;
}

juce::String VirtualMidiSystem::newPlace()
{
    // Claims on a place are machine-wide: the places of every virtual system of every test process differ.
    static const auto processToken = juce::Uuid().toString().substring(0, 12);
    static std::atomic<int> lastPlace{0};
    return "virtual " + processToken + "-" + juce::String(++lastPlace);
}

juce::String VirtualMidiSystem::getPlace(Device& device)
{
    const std::lock_guard guard(lock);
    auto& place = places[&device];
    if (place.isEmpty())
        place = newPlace();
    return place;
}

void VirtualMidiSystem::forget(Device& device)
{
    const std::lock_guard guard(lock);
    places.erase(&device);
}

void VirtualMidiSystem::detach(Device& device)
{
    const std::lock_guard guard(lock);
    auto ofDevice = [&device](const auto& item) { return item.device == &device; };
    std::erase_if(inputs, ofDevice);
    std::erase_if(outputs, ofDevice);
    std::erase_if(usbEntries, ofDevice);
    std::erase_if(pending, ofDevice);
}

void VirtualMidiSystem::reenumerate(Device& device, std::chrono::milliseconds leaveAfter,
                                    const juce::String& portName, UsbIds usb, int absentListings)
{
    const std::lock_guard guard(lock);
    std::erase_if(pending, [&device](const Pending& p) { return p.device == &device; });
    pending.push_back(
        {&device, std::chrono::steady_clock::now() + leaveAfter, false, portName, usb, absentListings});
    if (leaveAfter.count() <= 0)
        noteDepartures();
}

void VirtualMidiSystem::noteDepartures()
{
    const auto now = std::chrono::steady_clock::now();
    for (auto& p : pending)
    {
        if (!p.left && now >= p.leaveAt)
        {
            p.left = true;
            auto ofDevice = [&p](const auto& item) { return item.device == p.device; };
            std::erase_if(inputs, ofDevice);
            std::erase_if(outputs, ofDevice);
            std::erase_if(usbEntries, ofDevice);
        }
    }
}

void VirtualMidiSystem::noteListing()
{
    noteDepartures();
    for (auto it = pending.begin(); it != pending.end();)
    {
        if (!it->left)
        {
            ++it;
        }
        else if (it->listingsLeft <= 0)
        {
            const auto entry = *it;
            it = pending.erase(it);
            attach(*entry.device, entry.portName, entry.usb);
        }
        else
        {
            --it->listingsLeft;
            ++it;
        }
    }
}

void VirtualMidiSystem::sendToHost(Device& device, const std::vector<std::uint8_t>& bytes)
{
    const std::lock_guard guard(lock);
    for (const auto& port : inputs)
        if (port.device == &device)
            toHost.emplace_back(port.id, bytes);
    toHostChanged.notify_all();
}

void VirtualMidiSystem::waitForDeliveries()
{
    std::unique_lock guard(lock);
    toHostChanged.wait(guard, [this] { return toHost.empty() && !delivering; });
}

void VirtualMidiSystem::deliveryLoop()
{
    std::unique_lock guard(lock);
    for (;;)
    {
        toHostChanged.wait(guard, [this] { return stopping || !toHost.empty(); });
        if (stopping)
            return;
        delivering = true;
        const auto [portId, bytes] = toHost.front();
        toHost.pop_front();
        // Delivered under the lock, so that once an input is stopped or closed no callback is under way.
        const juce::MidiMessage message(bytes.data(), static_cast<int>(bytes.size()), 0.0);
        for (auto* input : openInputs)
            if (input->portId == portId && input->started)
                input->callback.handleIncomingMidiMessage(nullptr, message);
        delivering = false;
        toHostChanged.notify_all();
    }
}

UsbPortOwner VirtualMidiSystem::newUsbOwner(UsbIds usb)
{
    return {usb, "virtual USB device " + juce::String(nextUsbDevice++)};
}

void VirtualMidiSystem::addOtherPorts(const juce::StringArray& inputNames,
                                      const juce::StringArray& outputNames, std::optional<UsbIds> usb)
{
    const std::lock_guard guard(lock);
    std::optional<UsbPortOwner> owner;
    if (usb)
    {
        if (usb->place.isEmpty())
            usb->place = newPlace();
        owner = newUsbOwner(*usb);
    }
    for (const auto& name : inputNames)
        inputs.push_back({nextPortId++, name, nullptr, owner});
    for (const auto& name : outputNames)
        outputs.push_back({nextPortId++, name, nullptr, owner});
}

void VirtualMidiSystem::removeOtherPorts(const juce::StringArray& names)
{
    const std::lock_guard guard(lock);
    auto named = [&names](const Port& port) { return port.device == nullptr && names.contains(port.name); };
    std::erase_if(inputs, named);
    std::erase_if(outputs, named);
}

int VirtualMidiSystem::getOtherReceivedCount()
{
    const std::lock_guard guard(lock);
    return otherReceived;
}

void VirtualMidiSystem::setPortLag(int usbListings)
{
    const std::lock_guard guard(lock);
    portLag = usbListings;
}

void VirtualMidiSystem::setPortOwnersKnown(bool known)
{
    const std::lock_guard guard(lock);
    portOwnersKnown = known;
}

void VirtualMidiSystem::addUsbEntry(UsbIds usb)
{
    const std::lock_guard guard(lock);
    usbEntries.push_back({nullptr, usb});
}

void VirtualMidiSystem::clearUsbEntries()
{
    const std::lock_guard guard(lock);
    std::erase_if(usbEntries, [](const UsbEntry& entry) { return entry.device == nullptr; });
}

void VirtualMidiSystem::failUsbEnumeration(bool fail)
{
    const std::lock_guard guard(lock);
    usbEnumerationFails = fail;
}

std::optional<std::vector<UsbIds>> VirtualMidiSystem::enumerateUsb()
{
    const std::lock_guard guard(lock);
    noteListing();
    if (usbEnumerationFails)
        return std::nullopt;
    for (auto* ports : {&inputs, &outputs})
        for (auto& port : *ports)
            --port.hiddenForUsbListings;
    std::vector<UsbIds> result;
    for (const auto& entry : usbEntries)
        result.push_back(entry.ids);
    return result;
}

juce::StringArray VirtualMidiSystem::getPortLog()
{
    const std::lock_guard guard(lock);
    return portLog;
}

void VirtualMidiSystem::clearPortLog()
{
    const std::lock_guard guard(lock);
    portLog.clear();
}

juce::StringArray VirtualMidiSystem::getHostViolations()
{
    const std::lock_guard guard(lock);
    return hostViolations;
}

std::vector<MidiPortInfo> VirtualMidiSystem::listPorts(const std::vector<Port>& ports)
{
    const std::lock_guard guard(lock);
    noteListing();
    std::vector<MidiPortInfo> listed;
    for (const auto& port : ports)
    {
        if (!isListed(port))
            continue;
        PortOwnership owner;
        if (portOwnersKnown)
            owner = {.known = true, .usb = port.usb};
        listed.push_back({port.name, juce::String(port.id), owner});
    }
    return listed;
}

std::vector<MidiPortInfo> VirtualMidiSystem::listInputs()
{
    return listPorts(inputs);
}

std::vector<MidiPortInfo> VirtualMidiSystem::listOutputs()
{
    return listPorts(outputs);
}

juce::StringArray VirtualMidiSystem::getInputNames()
{
    juce::StringArray names;
    for (const auto& port : listInputs())
        names.add(port.name);
    return names;
}

juce::StringArray VirtualMidiSystem::getOutputNames()
{
    juce::StringArray names;
    for (const auto& port : listOutputs())
        names.add(port.name);
    return names;
}

const VirtualMidiSystem::Port* VirtualMidiSystem::find(const std::vector<Port>& ports,
                                                       const MidiPortInfo& port, int& listedIndex)
{
    listedIndex = 0;
    for (const auto& candidate : ports)
    {
        if (!isListed(candidate))
            continue;
        if (juce::String(candidate.id) == port.identifier)
            return &candidate;
        ++listedIndex;
    }
    return nullptr;
}

std::unique_ptr<MidiOutputPort> VirtualMidiSystem::openOutput(const MidiPortInfo& port)
{
    const std::lock_guard guard(lock);
    int index = 0;
    const auto* found = find(outputs, port, index);
    if (found == nullptr)
        return {};
    auto opened = std::make_unique<OutputPort>(*this, found->id, index);
    openOutputs.push_back(opened.get());
    portLog.add("open out " + juce::String(index));
    return opened;
}

std::unique_ptr<MidiInputPort> VirtualMidiSystem::openInput(const MidiPortInfo& port,
                                                            juce::MidiInputCallback& callback)
{
    const std::lock_guard guard(lock);
    int index = 0;
    const auto* found = find(inputs, port, index);
    if (found == nullptr)
        return {};
    auto opened = std::make_unique<InputPort>(*this, *found, index, callback);
    openInputs.push_back(opened.get());
    portLog.add("open in " + juce::String(index));
    return opened;
}
