#include "VirtualAmplifier.h"

#include "device/MakerIds.h"
#include "engine/FirmwareCatalogue.h"
#include "engine/KnownDeviceTable.h"

// The protocol as the amplifier sees it, written out here on purpose rather than taken from the updater's
// own code, so that a mistake on one side shows up on the other.
namespace
{
// The maker's identities are the program's own; the message layouts below are written out independently.
constexpr auto makerId = maker::sysExManufacturerId;
constexpr std::uint8_t cmdQueryVersion = 0x03, cmdVersionReply = 0x04, cmdQueryInfo = 0x05,
                       cmdInfoReply = 0x06, cmdText = 0x15, cmdOpen = 0x51, cmdRecord = 0x52;
constexpr std::size_t controlLength = 9, dataLength = 599, blockPayload = 590, blockBytes = 512;
constexpr int absentListingsOnRestart = 2;

std::vector<std::uint8_t> unpack(const std::uint8_t* packed, std::size_t length, bool& spareBitsSet)
{
    std::vector<std::uint8_t> bytes;
    spareBitsSet = true;
    for (std::size_t i = 0; i < length;)
    {
        const auto header = packed[i];
        const auto count = std::min<std::size_t>(7, length - i - 1);
        for (std::size_t j = 0; j < count; ++j)
            bytes.push_back(static_cast<std::uint8_t>(packed[i + 1 + j] | (((header >> (6 - j)) & 1) << 7)));
        const auto spareMask = static_cast<std::uint8_t>((1u << (7 - count)) - 1);
        if (i + 1 + count >= length && (header & spareMask) != spareMask)
            spareBitsSet = false;
        i += count + 1;
    }
    return bytes;
}

std::vector<std::uint8_t> reply(std::uint8_t code, std::uint8_t command, juce::uint32 value)
{
    const std::uint8_t data[] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16),
                                 static_cast<std::uint8_t>(value >> 24)};
    std::uint8_t header = 0;
    std::vector<std::uint8_t> message{0xF0, makerId[0], makerId[1], makerId[2], 0x00, code, command, 0};
    for (int k = 0; k < 4; ++k)
    {
        if ((data[k] & 0x80) != 0)
            header = static_cast<std::uint8_t>(header | (0x40 >> k));
        message.push_back(static_cast<std::uint8_t>(data[k] & 0x7F));
    }
    message[7] = header;
    message.push_back(0xF7);
    return message;
}

KnownDevice recordWithKey(const juce::String& key)
{
    juce::OwnedArray<KnownDevice> devices;
    appendKnownDevices(devices);
    const auto* device = findKnownDeviceByKey(devices, key);
    return device != nullptr ? *device : KnownDevice{};
}

/** The generic boot loader a model shows up as once its firmware is erased. */
KnownDevice genericRecordFor(const KnownDevice& model)
{
    juce::OwnedArray<KnownDevice> devices;
    appendKnownDevices(devices);
    const auto* generic = findKnownDeviceByBootProductId(devices, model.genericBootProductId);
    return generic != nullptr ? *generic : KnownDevice();
}
} // namespace

VirtualAmplifier::VirtualAmplifier(AmplifierHost& s, const juce::String& firmwareKey, Mode m,
                                   juce::int32 version)
    : system(s), model(recordWithKey(firmwareKey)), genericRecord(genericRecordFor(model)),
      genericBootPortName(genericRecord.bootPortName), mode(m), firmwareVersion(version)
{
    jassert(model.firmwareKey.isNotEmpty());
    FirmwareCatalogue catalogue;
    fillFirmwareCatalogue(catalogue);
    if (const auto* entry = findFirmware(catalogue, firmwareKey))
        versionAfterUpdate = entry->versionNumber;
    plugIn();
}

VirtualAmplifier::~VirtualAmplifier()
{
    system.detach(*this);
    system.forget(*this);
}

VirtualAmplifier::Identity VirtualAmplifier::identity() const
{
    switch (mode)
    {
    case Mode::application:
        return {model.appPortName, {maker::usbVendorId, model.appProductId}};
    case Mode::boot:
        return {model.bootPortName, {maker::usbVendorId, model.bootProductId}};
    case Mode::genericBoot:
        return {genericBootPortName, {maker::usbVendorId, genericRecord.bootProductId}};
    }
    return {};
}

