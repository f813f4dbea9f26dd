#include "device/MidiInterfaceClass.h"

#include "device/ExclusiveClaim.h"
#include "device/MakerIds.h"
#include "device/SysEx.h"

#include <algorithm>

namespace
{
constexpr int queryPauseMs = 5;
/** The longest the link waits for a burst of identity queries to end: far more than a burst takes (two sends
    and pauses a record, and a burst ends at its first failed send, itself bounded). */
constexpr int longestQueryWaitMs = 4 * longestSendMs;
/** A scan step queries at most this many records. */
constexpr std::size_t maxQueriedRecords = 255;
/** A port whose name carries this (in any case) belongs to a boot loader. */
constexpr const char* bootNameMark = "BOOT";

/** The ports that may be those of the maker's device with this product ID at `place` (any place when
    empty): where the system ties ports to USB devices, that device's own; where it does not, the ports it
    says nothing about, and names decide. A port whose place the system did not tell may be the device's. */
std::vector<MidiPortInfo> portsOfDevice(const std::vector<MidiPortInfo>& ports, int productId,
                                        const juce::String& place)
{
    std::vector<MidiPortInfo> own, untold;
    for (const auto& port : ports)
    {
        if (!port.owner.known)
            untold.push_back(port);
        else if (port.owner.usb && port.owner.usb->ids.vendorId == maker::usbVendorId &&
                 port.owner.usb->ids.productId == productId &&
                 (place.isEmpty() || port.owner.usb->ids.place.isEmpty() ||
                  port.owner.usb->ids.place == place))
            own.push_back(port);
    }
    return own.empty() ? untold : own;
}

bool isListed(const std::vector<MidiPortInfo>& ports, const MidiPortInfo& port)
{
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}
} // namespace

/** Sends one scan step's identity queries (version, then info, record by record, a pause after each) to
    the output session they were meant for; a query whose session has ended is dropped, not sent elsewhere. */
class MidiInterfaceClass::QueryThread final : public juce::Thread
{
public:
    explicit QueryThread(MidiInterfaceClass& l) : juce::Thread("Identity Query Thread"), link(l)
    {
        idle.signal();
    }
    ~QueryThread() override { stopThread(-1); }

    /** Starts a burst once the previous one has ended; a burst that has not ended in time gets no successor.
     */
    void send(juce::uint32 session, std::vector<juce::uint8> codes)
    {
        if (!waitUntilIdle())
            return;
        {
            const juce::ScopedLock sl(burstLock);
            burstSession = session;
            burstCodes = std::move(codes);
        }
        idle.reset();
        if (!isThreadRunning())
            startThread();
        notify();
    }

    bool waitUntilIdle() { return idle.wait(longestQueryWaitMs); }

    void run() override
    {
        while (!threadShouldExit())
        {
            {
                const juce::ScopedLock sl(burstLock);
                if (burstCodes.empty())
                    idle.signal();
            }
            wait(-1);

            juce::uint32 session = 0;
            std::vector<juce::uint8> codes;
            {
                const juce::ScopedLock sl(burstLock);
                session = burstSession;
                codes = std::exchange(burstCodes, {});
            }
            for (const auto code : codes)
            {
                if (threadShouldExit())
                    break;
                // A failed send ends the burst: the port has gone or does not take messages.
                const auto version = makeQueryVersion(code);
                if (!link.sendSysExOn(session, version.data(), static_cast<int>(version.size())))
                    break;
                juce::Thread::sleep(queryPauseMs);
                const auto info = makeQueryInfo(code);
                if (!link.sendSysExOn(session, info.data(), static_cast<int>(info.size())))
                    break;
                juce::Thread::sleep(queryPauseMs);
            }
        }
        idle.signal();
    }

private:
    MidiInterfaceClass& link;
    juce::CriticalSection burstLock;
    juce::uint32 burstSession = 0;
    std::vector<juce::uint8> burstCodes;
    juce::WaitableEvent idle{true}; // manual reset: set while no burst is under way
};

MidiInterfaceClass::MidiInterfaceClass(MidiPorts& ports, UsbEnumerator usbEnumerator)
    : midiPorts(ports), enumerateUsb(std::move(usbEnumerator)),
      queryThread(std::make_unique<QueryThread>(*this))
{
}

MidiInterfaceClass::~MidiInterfaceClass()
{
    stopTimer();
    queryThread.reset();
    closePorts();
    // knownDevices deletes its records with itself, the last first.
}

bool MidiInterfaceClass::isDeviceIdentified() const
{
    return versionReplied && infoReplied && pairConfirmed;
}

