#include "engine/DeviceCom.h"

#include "device/SysEx.h"
#include "engine/KnownDeviceTable.h"
#include "firmware/FirmwareImage.h"

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

} // namespace

DeviceCom::DeviceCom(DeviceComSeams seams)
    : juce::Thread("Firmware Update Thread"), midiInterface(*seams.ports, std::move(seams.enumerateUsb)),
      holdOffSleep(std::move(seams.holdOffSleep))
{
    seams.fillCatalogue(firmwareCatalogue);
    appendKnownDevices(midiInterface.knownDevices);
    if (!midiInterface.isTimerRunning() && !midiInterface.knownDevices.isEmpty())
        midiInterface.startTimer(MidiInterfaceClass::discoveryIntervalMs);
}

DeviceCom::~DeviceCom()
{
    // The worker stops after its current message; no member it uses goes before it has ended.
    stopUpdate();
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
    if (runOutcome == RunOutcome::running)
        return false;
    runOutcome = RunOutcome::none;
    if (!midiInterface.bootDetected)
        return false;

    const auto key = midiInterface.genericBoot ? firmwareKey : midiInterface.getConnectedDevice().firmwareKey;
    const auto* entry = findFirmware(firmwareCatalogue, key);
    currentFirmware = entry;
    afterErase = false;
    return entry != nullptr && beginRun(*entry);
}

bool DeviceCom::startRepair(const juce::String& firmwareKey)
{
    if (runOutcome == RunOutcome::running)
        return false;
    runOutcome = RunOutcome::none;
    if (!midiInterface.genericBoot)
        return false;

    const auto* entry = findFirmware(firmwareCatalogue, firmwareKey);
    currentFirmware = entry;
    afterErase = true;
    return entry != nullptr && entry->imageSize > minimumRepairImageSize && beginRun(*entry);
}

bool DeviceCom::beginRun(const FirmwareEntry& entry)
{
    // A run that has ended may still be leaving its thread; the next one needs a thread of its own.
    stopThread(-1);
    setProgress(0.0f);

    const auto session = midiInterface.getOutputSession();
    const bool wellFormed =
        entry.imageData != nullptr && countImageMessages({entry.imageData, entry.imageSize}).has_value();
    if (session == 0 || !wellFormed)
    {
        runOutcome = RunOutcome::refused;
        return false;
    }

    runOutputSession = session;
    runOutcome = RunOutcome::running;
    startThread();
    return true;
}

void DeviceCom::stopUpdate()
{
    signalThreadShouldExit();
}

bool DeviceCom::hasFirmware(const juce::String& firmwareKey) const
{
    const auto* entry = findFirmware(firmwareCatalogue, firmwareKey);
    return entry != nullptr && entry->imageData != nullptr && entry->imageSize > 0;
}

juce::String DeviceCom::takeSleepHoldFailure()
{
    const juce::ScopedLock sl(sleepNoticeLock);
    if (sleepHoldFailure.isEmpty() || sleepHoldFailureTaken)
        return {};
    sleepHoldFailureTaken = true;
    return sleepHoldFailure;
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
    const std::size_t size = data != nullptr ? entry->imageSize : 0;

    juce::String failure;
    const auto sleepHold = holdOffSleep ? holdOffSleep(failure) : nullptr;
    if (sleepHold == nullptr)
    {
        const juce::ScopedLock sl(sleepNoticeLock);
        if (sleepHoldFailure.isEmpty())
            sleepHoldFailure = failure.isNotEmpty() ? failure : juce::String("no way to hold it off");
    }

    if (afterErase.exchange(false))
        juce::Thread::sleep(initialPauseAfterEraseMs);
    else
        juce::Thread::sleep(initialPauseMs);

    runOutcome = streamImage(data, size);
}

RunOutcome DeviceCom::streamImage(const juce::uint8* data, std::size_t size)
{
    const auto session = runOutputSession.load();
    const std::span<const juce::uint8> image(data, size);

    // Each message is handed over as a pointer into the image. Before each, the run makes sure that it is
    // still wanted and that the output it began on is still open with its device there: once that is lost,
    // nothing more of this run goes to any port.
    std::size_t sent = 0;
    while (sent < size)
    {
        const auto length = imageMessageLength(image, sent);
        if (length == 0 || threadShouldExit() ||
            !midiInterface.sendSysExOn(session, data + sent, static_cast<int>(length)))
            return sent == 0 ? RunOutcome::refused : RunOutcome::brokenOff;

        // The gap is counted from the end of the send, so that the next message can never reach the
        // amplifier sooner than its minimum after this one, however long the send took.
        const auto gapEnd = Clock::now() + minimumGapFor(length);
        sent += length;
        if (sent == size)
        {
            // The whole image is with the amplifier, which restarts now: the run is finished at once, not
            // only after the last gap, or a restart noticed meanwhile would read as a broken-off run.
            setProgress(finishedProgress);
            runOutcome = RunOutcome::finished;
        }
        else
        {
            setProgress(static_cast<float>(sent) / static_cast<float>(size));
        }
        sleepUntil(gapEnd);
    }
    return sent > 0 ? RunOutcome::finished : RunOutcome::refused;
}
