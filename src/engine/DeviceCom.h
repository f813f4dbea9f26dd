#pragma once

#include "device/MidiInterfaceClass.h"
#include "engine/FirmwareCatalogue.h"
#include "engine/SleepInhibitor.h"

/** What DeviceCom reaches the outside world through; the defaults are the real system and the embedded
 * images. */
struct DeviceComSeams
{
    MidiPorts* ports = &getSystemMidiPorts();
    UsbEnumerator enumerateUsb = enumeratePlatformUsbDevices;
    std::function<void(FirmwareCatalogue&)> fillCatalogue = fillFirmwareCatalogue;
    SleepInhibitor holdOffSleep = holdOffSystemSleep;
};

/** How the last update run went. */
enum class RunOutcome
{
    none,      // no run yet
    running,   // started and not yet ended
    finished,  // every message of the image went to the port that was open when the run began
    brokenOff, // stopped part-way: the port was closed or replaced, its device left, or a stop was asked for
    refused, // nothing was sent: no output open, a malformed image, or the port gone before the first message
};

/** The update engine: owns the link to the amplifier and the firmware catalogue, erases an amplifier, and
    streams a firmware image to one in boot mode on the "Firmware Update Thread". */
class DeviceCom : public juce::Thread
{
public:
    explicit DeviceCom(DeviceComSeams seams = {});
    /** Stops a running update after its current message and waits for the worker. */
    ~DeviceCom() override;

    juce::uint8 getConnectedDeviceCode() const;
    juce::String getConnectedAppPortName() const;
    juce::String getConnectedDisplayName() const;
    juce::String getFirmwareKeyForName(const juce::String& displayName) const;
    juce::StringArray getFirmwareDisplayNames() const;
    juce::String getSoftwareVersionsText() const;
    /** The key a port name in application mode leads to, through its known-device record; empty if none. */
    juce::String getFirmwareKeyForAppPortName(const juce::String& appPortName) const;
    /** True for a firmware version that an amplifier may keep: one that the catalogue carries. */
    bool isAcceptedFirmwareVersion(juce::int32 version) const;

    /** Starts streaming to an amplifier in boot mode: the detected model's image, or for a generic boot
       loader the image of `firmwareKey`. False when no boot device is detected, no image fits, a run is in
       progress, or the run is refused (then getRunOutcome() says so). */
    bool startUpdate(const juce::String& firmwareKey);
    /** Starts re-programming an erased amplifier in generic boot mode with the image of `firmwareKey`, after
       a long initial pause. False without a generic boot device, an image, with an image of 100 bytes or
       less, while a run is in progress, or when the run is refused. */
    bool startRepair(const juce::String& firmwareKey);
    /** Sends the two erase commands for a device code and resets the link; true when both were sent. */
    bool eraseDevice(juce::uint8 code);
    /** Fraction of the image sent, 0.0 to 1.0, and 0.0 from the moment a run starts; 1.12 once a run has
        finished. A run that was broken off keeps the fraction it had sent. */
    float getProgress() const;
    RunOutcome getRunOutcome() const { return runOutcome; }
    /** The image of the running or last run; null before the first. */
    const FirmwareEntry* getRunFirmware() const { return currentFirmware; }
    /** Asks a running update to stop after its current message; it then ends as broken off. */
    void stopUpdate();
    /** The images the program carries, in catalogue order. */
    const FirmwareCatalogue& getFirmwareCatalogue() const { return firmwareCatalogue; }
    /** True for a firmware key whose image the catalogue carries. */
    bool hasFirmware(const juce::String& firmwareKey) const;
    /** Why sleep could not be held off during a run, the first time that happened; empty before and after. */
    juce::String takeSleepHoldFailure();

    /** Progress once a run has ended. */
    static constexpr float finishedProgress = 1.12f;

    MidiInterfaceClass midiInterface;

private:
    void run() override;
    void setProgress(float value);
    /** Starts the worker on `entry` unless a run is in progress or the run is refused. */
    bool beginRun(const FirmwareEntry& entry);
    /** Sends the image message by message while the run's output stays open; the outcome. */
    RunOutcome streamImage(const juce::uint8* data, std::size_t size);

    FirmwareCatalogue firmwareCatalogue;
    std::atomic<const FirmwareEntry*> currentFirmware{nullptr};
    float progress = 0.0f;
    juce::ReadWriteLock progressLock;
    std::atomic<bool> afterErase{false};
    std::atomic<RunOutcome> runOutcome{RunOutcome::none};
    /** The output the running update keeps to; set before the worker starts. */
    std::atomic<juce::uint32> runOutputSession{0};
    SleepInhibitor holdOffSleep;
    juce::CriticalSection sleepNoticeLock;
    juce::String sleepHoldFailure;
    bool sleepHoldFailureTaken = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DeviceCom)
};