juce::uint16 VirtualAmplifier::getProductId() const
{
    const std::lock_guard guard(system.worldLock());
    return identity().usb.productId;
}

juce::String VirtualAmplifier::getPortName() const
{
    const std::lock_guard guard(system.worldLock());
    return identity().portName;
}

void VirtualAmplifier::plugIn()
{
    const std::lock_guard guard(system.worldLock());
    if (pluggedIn)
        return;
    pluggedIn = true;
    imageOpen = false;
    previousStart.reset();
    const auto now = identity();
    system.attach(*this, now.portName, now.usb);
}

void VirtualAmplifier::unplug()
{
    const std::lock_guard guard(system.worldLock());
    pluggedIn = false;
    system.detach(*this);
}

void VirtualAmplifier::unplugAfter(std::size_t messages)
{
    const std::lock_guard guard(system.worldLock());
    unplugAtCount = received.size() + messages;
}

void VirtualAmplifier::restartIn(Mode newMode, std::chrono::milliseconds leaveAfter)
{
    const std::lock_guard guard(system.worldLock());
    mode = newMode;
    imageOpen = false;
    previousStart.reset();
    if (pluggedIn)
    {
        const auto next = identity();
        system.reenumerate(*this, leaveAfter, next.portName, next.usb, absentListingsOnRestart);
    }
}

void VirtualAmplifier::setRestartDelay(std::chrono::milliseconds delay)
{
    const std::lock_guard guard(system.worldLock());
    restartDelay = delay;
}

VirtualAmplifier::Mode VirtualAmplifier::getMode() const
{
    const std::lock_guard guard(system.worldLock());
    return mode;
}

bool VirtualAmplifier::isPluggedIn() const
{
    const std::lock_guard guard(system.worldLock());
    return pluggedIn;
}

juce::int32 VirtualAmplifier::getFirmwareVersion() const
{
    const std::lock_guard guard(system.worldLock());
    return firmwareVersion;
}

bool VirtualAmplifier::werePresetsErased() const
{
    const std::lock_guard guard(system.worldLock());
    return presetsErased;
}

bool VirtualAmplifier::wasFirmwareErased() const
{
    const std::lock_guard guard(system.worldLock());
    return firmwareErased;
}

void VirtualAmplifier::setVersionAfterUpdate(juce::int32 version)
{
    const std::lock_guard guard(system.worldLock());
    versionAfterUpdate = version;
}

void VirtualAmplifier::setGenericBootPortName(const juce::String& name)
{
    const std::lock_guard guard(system.worldLock());
    genericBootPortName = name;
}

std::vector<VirtualAmplifier::Received> VirtualAmplifier::getReceived() const
{
    const std::lock_guard guard(system.worldLock());
    return received;
}

juce::StringArray VirtualAmplifier::getViolations() const
{
    const std::lock_guard guard(system.worldLock());
    return violations;
}

std::vector<std::uint8_t> VirtualAmplifier::getFirmware() const
{
    const std::lock_guard guard(system.worldLock());
    return completedFirmware;
}

int VirtualAmplifier::getCompletedImages() const
{
    const std::lock_guard guard(system.worldLock());
    return completedImages;
}

void VirtualAmplifier::violation(const juce::String& text)
{
    violations.add(text);
    imageFaulty = true;
}

void VirtualAmplifier::setPacingChecked(bool checked)
{
    const std::lock_guard guard(system.worldLock());
    pacingChecked = checked;
}

void VirtualAmplifier::receiveFromHost(const std::vector<std::uint8_t>& bytes)
{
    receiveFromHostAt(bytes, Clock::now());
}

void VirtualAmplifier::receiveFromHostAt(const std::vector<std::uint8_t>& bytes, Clock::time_point now)
{
    const std::lock_guard guard(system.worldLock());
    received.push_back({now, bytes, mode});
    if (mode == Mode::application)
        receiveInApplication(bytes);
    else
        receiveInBoot(bytes, now);
    if (unplugAtCount == received.size())
    {
        unplugAtCount.reset();
        unplug();
    }
}

bool VirtualAmplifier::checkFrame(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() < 8 || bytes.front() != 0xF0 || bytes.back() != 0xF7)
        return false;
    for (std::size_t i = 1; i + 1 < bytes.size(); ++i)
        if ((bytes[i] & 0x80) != 0)
            return false;
    return bytes[1] == makerId[0] && bytes[2] == makerId[1] && bytes[3] == makerId[2] && bytes[4] == 0x00;
}

