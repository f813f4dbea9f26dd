#include "device/PortOwner.h"

#include <cctype>

namespace
{
/** A hexadecimal number of exactly four digits after a prefix such as "vid_" (any case). */
std::optional<juce::uint16> hexAfter(std::string_view token, std::string_view prefix)
{
    if (token.size() != prefix.size() + 4)
        return std::nullopt;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(token[i])) != prefix[i])
            return std::nullopt;
    unsigned value = 0;
    for (const auto c : token.substr(prefix.size()))
    {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value =
            value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                   ? c - '0'
                                                   : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return static_cast<juce::uint16>(value);
}
} // namespace

PortOwnership portOwnerFromInterfacePath(std::string_view path)
{
    if (!path.starts_with("\\\\?\\") && !path.starts_with("\\\\.\\"))
        return {};

    // The device's part of the path ends where the interface class begins ("#{").
    const auto deviceEnd = std::min(path.find("#{"), path.size());
    const auto devicePart = path.substr(0, deviceEnd);
    std::optional<juce::uint16> vendor, product;
    constexpr std::string_view separators = "\\#&";
    for (std::size_t start = 0; start < devicePart.size();)
    {
        const auto end = std::min(devicePart.find_first_of(separators, start), devicePart.size());
        const auto token = devicePart.substr(start, end - start);
        if (const auto v = hexAfter(token, "vid_"))
            vendor = v;
        else if (const auto p = hexAfter(token, "pid_"))
            product = p;
        start = end + 1;
    }
    if (!vendor || !product)
        return {.known = true, .usb = std::nullopt};
    const auto device = juce::String(std::string(devicePart)).toLowerCase();
    return {.known = true, .usb = UsbPortOwner{{*vendor, *product}, device}};
}

std::string deviceInstanceOfInterfacePath(std::string_view path)
{
    if (!path.starts_with("\\\\?\\") && !path.starts_with("\\\\.\\"))
        return {};
    const auto end = path.find("#{");
    if (end == std::string_view::npos)
        return {};
    std::string instance(path.substr(4, end - 4));
    for (auto& c : instance)
        c = c == '#' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return instance;
}

std::optional<int> sequencerClientOf(const juce::String& identifier)
{
    const auto client = identifier.upToFirstOccurrenceOf("-", false, false);
    const auto port = identifier.fromFirstOccurrenceOf("-", false, false);
    if (client.isEmpty() || port.isEmpty() || !client.containsOnly("0123456789") ||
        !port.containsOnly("0123456789") || client.length() > 6)
        return std::nullopt;
    return client.getIntValue();
}
