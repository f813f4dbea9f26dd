#include "device/KnownDevice.h"

const KnownDevice* findKnownDeviceByBootProductId(const KnownDevices& devices, int productId)
{
    return findKnownDevice(devices, [&](const KnownDevice& d) { return d.bootProductId == productId; });
}

const KnownDevice* findKnownDeviceByCode(const KnownDevices& devices, juce::uint8 deviceCode)
{
    return findKnownDevice(devices, [&](const KnownDevice& d) { return d.deviceCode == deviceCode; });
}

juce::StringArray getBootPortNames(const KnownDevices& devices, int productId)
{
    juce::StringArray names;
    for (const auto* device : devices)
        if (device->bootProductId == productId && device->bootPortName.isNotEmpty())
            names.addIfNotAlreadyThere(device->bootPortName);
    return names;
}

std::vector<FallbackPortName> getFallbackPortNames(const KnownDevices& devices)
{
    std::vector<FallbackPortName> names;
    auto add = [&](const juce::String& name, bool ignoreCase)
    {
        const bool known = std::any_of(names.begin(), names.end(),
                                       [&](const FallbackPortName& n) { return n.name == name; });
        if (name.isNotEmpty() && !known)
            names.push_back({name, ignoreCase});
    };
    for (const auto* device : devices)
        if (device->isGenericBootLoader())
            add(device->fallbackPortName, true);
    for (const auto* device : devices)
        if (device->isGenericBootLoader())
            add(device->bootPortName, false);
    return names;
}