bool MidiInterfaceClass::isGenericBootProductId(int productId) const
{
    const auto* device = findKnownDeviceByBootProductId(knownDevices, productId);
    return device != nullptr && device->isGenericBootLoader();
}

KnownDevice MidiInterfaceClass::getConnectedDevice() const
{
    const KnownDevice* device = nullptr;
    if (isDeviceIdentified())
        device = findKnownDeviceByCode(knownDevices, deviceCode);
    else if (bootDetected)
        device = findKnownDeviceByBootProductId(knownDevices, bootProductId);
    return device != nullptr ? *device : KnownDevice();
}

bool MidiInterfaceClass::sendSysEx(const juce::uint8* data, int size)
{
    if (data == nullptr || size <= 0)
        return false;
    const juce::ScopedLock sl(outputLock);
    if (midiOutput == nullptr)
        return false;
    return midiOutput->send(juce::MidiMessage(data, size, 0.0));
}

juce::uint32 MidiInterfaceClass::getOutputSession() const
{
    const juce::ScopedLock sl(outputLock);
    return outputSession;
}

bool MidiInterfaceClass::sendSysExOn(juce::uint32 session, const juce::uint8* data, int size)
{
    if (data == nullptr || size <= 0 || session == 0)
        return false;
    const juce::ScopedLock sl(outputLock);
    if (midiOutput == nullptr || session != outputSession || !midiOutput->isPresent())
        return false;
    return midiOutput->send(juce::MidiMessage(data, size, 0.0));
}

bool MidiInterfaceClass::waitForIdentityQueries()
{
    return queryThread->waitUntilIdle();
}

bool MidiInterfaceClass::sendTextCommand(const char* text, int length, juce::uint8 code)
{
    if (!waitForIdentityQueries() || text == nullptr || length < 0)
        return false;
    const auto message = makeTextCommand({text, static_cast<std::size_t>(length)}, code);
    if (!message)
        return false;
    return sendSysEx(message->data(), static_cast<int>(message->size()));
}

void MidiInterfaceClass::forgetReplies()
{
    const juce::ScopedLock sl(replyLock);
    versionReplied = false;
    infoReplied = false;
    firmwareVersion = 0;
}

void MidiInterfaceClass::resetConnection()
{
    forgetReplies();
    pairConfirmed = false;
    confirmingPair = false;
    bootDetected = false;
    genericBoot = false;
    bootProductId = 0;
    connectedPlace.clear();
    closePorts();
}

void MidiInterfaceClass::keepToPlace(std::optional<juce::String> place)
{
    keptPlace = std::move(place);
}

std::vector<UsbIds> MidiInterfaceClass::candidateDevices() const
{
    auto devices = getPresentUsbDevices();
    if (keptPlace && keptPlace->isEmpty())
    {
        // Where the system does not tell places, a lone device is the only one that is surely the same.
        if (devices.size() != 1)
            devices.clear();
    }
    else if (keptPlace)
    {
        std::erase_if(devices, [this](const UsbIds& d) { return d.place != *keptPlace; });
    }
    // An amplifier in application mode that another program holds is waiting for that program's
    // confirmation: it is not asked anything here. A boot loader held elsewhere is found and shown as such.
    std::erase_if(devices,
                  [this](const UsbIds& d)
                  {
                      const bool appMode =
                          findKnownDevice(knownDevices, [&d](const KnownDevice& k)
                                          { return k.appProductId == d.productId; }) != nullptr;
                      return appMode && d.place.isNotEmpty() &&
                             d.place != keptPlace.value_or(juce::String()) && amplifierClaim::isHeld(d.place);
                  });
    return devices;
}

juce::String MidiInterfaceClass::placeOfCandidate(int productId) const
{
    for (const auto& device : candidateDevices())
        if (device.productId == productId)
            return device.place;
    return {};
}

void MidiInterfaceClass::timerCallback()
{
    if (isDeviceIdentified() || bootDetected)
        watchConnection();
    else
        discover();
}

