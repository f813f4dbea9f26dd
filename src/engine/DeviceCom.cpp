#include "engine/DeviceCom.h"

#include "device/SysEx.h"
#include "engine/KnownDeviceTable.h"

#include <chrono>
#include <thread>

namespace
{
constexpr int initialPauseMs = 50;
constexpr int initialPauseAfterEraseMs = 500;
/** The boot loader needs at least this long from the start of one message to the start of the next... */
constexpr int minimumMessageGapMs = 20;
/** ...and at least a millisecond per three bytes plus 10 ms, for its flash writes. */
constexpr int gapBaseMs = 10;
/** An image this short cannot be a firmware; a repair refuses it. */
constexpr juce::uint32 minimumRepairImageSize = 100;

constexpr const char* eraseVoiceSlotsCommand = "erasevs";
constexpr const char* eraseFirmwareCommand = "eraseapp";
constexpr int pauseAfterVoiceSlotEraseMs = 50;
constexpr int pauseAfterFirmwareEraseMs = 100;
constexpr std::size_t textBufferSize = 128;

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds minimumGapFor(std::size_t messageLength)
{
    const auto lengthBound = static_cast<int>(messageLength / 3) + gapBaseMs;
    return std::chrono::milliseconds(std::max(minimumMessageGapMs, lengthBound));
}

/** Sleeps until `deadline`, never waking before it and overshooting it by as little as the system allows. */
void sleepUntil(Clock::time_point deadline)
{
    for (auto now = Clock::now(); now < deadline; now = Clock::now())
    {
        const auto remaining = deadline - now;
        if (remaining > std::chrono::milliseconds(2))
            std::this_thread::sleep_for(remaining - std::chrono::milliseconds(1));
        else
            std::this_thread::sleep_for(remaining);
    }
}

/** Length of the message that starts at `position`: from its F0 up to and including the next F7. 0 when no
    whole message starts there: another byte than F0, a status byte before the F7, or no F7 at all. */
std::size_t messageLengthAt(const juce::uint8* data, std::size_t size, std::size_t position)
{
    if (position >= size || data[position] != sysex::startByte)
        return 0;
    for (auto i = position + 1; i < size; ++i)
    {
        if (data[i] == sysex::endByte)
            return i - position + 1;
        if ((data[i] & 0x80) != 0)
            return 0;
    }
    return 0;
}
} // namespace

DeviceCom::DeviceCom(DeviceComSeams seams)
    : juce::Thread("Firmware Update Thread"), midiInterface(*seams.ports, std::move(seams.enumerateUsb))
{
    seams.fillCatalogue(firmwareCatalogue);
    appendKnownDevices(midiInterface.knownDevices);
    if (!midiInterface.isTimerRunning() && !midiInterface.knownDevices.isEmpty())
        midiInterface.startTimer(MidiInterfaceClass::discoveryIntervalMs);
}

DeviceCom::~DeviceCom()
{
    // A run has no stop point: this waits until the whole image has been sent.
    stopThread(-1);
}

juce::uint8 DeviceCom::getConnectedDeviceCode() const
{
    return midiInterface.getConnectedDevice().deviceCode;
}

juce::String DeviceCom::getConnectedAppPortName() const
{
    return midiInterface.getConnectedDevice().appPortName;
}

juce::String DeviceCom::getConnectedDisplayName() const
{
    return midiInterface.getConnectedDevice().displayName;
}

juce::String DeviceCom::getFirmwareKeyForName(const juce::String& displayName) const
{
    return ::getFirmwareKeyForName(midiInterface.knownDevices, displayName);
}

juce::StringArray DeviceCom::getFirmwareDisplayNames() const
{
    juce::StringArray names;
    for (const auto& key : getFirmwareKeys(firmwareCatalogue))
        names.add(getDisplayNameForKey(midiInterface.knownDevices, key));
    return names;
}

juce::String DeviceCom::getSoftwareVersionsText() const
{
    return ::getSoftwareVersionsText(firmwareCatalogue);
}

juce::String DeviceCom::getFirmwareKeyForAppPortName(const juce::String& appPortName) const
{
    const auto* device = findKnownDeviceByAppPortName(midiInterface.knownDevices, appPortName);
    return device != nullptr ? device->firmwareKey : juce::String();
}

bool DeviceCom::isAcceptedFirmwareVersion(juce::int32 version) const
{
    return isCatalogueVersion(firmwareCatalogue, version);
}

bool DeviceCom::startUpdate(const juce::String& firmwareKey)
{
    if (!midiInterface.bootDetected)
        return false;

    const auto key = midiInterface.genericBoot ? firmwareKey : midiInterface.getConnectedDevice().firmwareKey;
    const auto* entry = findFirmware(firmwareCatalogue, key);
    currentFirmware = entry;
    afterErase = false;
    if (entry == nullptr)
        return false;
    startThread();
    return true;
}

bool DeviceCom::startRepair(const juce::String& firmwareKey)
{
    if (!midiInterface.genericBoot)
        return false;

    const auto* entry = findFirmware(firmwareCatalogue, firmwareKey);
    currentFirmware = entry;
    afterErase = true;
    if (entry == nullptr || entry->imageSize <= minimumRepairImageSize)
        return false;
    startThread();
    return true;
}

bool DeviceCom::eraseDevice(juce::uint8 code)
{
    auto sendText = [this, code](const char* text, int length)
    {
        char buffer[textBufferSize] = {};
        juce::String(text).copyToUTF8(buffer, sizeof(buffer));
        return midiInterface.sendTextCommand(buffer, length, code);
    };

    const bool voiceSlotsErased = sendText(eraseVoiceSlotsCommand, 7);
    juce::Thread::sleep(pauseAfterVoiceSlotEraseMs);
    const bool firmwareErased = sendText(eraseFirmwareCommand, 8);
    juce::Thread::sleep(pauseAfterFirmwareEraseMs);
    midiInterface.resetConnection();
    return voiceSlotsErased && firmwareErased;
}

float DeviceCom::getProgress() const
{
    const juce::ScopedReadLock sl(progressLock);
    return progress;
}

void DeviceCom::setProgress(float value)
{
    const juce::ScopedWriteLock sl(progressLock);
    progress = value;
}

void DeviceCom::run()
{
    const auto* entry = currentFirmware.load();
    const juce::uint8* data = entry != nullptr ? entry->imageData : nullptr;
    const std::size_t size = (entry != nullptr && data != nullptr) ? entry->imageSize : 0;

    if (afterErase.exchange(false))
        juce::Thread::sleep(initialPauseAfterEraseMs);
    else
        juce::Thread::sleep(initialPauseMs);

    setProgress(0.0f);

    // Each message is handed over as a pointer into the image. A message that breaks the layout ends the run
    // before it is sent; nothing outside the image is ever read.
    std::size_t sent = 0;
    while (sent < size)
    {
        const auto length = messageLengthAt(data, size, sent);
        if (length == 0)
            break;

        midiInterface.sendSysEx(data + sent, static_cast<int>(length));
        // The gap is counted from the end of the send, so that the next message can never reach the
        // amplifier sooner than its minimum after this one, however long the send took.
        sleepUntil(Clock::now() + minimumGapFor(length));

        sent += length;
        setProgress(static_cast<float>(sent) / static_cast<float>(size));
    }

    setProgress(finishedProgress);
}