void VirtualAmplifier::receiveInApplication(const std::vector<std::uint8_t>& bytes)
{
    if (!checkFrame(bytes) || bytes[5] != model.deviceCode)
        return;

    const auto command = bytes[6];
    if (command == cmdQueryVersion && bytes.size() == 8)
    {
        system.sendToHost(
            *this, reply(model.deviceCode, cmdVersionReply, static_cast<juce::uint32>(firmwareVersion)));
    }
    else if (command == cmdQueryInfo && bytes.size() == 8)
    {
        system.sendToHost(*this, reply(model.deviceCode, cmdInfoReply, 0x00010203));
    }
    else if (command == cmdText)
    {
        bool spareBitsSet = false; // text commands leave them clear; only images set them
        const auto text = unpack(bytes.data() + 7, bytes.size() - 8, spareBitsSet);
        const std::string commandText(text.begin(), text.end());
        if (commandText == "erasevs")
            presetsErased = true;
        else if (commandText == "eraseapp")
        {
            firmwareErased = true;
            firmwareVersion = 0;
            restartIn(Mode::genericBoot);
        }
    }
}

void VirtualAmplifier::startImage()
{
    imageOpen = true;
    imageFaulty = false;
    expectedBlock = 0;
    blockCount = -1;
    imageFirmware.clear();
}

void VirtualAmplifier::receiveInBoot(const std::vector<std::uint8_t>& bytes, Clock::time_point time)
{
    const auto messageNumber = static_cast<int>(received.size());
    if (pacingChecked && previousStart)
    {
        const auto minimum = std::chrono::milliseconds(std::max<std::size_t>(20, previousLength / 3 + 10));
        const auto gap = time - *previousStart;
        if (gap < minimum)
            violation("message " + juce::String(messageNumber) + " came " +
                      juce::String(std::chrono::duration<double, std::milli>(gap).count(), 3) +
                      " ms after the one before; " + juce::String(minimum.count()) + " ms needed");
    }
    previousStart = time;
    previousLength = bytes.size();

    if (!checkFrame(bytes))
    {
        violation("message " + juce::String(messageNumber) + " is not a well-framed message of the maker");
        return;
    }
    if (bytes[5] != model.deviceCode)
    {
        violation("message " + juce::String(messageNumber) + " carries device code " +
                  juce::String(bytes[5]) + ", not " + juce::String(model.deviceCode));
        return;
    }

    const auto command = bytes[6];
    if (command == cmdOpen && bytes.size() == controlLength && bytes[7] == 0x01)
    {
        if (imageOpen)
            violation("an image was opened again before it was closed");
        startImage();
        return;
    }
    if (!imageOpen)
    {
        violation("message " + juce::String(messageNumber) + " arrived before an opening message");
        return;
    }
    if (command == cmdRecord && bytes.size() == dataLength && bytes[7] == 0x00)
    {
        bool spareBitsSet = false;
        const auto block = unpack(bytes.data() + 8, blockPayload, spareBitsSet);
        if (!spareBitsSet)
            violation("block " + juce::String(expectedBlock) + ": the spare header bits are not set");
        const int index = (block[0] << 8) | block[1];
        const int count = (block[2] << 8) | block[3];
        if (index != expectedBlock)
            violation("block " + juce::String(index) + " arrived where " + juce::String(expectedBlock) +
                      " was due");
        if (blockCount >= 0 && count != blockCount)
            violation("block " + juce::String(index) + " gives the count " + juce::String(count));
        blockCount = count;
        imageFirmware.insert(imageFirmware.end(), block.begin() + 4, block.begin() + 4 + blockBytes);
        ++expectedBlock;
        return;
    }
    if (command == cmdRecord && bytes.size() == controlLength && bytes[7] == 0x01)
    {
        imageOpen = false;
        if (expectedBlock != blockCount)
            violation("the image closed after " + juce::String(expectedBlock) + " of " +
                      juce::String(blockCount) + " blocks");
        if (imageFaulty)
            return;
        completedFirmware = imageFirmware;
        ++completedImages;
        firmwareVersion = versionAfterUpdate;
        firmwareErased = false;
        restartIn(Mode::application, restartDelay);
        return;
    }
    violation("message " + juce::String(messageNumber) + " is no image message");
}
