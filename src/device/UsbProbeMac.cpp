#include "device/UsbProbe.h"

// USB enumeration on macOS is not written yet: no device is ever reported, so an amplifier is not found.
std::optional<std::vector<UsbIds>> enumeratePlatformUsbDevices()
{
    return {};
}
