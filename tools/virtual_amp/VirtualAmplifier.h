#pragma once

#include "AmplifierHost.h"
#include "device/KnownDevice.h"

#include <chrono>

/** A model of one amplifier, written from the message layouts and timing rules alone. In application mode it
    answers the identity queries for its own device code and takes the erase commands; in boot mode it takes
    a firmware image, checks its layout and pacing, and restarts with the new firmware after a good one.
    Every message it receives and every rule broken is recorded for tests. */
class VirtualAmplifier : public AmplifierHost::Device
{
public:
    enum class Mode
    {
        application,
        boot,        // the model's own boot loader
        genericBoot, // a boot loader that does not tell its model
    };

    using Clock = std::chrono::steady_clock;

    struct Received
    {
        Clock::time_point time;
        std::vector<std::uint8_t> bytes;
        Mode mode;
    };

    /** An amplifier of the model whose firmware key is given, plugged in and in `mode`. */
    VirtualAmplifier(AmplifierHost& system, const juce::String& firmwareKey, Mode mode,
                     juce::int32 firmwareVersion);
    ~VirtualAmplifier() override;

    void plugIn();
    /** Its ports and USB entry vanish at once. */
    void unplug();
    /** Pulls its own cable right after the `messages`-th message from now has arrived. */
    void unplugAfter(std::size_t messages);
    /** Restarts in another mode: it leaves the bus after `leaveAfter` and comes back under the new mode's
        identity once the host has looked for devices a few times without it, as a real device re-enumerates.
     */
    void restartIn(Mode mode, std::chrono::milliseconds leaveAfter = std::chrono::milliseconds(0));
    /** How long after a good image's closing message the boot loader restarts (default 300 ms). */
    void setRestartDelay(std::chrono::milliseconds delay);

    Mode getMode() const;
    bool isPluggedIn() const;
    juce::int32 getFirmwareVersion() const;
    bool werePresetsErased() const;
    bool wasFirmwareErased() const;
    /** The firmware version it reports after a good image; by default the one of its model's catalogue entry.
     */
    void setVersionAfterUpdate(juce::int32 version);
    /** The name its ports carry in generic boot mode (a system may list them as "USB Audio Device"). */
    void setGenericBootPortName(const juce::String& name);

    std::vector<Received> getReceived() const;
    juce::StringArray getViolations() const;
    /** Firmware bytes of the last complete image, with the last block's fill. */
    std::vector<std::uint8_t> getFirmware() const;
    int getCompletedImages() const;
    const KnownDevice& getModel() const { return model; }
    juce::uint16 getProductId() const;
    juce::String getPortName() const;

    void receiveFromHost(const std::vector<std::uint8_t>& bytes) override;
    /** A message that arrived at `time` (a kernel's arrival time, say), under the world lock. */
    void receiveFromHostAt(const std::vector<std::uint8_t>& bytes, Clock::time_point time);
    /** Whether a gap between two image messages shorter than its minimum is a fault of the image: yes by
        default. A host whose messages reach the device late now and then (an emulated machine) shortens the
        gap after a late one by as much; there the amplifier only records what arrived when, and the sender's
        pacing is judged from that record. */
    void setPacingChecked(bool checked);

private:
    /** The port name and USB IDs it shows in its present mode. */
    struct Identity
    {
        juce::String portName;
        UsbIds usb;
    };
    Identity identity() const;

    void receiveInApplication(const std::vector<std::uint8_t>& bytes);
    void receiveInBoot(const std::vector<std::uint8_t>& bytes, Clock::time_point time);
    void violation(const juce::String& text);
    void startImage();
    bool checkFrame(const std::vector<std::uint8_t>& bytes);

    AmplifierHost& system;
    KnownDevice model;
    KnownDevice genericRecord;
    juce::String genericBootPortName;
    Mode mode;
    bool pluggedIn = false;
    juce::int32 firmwareVersion;
    juce::int32 versionAfterUpdate = 0;
    std::chrono::milliseconds restartDelay{300};
    bool pacingChecked = true;
    bool presetsErased = false;
    bool firmwareErased = false;

    std::vector<Received> received;
    std::optional<std::size_t> unplugAtCount;
    juce::StringArray violations;

    // The image being received in boot mode.
    bool imageOpen = false;
    bool imageFaulty = false;
    int expectedBlock = 0;
    int blockCount = -1;
    std::vector<std::uint8_t> imageFirmware;
    std::optional<Clock::time_point> previousStart;
    std::size_t previousLength = 0;

    std::vector<std::uint8_t> completedFirmware;
    int completedImages = 0;
};
