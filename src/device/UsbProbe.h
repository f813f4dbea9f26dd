#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

/** A present USB device as the operating system lists it. */
struct UsbIds
{
    UsbIds(juce::uint16 vendor = 0, juce::uint16 product = 0, juce::String where = {})
        : vendorId(vendor), productId(product), place(std::move(where))
    {
    }

    juce::uint16 vendorId = 0;
    juce::uint16 productId = 0;
    /** Where the device is plugged in (Linux: the USB port path of its `usb_device`, such as "1-1.4";
        Windows: its hub and port): the same while it stays in that port, whatever it re-enumerates as.
        Empty where the system does not say. */
    juce::String place;

    bool operator==(const UsbIds&) const = default;
};

/** Lists the present USB devices of the class that carries sound and MIDI, in enumeration order; empty when
    the system could not list them. */
using UsbEnumerator = std::function<std::optional<std::vector<UsbIds>>()>;

/** The operating system's enumeration (Setup API on Windows, libudev on Linux). */
std::optional<std::vector<UsbIds>> enumeratePlatformUsbDevices();

/** Rebuilds the process-wide list of the maker's present USB devices from an enumeration. An enumeration
    that failed tells nothing: the list keeps what the last one found, and the result is false. */
bool scanUsbDevices(const UsbEnumerator& enumerate = enumeratePlatformUsbDevices);

/** True when the last scan found a device of the maker with this product ID. */
bool isUsbDevicePresent(juce::uint16 productId);

/** The maker's devices the last scan found, in enumeration order. */
std::vector<UsbIds> getPresentUsbDevices();

/** Reads vendor and product ID from a Windows device instance ID such as "USB\VID_2A5A&PID_0045\6&1A2B".
    Empty unless the vendor token is exactly "VID_" and the maker's ID in upper-case hexadecimal and the
    product token is 8 characters long. */
std::optional<UsbIds> parseUsbInstanceId(std::string_view instanceId);
