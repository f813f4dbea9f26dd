#include "engine/KnownDeviceTable.h"

namespace
{
// Order matters: every lookup takes the first matching record. The models come first, then the generic
// boot loaders, which carry no firmware of their own.
// clang-format off
const KnownDevice knownDeviceTable[] = {
    // displayName    firmwareKey    appPID  bootPID code  appPortName          bootPortName           generic  fallback
    { "LX40",         "LX40",        0x0045, 0x0044, 0x0E, "KW LX40",           "KW LX40 Boot",        0x4001,  "" },
    { "LX60",         "LX60",        0x0047, 0x0046, 0x0F, "KW LX60",           "KW LX60 Boot",        0x4001,  "" },
    { "LC20-D MKII",  "LC20-D_MKII", 0x0032, 0x0031, 0x7C, "KW LC20-D MKII",    "KW LC20-D MKII Boot", 0x0022,  "" },
    { "LC20-C",       "LC20-C",      0x0034, 0x0033, 0x7D, "KW LC20-C",         "KW LC20-C Boot",      0x0022,  "" },
    { "LC20-B",       "LC20-B",      0x0036, 0x0035, 0x7E, "KW LC20-B",         "KW LC20-B Boot",      0x0022,  "" },
    { "LC20-A",       "LC20-A",      0x0038, 0x0037, 0x01, "KW LC20-A",         "KW LC20-A Boot",      0x0022,  "" },
    { "LX20",         "LX20",        0x0021, 0x0020, 0x74, "KW LX20",           "KW LX20 Boot",        0x0022,  "" },
    { "LC20 MKI",     "LC20",        0x0011, 0x0010, 0x6C, "KW LC20",           "KW LC20 Boot",        0x0022,  "" },
    { "LX40/60",      "",            0x0000, 0x4001, 0x00, "KW Amp Boot",       "KW Amp Boot",         0,       "USB Audio Device" },
    { "LX/LC20",      "",            0x0000, 0x0022, 0x00, "KW Amp Boot",       "KW Amp Boot",         0,       "USB Audio Device" },
    { "LC20 COMBO",   "",            0x0000, 0x0022, 0x00, "KW Bass Amp Boot",  "KW Bass Amp Boot",    0,       "USB Audio Device" },
};
// clang-format on

} // namespace

void appendKnownDevices(juce::OwnedArray<KnownDevice>& devices)
{
    for (const auto& record : knownDeviceTable)
        devices.add(new KnownDevice(record));
}

juce::String getFirmwareKeyForName(const juce::OwnedArray<KnownDevice>& devices,
                                   const juce::String& displayName)
{
    const auto* device =
        findKnownDevice(devices, [&](const KnownDevice& d) { return d.displayName == displayName; });
    return device != nullptr ? device->firmwareKey : juce::String();
}

juce::String getDisplayNameForKey(const juce::OwnedArray<KnownDevice>& devices,
                                  const juce::String& firmwareKey)
{
    const auto* device = findKnownDeviceByKey(devices, firmwareKey);
    return device != nullptr ? device->displayName : juce::String();
}

const KnownDevice* findKnownDeviceByKey(const juce::OwnedArray<KnownDevice>& devices,
                                        const juce::String& firmwareKey)
{
    return findKnownDevice(devices, [&](const KnownDevice& d) { return d.firmwareKey == firmwareKey; });
}

const KnownDevice* findKnownDeviceByAppPortName(const juce::OwnedArray<KnownDevice>& devices,
                                                const juce::String& appPortName)
{
    return findKnownDevice(devices, [&](const KnownDevice& d) { return d.appPortName == appPortName; });
}
