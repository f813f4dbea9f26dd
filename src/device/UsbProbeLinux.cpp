#include "device/MakerIds.h"
#include "device/PortOwner.h"
#include "device/UsbProbe.h"

#include <libudev.h>

#include <cstdlib>
#include <set>
#include <string>

// Every present USB device of the maker that has an audio-class interface (class 01, which carries
// both audio and MIDI), in libudev's enumeration order.

namespace
{
constexpr const char* audioInterfaceClass = "01";

/** Sysfs attributes end in a newline on a real system and not always elsewhere; both parse alike. */
std::optional<juce::uint16> readHexAttribute(udev_device* device, const char* name)
{
    const char* text = udev_device_get_sysattr_value(device, name);
    if (text == nullptr)
        return std::nullopt;
    char* end = nullptr;
    const auto value = std::strtoul(text, &end, 16);
    if (end == text || value > 0xFFFF || (*end != '\0' && *end != '\n'))
        return std::nullopt;
    return static_cast<juce::uint16>(value);
}

/** The USB port path a device is known by in sysfs ("1-1.4": bus 1, port 1, then port 4 of its hub). */
juce::String placeOf(udev_device* usbDevice)
{
    const char* name = udev_device_get_sysname(usbDevice);
    return name != nullptr ? juce::String(name) : juce::String();
}

bool isAudioInterface(udev_device* interface)
{
    const char* text = udev_device_get_sysattr_value(interface, "bInterfaceClass");
    return text != nullptr && std::string(text).starts_with(audioInterfaceClass);
}

/** False when the devices could not be listed. */
template <typename Visit> bool forEachUsbDevice(udev* context, const char* devType, Visit visit)
{
    auto* enumerate = udev_enumerate_new(context);
    if (enumerate == nullptr)
        return false;
    if (udev_enumerate_add_match_subsystem(enumerate, "usb") < 0 ||
        udev_enumerate_add_match_property(enumerate, "DEVTYPE", devType) < 0 ||
        udev_enumerate_scan_devices(enumerate) < 0)
    {
        udev_enumerate_unref(enumerate);
        return false;
    }

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        if (auto* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)))
        {
            visit(device);
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(enumerate);
    return true;
}
} // namespace

std::optional<std::vector<UsbIds>> enumeratePlatformUsbDevices()
{
    std::vector<UsbIds> found;
    auto* context = udev_new();
    if (context == nullptr)
        return std::nullopt;

    std::set<std::string> devicesWithAudio;
    const bool listed = forEachUsbDevice(
        context, "usb_interface",
        [&](udev_device* interface)
        {
            if (!isAudioInterface(interface))
                return;
            if (auto* parent = udev_device_get_parent_with_subsystem_devtype(interface, "usb", "usb_device"))
                devicesWithAudio.insert(udev_device_get_syspath(parent));
        });

    const bool listedDevices =
        listed && forEachUsbDevice(context, "usb_device",
                                   [&](udev_device* device)
                                   {
                                       const auto vendorId = readHexAttribute(device, "idVendor");
                                       const auto productId = readHexAttribute(device, "idProduct");
                                       if (vendorId == maker::usbVendorId && productId &&
                                           devicesWithAudio.contains(udev_device_get_syspath(device)))
                                           found.push_back({*vendorId, *productId, placeOf(device)});
                                   });

    udev_unref(context);
    if (!listedDevices)
        return std::nullopt;
    return found;
}

PortOwnership ownerOfSoundCard(int card)
{
    auto* context = udev_new();
    if (context == nullptr)
        return {};
    PortOwnership owner;
    const auto cardName = "card" + std::to_string(card);
    if (auto* device = udev_device_new_from_subsystem_sysname(context, "sound", cardName.c_str()))
    {
        owner.known = true;
        // The parent is owned by the card's device and goes with it.
        if (auto* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device"))
        {
            const auto vendorId = readHexAttribute(usb, "idVendor");
            const auto productId = readHexAttribute(usb, "idProduct");
            const char* number = udev_device_get_sysattr_value(usb, "devnum");
            if (vendorId && productId)
                owner.usb = UsbPortOwner{{*vendorId, *productId, placeOf(usb)},
                                         juce::String(udev_device_get_syspath(usb)) + "#" +
                                             juce::String(number != nullptr ? number : "").trim()};
        }
        udev_device_unref(device);
    }
    udev_unref(context);
    return owner;
}
