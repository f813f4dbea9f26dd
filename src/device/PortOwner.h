#pragma once

#include "device/UsbProbe.h"

#include <juce_core/juce_core.h>

#include <optional>
#include <string>
#include <string_view>

/** The USB device a MIDI port belongs to. */
struct UsbPortOwner
{
    UsbIds ids;
    /** Names one enumeration of the device (Linux: its sysfs path and device number; Windows: its device
        instance): a device that leaves and comes back, or restarts in another mode, is another one. */
    juce::String device;

    bool operator==(const UsbPortOwner&) const = default;
};

/** Which USB device, if any, a port belongs to, as far as the system says. */
struct PortOwnership
{
    /** The system told: a port with no `usb` then belongs to no USB device (a program's virtual port, a
        software synthesizer). False where the system gives no tie; then names are all there is to go by. */
    bool known = false;
    std::optional<UsbPortOwner> usb;

    bool operator==(const PortOwnership&) const = default;
};

/** The USB device of a port from the framework's identifier of it on this system (Linux: the sequencer
    client's sound card in sysfs; Windows: the device interface path). Unknown elsewhere. */
PortOwnership findPortOwner(const juce::String& identifier);

/** The USB device a Windows MIDI device interface path names, such as
    "\\?\usb#vid_2a5a&pid_0044&mi_00#7&1a2b&0&0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\global". A path
    without a USB vendor and product belongs to no USB device; an identifier that is no path says nothing. */
PortOwnership portOwnerFromInterfacePath(std::string_view path);

/** The device instance a Windows MIDI device interface path names
   ("USB\VID_2A5A&PID_0044&MI_00\7&1A2B&0&0000" for the path above); empty for an identifier that is no such
   path. */
std::string deviceInstanceOfInterfacePath(std::string_view path);

/** The client number in the framework's identifier of an ALSA sequencer port ("20-0": client 20, port 0). */
std::optional<int> sequencerClientOf(const juce::String& identifier);

#if JUCE_WINDOWS
/** Where the USB device of a device instance (or of the composite device it is a function of) is plugged
    in; empty when Windows does not say. */
juce::String placeOfDeviceInstance(const juce::String& instanceId);
#endif

#if JUCE_LINUX
/** The USB device of a sound card by its number, from udev (sysfs): none for a card of no USB device, not
    known when udev cannot tell. */
PortOwnership ownerOfSoundCard(int card);
#endif