void MidiInterfaceClass::watchConnection()
{
    // The boot loader's product ID, or the identified model's application ID (a reply under a code that
    // names no model leaves the one whose ports were scanned). An enumeration that failed tells nothing this
    // tick; it never means the amplifier left.
    const auto identifiedId = getConnectedDevice().appProductId;
    const auto followed = bootDetected        ? bootProductId.load()
                          : identifiedId != 0 ? identifiedId
                                              : followedProductId;
    if (scanUsbDevices(enumerateUsb))
    {
        const auto devices = getPresentUsbDevices();
        const bool stillThere = std::any_of(
            devices.begin(), devices.end(),
            [&](const UsbIds& d)
            { return d.productId == followed && (connectedPlace.isEmpty() || d.place == connectedPlace); });
        if (!stillThere)
        {
            resetConnection();
            return;
        }
    }

    // A port open on the amplifier that is no longer listed as it was (gone, or now of another enumeration
    // of the device) is given up, whatever the number of ports.
    listPorts();
    if ((hasOutput() && !isListed(outputPorts, openOutputInfo)) ||
        (midiInput != nullptr && !isListed(inputPorts, openInputInfo)))
    {
        resetConnection();
        return;
    }

    if (midiInput != nullptr)
    {
        const bool namedBoot = midiInput->getName().containsIgnoreCase(bootNameMark);
        if (bootDetected != namedBoot)
        {
            resetConnection();
            return;
        }
    }

    // A system may list the boot loader's USB identity before its MIDI port: it is looked for until it is
    // there, and the update can go ahead as soon as it is.
    if (bootDetected && !hasOutput())
        openBootOutputPort(bootProductId);
}

void MidiInterfaceClass::discover()
{
    if (!scanUsbDevices(enumerateUsb))
        return;
    listPorts();

    // Only the first record found counts, in table order; of several amplifiers, the first one listed.
    const auto candidates = candidateDevices();
    auto isCandidate = [&candidates](int productId)
    {
        return productId != 0 &&
               std::any_of(candidates.begin(), candidates.end(),
                           [productId](const UsbIds& d) { return d.productId == productId; });
    };
    if (const auto* app =
            findKnownDevice(knownDevices, [&](const KnownDevice& d) { return isCandidate(d.appProductId); }))
    {
        followedProductId = app->appProductId;
        connectedPlace = placeOfCandidate(followedProductId);
        // The last step's queries have long gone out (they take a third of a tick); on a machine so
        // slow that they have not, the ports stay as they are until they have.
        if (!waitForIdentityQueries())
            return;
        if (!confirmPair() && stepPortScan())
            sendIdentityQueries();
        return;
    }

    const auto* boot =
        findKnownDevice(knownDevices, [&](const KnownDevice& d) { return isCandidate(d.bootProductId); });
    const int foundBootId = boot != nullptr ? boot->bootProductId : 0;
    connectedPlace = placeOfCandidate(foundBootId);
    bootProductId = foundBootId;
    bootDetected = foundBootId != 0;
    genericBoot = isGenericBootProductId(foundBootId);

    if (bootDetected)
        openBootOutputPort(foundBootId);
}

void MidiInterfaceClass::handleIncomingMidiMessage(juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto received = readReceivedMessage(message.getRawData(), message.getRawDataSize());
    if (!received)
        return;

    if (findKnownDeviceByCode(knownDevices, received->deviceCode) == nullptr)
        return;

    deviceCode = received->deviceCode;

    if (received->command == sysex::versionReply)
    {
        const auto version = decodeFirmwareVersion(received->packedGroup);
        const juce::ScopedLock sl(replyLock);
        firmwareVersion = version;
        versionReplied = true;
    }
    else if (received->command == sysex::infoReply)
    {
        const juce::ScopedLock sl(replyLock);
        infoReplied = true;
    }
}

void MidiInterfaceClass::listPorts()
{
    inputPorts = midiPorts.listInputs();
    outputPorts = midiPorts.listOutputs();
}

bool MidiInterfaceClass::refreshScanPorts()
{
    auto inputs = portsOfDevice(inputPorts, followedProductId, connectedPlace);
    auto outputs = portsOfDevice(outputPorts, followedProductId, connectedPlace);
    const bool changed = inputs != scanInputs || outputs != scanOutputs;
    scanInputs = std::move(inputs);
    scanOutputs = std::move(outputs);
    numInputPorts = static_cast<int>(scanInputs.size());
    numOutputPorts = static_cast<int>(scanOutputs.size());
    return changed;
}

bool MidiInterfaceClass::confirmPair()
{
    // Replies that came in on this pair may be old ones: a device keeps what it answered while no input of
    // the host listened to it, and hands it over as soon as one opens, whatever output is open then. So a
    // pair that answered is held for one more tick and asked again; only an answer to that identifies its
    // device, and the output that is open is then surely its own (the erase goes there).
    const bool replied = versionReplied && infoReplied;
    if (confirmingPair)
    {
        confirmingPair = false;
        pairConfirmed = replied;
        return replied;
    }
    if (!replied)
        return false;
    forgetReplies();
    confirmingPair = true;
    sendIdentityQueries();
    return true;
}

