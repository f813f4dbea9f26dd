#pragma once

#include "device/MidiInterfaceClass.h"
#include "engine/FirmwareCatalogue.h"

/** What DeviceCom reaches the outside world through; the defaults are the real system and the embedded
 * images. */
struct DeviceComSeams
{
    MidiPorts* ports = &getSystemMidiPorts();
    UsbEnumerator enumerateUsb = enumeratePlatformUsbDevices;
    std::function<void(FirmwareCatalogue&)> fillCatalogue = fillFirmwareCatalogue;
};

/** The update engine: owns the link to the amplifier and the firmware catalogue, erases an amplifier, and
    streams a firmware image to one in boot mode on the "Firmware Update Thread". */
class DeviceCom : public juce::Thread
{
public:
    explicit DeviceCom(DeviceComSeams seams = {});
    /** Waits for a running update to send its whole image. */
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
       loader the image of `firmwareKey`. False when no boot device is detected or no image fits. */
    bool startUpdate(const juce::String& firmwareKey);
    /** Starts re-programming an erased amplifier in generic boot mode with the image of `firmwareKey`, after
       a long initial pause. False without a generic boot device, an image, or with an image of 100 bytes or
       less. */
    bool startRepair(const juce::String& firmwareKey);
    /** Sends the two erase commands for a device code and resets the link; true when both were sent. */
    bool eraseDevice(juce::uint8 code);
    /** Fraction of the image sent, 0.0 to 1.0; 1.12 once a run has ended. */
    float getProgress() const;

    /** Progress once a run has ended. */
    static constexpr float finishedProgress = 1.12f;

    MidiInterfaceClass midiInterface;

private:
    void run() override;
    void setProgress(float value);

    FirmwareCatalogue firmwareCatalogue;
    std::atomic<const FirmwareEntry*> currentFirmware{nullptr};
    float progress = 0.0f;
    juce::ReadWriteLock progressLock;
    std::atomic<bool> afterErase{false};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DeviceCom)
};
