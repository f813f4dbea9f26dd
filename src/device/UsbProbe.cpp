#include "device/UsbProbe.h"

#include "device/MakerIds.h"

#include <algorithm>

namespace
{
/** The maker's devices found by the last scan. The list is the message thread's. */
std::vector<UsbIds> usbDevices;
} // namespace

bool scanUsbDevices(const UsbEnumerator& enumerate)
{
    const auto devices = enumerate();
    if (!devices)
        return false;
    usbDevices.clear();
    for (const auto& device : *devices)
        if (device.vendorId == maker::usbVendorId)
            usbDevices.push_back(device);
    return true;
}

bool isUsbDevicePresent(juce::uint16 productId)
{
    return std::any_of(usbDevices.begin(), usbDevices.end(),
                       [productId](const UsbIds& device) { return device.productId == productId; });
}

std::vector<UsbIds> getPresentUsbDevices()
{
    return usbDevices;
}

std::optional<UsbIds> parseUsbInstanceId(std::string_view instanceId)
{
    std::string_view vendorToken, productToken;
    constexpr std::string_view separators = "\\#&";

    for (std::size_t start = 0; start < instanceId.size();)
    {
        const auto end = std::min(instanceId.find_first_of(separators, start), instanceId.size());
        const auto token = instanceId.substr(start, end - start);
        if (token.starts_with("VID_"))
            vendorToken = token;
        else if (token.starts_with("PID_"))
            productToken = token;
        start = end + 1;
    }

    const auto expectedVendor =
        juce::String("VID_") + juce::String::toHexString(maker::usbVendorId).toUpperCase().paddedLeft('0', 4);
    if (vendorToken != expectedVendor.toStdString() || productToken.size() != 8)
        return std::nullopt;

    unsigned value = 0;
    for (const auto c : productToken.substr(4))
    {
        if (c >= '0' && c <= '9')
            value = value * 16 + static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value = value * 16 + static_cast<unsigned>(c - 'A' + 10);
    }
    return UsbIds{maker::usbVendorId, static_cast<juce::uint16>(value & 0xFFFF)};
}