bool MidiInterfaceClass::stepPortScan()
{
    if (refreshScanPorts())
    {
        inputScanIndex = 0;
        outputScanIndex = 0;
        if (numOutputPorts <= 0 || numInputPorts <= 0)
            return false;
        openInputPort(0);
        openOutputPort(0);
        return true;
    }

    if (numOutputPorts <= 0 || numInputPorts <= 0)
        return false;

    if (++outputScanIndex < numOutputPorts)
    {
        openOutputPort(outputScanIndex);
        return true;
    }

    if (++inputScanIndex >= numInputPorts)
        inputScanIndex = 0;
    openInputPort(inputScanIndex);
    outputScanIndex = 0;
    openOutputPort(0);
    return true;
}

void MidiInterfaceClass::replaceOutput(std::unique_ptr<MidiOutputPort> newOutput, const MidiPortInfo& port)
{
    // The previous port is closed after the new one was opened, and never while a send is under way.
    const juce::ScopedLock sl(outputLock);
    midiOutput = std::move(newOutput);
    outputSession = midiOutput != nullptr ? ++lastOutputSession : 0;
    openOutputInfo = midiOutput != nullptr ? port : MidiPortInfo();
}

bool MidiInterfaceClass::hasOutput() const
{
    const juce::ScopedLock sl(outputLock);
    return midiOutput != nullptr;
}

void MidiInterfaceClass::openOutputPort(int index)
{
    if (index >= numOutputPorts)
        return;
    const auto port = scanOutputs[static_cast<std::size_t>(index)];
    replaceOutput(midiPorts.openOutput(port), port);
}

void MidiInterfaceClass::openInputPort(int index)
{
    if (index >= numInputPorts)
        return;
    const auto port = scanInputs[static_cast<std::size_t>(index)];
    auto newInput = midiPorts.openInput(port, *this);
    auto previous = std::exchange(midiInput, std::move(newInput));
    if (previous != nullptr)
        previous->stop();
    previous.reset();
    openInputInfo = midiInput != nullptr ? port : MidiPortInfo();
    if (midiInput != nullptr)
        midiInput->start();
}

void MidiInterfaceClass::closePorts()
{
    if (midiInput != nullptr)
    {
        midiInput->stop();
        midiInput.reset();
    }
    openInputInfo = {};
    replaceOutput(nullptr, {});
}

void MidiInterfaceClass::sendIdentityQueries()
{
    const auto session = getOutputSession();
    if (session == 0)
        return;
    std::vector<juce::uint8> codes;
    for (const auto* device : knownDevices)
    {
        if (codes.size() == maxQueriedRecords)
            break;
        codes.push_back(device->deviceCode);
    }
    queryThread->send(session, std::move(codes));
}

bool MidiInterfaceClass::openBootOutputPort(int productId)
{
    const auto candidates = portsOfDevice(outputPorts, productId, connectedPlace);
    if (const auto* port = chooseBootPort(candidates, productId))
        replaceOutput(midiPorts.openOutput(*port), *port);
    return hasOutput();
}

const MidiPortInfo* MidiInterfaceClass::chooseBootPort(const std::vector<MidiPortInfo>& candidates,
                                                       int productId) const
{
    auto named = [](const juce::String& name, bool ignoreCase)
    {
        return [name, ignoreCase](const MidiPortInfo& port)
        { return ignoreCase ? port.name.equalsIgnoreCase(name) : port.name == name; };
    };
    auto firstNamed = [&](const juce::String& name, bool ignoreCase) -> const MidiPortInfo*
    {
        const auto found = std::find_if(candidates.begin(), candidates.end(), named(name, ignoreCase));
        return found != candidates.end() ? &*found : nullptr;
    };

    // Every boot port name that the records of this product ID carry, in table order, in any case.
    for (const auto& name : getBootPortNames(knownDevices, productId))
        if (const auto* port = firstNamed(name, true))
            return port;

    // A fallback name says little: a port is taken by it only when no other port carries it too.
    for (const auto& fallback : getFallbackPortNames(knownDevices))
    {
        const auto count =
            std::count_if(candidates.begin(), candidates.end(), named(fallback.name, fallback.ignoreCase));
        if (count == 1)
            return firstNamed(fallback.name, fallback.ignoreCase);
    }

    // A port of the boot loader's own USB device is its port under any name (a system may number a second
    // device of the same name, "2- KW LX40 Boot").
    if (!candidates.empty() && candidates.front().owner.usb)
        return &candidates.front();
    return nullptr;
}
