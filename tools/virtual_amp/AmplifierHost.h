#pragma once

#include "device/UsbProbe.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

/** What an amplifier model is plugged into: the in-memory MIDI system of the tests, or a USB gadget that a
    real kernel enumerates. The amplifier and its host share one recursive lock, `worldLock()`. */
class AmplifierHost
{
public:
    /** The device side of a pair of ports. */
    class Device
    {
    public:
        virtual ~Device() = default;
        /** A message the host sent to the device; called on the receiving thread, under the world lock. */
        virtual void receiveFromHost(const std::vector<std::uint8_t>& bytes) = 0;
    };

    virtual ~AmplifierHost() = default;

    virtual std::recursive_mutex& worldLock() = 0;
    /** Shows a device's two ports (an input and an output, both named `portName`) and its USB entry. */
    virtual void attach(Device& device, const juce::String& portName, UsbIds usb) = 0;
    /** Removes a device's ports and USB entry at once. */
    virtual void detach(Device& device) = 0;
    /** Detaches a device once `leaveAfter` has passed, then attaches it under a new name and USB identity
        once the host has had `absentListings` looks without finding it, as a device that restarts and
        re-enumerates. */
    virtual void reenumerate(Device& device, std::chrono::milliseconds leaveAfter,
                             const juce::String& portName, UsbIds usb, int absentListings) = 0;
    /** The device no longer exists: whatever the host kept of it (its place) goes. */
    virtual void forget(Device&) {}
    /** A message from a device to the host. */
    virtual void sendToHost(Device& device, const std::vector<std::uint8_t>& bytes) = 0;
};
