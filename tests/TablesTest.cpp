#include "VirtualMidiSystem.h"
#include "engine/DeviceCom.h"
#include "engine/KnownDeviceTable.h"

#include <gtest/gtest.h>

namespace
{
juce::OwnedArray<KnownDevice> table()
{
    juce::OwnedArray<KnownDevice> devices;
    appendKnownDevices(devices);
    return devices;
}

FirmwareCatalogue catalogue()
{
    FirmwareCatalogue entries;
    fillFirmwareCatalogue(entries);
    return entries;
}
} // namespace

TEST(KnownDeviceTable, ModelRowsTieBootIdsAndPortNamesToTheirApplicationIdentity)
{
    const auto devices = table();
    ASSERT_EQ(devices.size(), 11);
    for (int i = 0; i < 8; ++i)
    {
        const auto& d = *devices[i];
        EXPECT_EQ(d.bootProductId, d.appProductId - 1) << d.displayName;
        EXPECT_EQ(d.bootPortName, d.appPortName + " Boot") << d.displayName;
        EXPECT_TRUE(d.firmwareKey.isNotEmpty());
    }
    for (int i = 8; i < 11; ++i)
    {
        EXPECT_TRUE(devices[i]->firmwareKey.isEmpty());
        EXPECT_EQ(devices[i]->appProductId, 0);
        EXPECT_EQ(devices[i]->deviceCode, 0);
    }
    // The device codes of LC20-D MKII to LC20-A run 7C, 7D, 7E and then 01.
    EXPECT_EQ(devices[2]->deviceCode, 0x7C);
    EXPECT_EQ(devices[4]->deviceCode, 0x7E);
    EXPECT_EQ(devices[5]->deviceCode, 0x01);
}

TEST(KnownDeviceTable, LookupsTakeTheFirstExactCaseSensitiveMatch)
{
    const auto devices = table();
    EXPECT_EQ(getFirmwareKeyForName(devices, "LC20 MKI"), "LC20");
    EXPECT_EQ(getFirmwareKeyForName(devices, "LC20-D MKII"), "LC20-D_MKII");
    EXPECT_EQ(getFirmwareKeyForName(devices, "LX40/60"), "");
    EXPECT_EQ(getFirmwareKeyForName(devices, "lx40"), "");
    EXPECT_EQ(getFirmwareKeyForName(devices, "LX4"), "");
    EXPECT_EQ(getFirmwareKeyForName(devices, "Nothing"), "");

    EXPECT_EQ(getDisplayNameForKey(devices, "LC20"), "LC20 MKI");
    EXPECT_EQ(getDisplayNameForKey(devices, ""), "LX40/60"); // the first record with an empty key
    EXPECT_EQ(getDisplayNameForKey(devices, "lc20"), "");

    // Two generic boot loaders share 0x0022; a search by boot product ID always yields the first.
    const auto* byBootId = findKnownDeviceByBootProductId(devices, 0x0022);
    ASSERT_NE(byBootId, nullptr);
    EXPECT_EQ(byBootId->displayName, "LX/LC20");
    EXPECT_EQ(byBootId->bootPortName, "KW Amp Boot");

    ASSERT_NE(findKnownDeviceByAppPortName(devices, "KW LC20-D MKII"), nullptr);
    EXPECT_EQ(findKnownDeviceByAppPortName(devices, "KW LC20-D MKII")->firmwareKey, "LC20-D_MKII");
    EXPECT_EQ(findKnownDeviceByAppPortName(devices, "KW Amp Boot")->displayName, "LX40/60");
}

TEST(FirmwareCatalogue, HoldsEightEntriesInOrderWithTheirImages)
{
    const auto entries = catalogue();
    const juce::StringArray keys{"LX40", "LX60", "LX20", "LC20-B", "LC20-D_MKII", "LC20-C", "LC20-A", "LC20"};
    EXPECT_EQ(getFirmwareKeys(entries), keys);
    for (const auto* entry : entries)
    {
        EXPECT_NE(entry->imageData, nullptr) << entry->firmwareKey;
        EXPECT_GT(entry->imageSize, 100u) << entry->firmwareKey;
    }
    // Every key belongs to exactly one known device.
    const auto devices = table();
    for (const auto& key : keys)
    {
        int owners = 0;
        for (const auto* d : devices)
            owners += d->firmwareKey == key ? 1 : 0;
        EXPECT_EQ(owners, 1) << key;
    }
}

TEST(FirmwareCatalogue, FindsOnlyExactKeysAndDescribesItsVersions)
{
    const auto entries = catalogue();
    ASSERT_NE(findFirmware(entries, "LC20-D_MKII"), nullptr);
    EXPECT_EQ(findFirmware(entries, "LC20-D_MKII"), entries[4]);
    EXPECT_EQ(findFirmware(entries, "LC20-D MKII"), nullptr);
    EXPECT_EQ(findFirmware(entries, "lx40"), nullptr);
    EXPECT_EQ(findFirmware(entries, ""), nullptr);

    EXPECT_EQ(getSoftwareVersionsText(entries),
              "LX40: 1.1.00 (131)\nLX60: 1.1.00 (131)\nLX20: 3.1.00 (2282)\n"
              "LC20-B: 3.1.00 (2282)\nLC20-D_MKII: 3.1.00 (2282)\n"
              "LC20-C: 3.1.00 (2282)\nLC20-A: 3.1.00 (2282)\nLC20: 2.0.00 (1994)\n");
    EXPECT_EQ(getSoftwareVersionsText(FirmwareCatalogue()), "");

    for (const auto version : {131, 1994, 2282})
        EXPECT_TRUE(isCatalogueVersion(entries, version)) << version;
    for (const auto version : {0, 130, 1000, 2283})
        EXPECT_FALSE(isCatalogueVersion(entries, version)) << version;
}

TEST(FirmwareCatalogue, DisplayNamesAndKeysGoBothWaysThroughTheKnownDevices)
{
    VirtualMidiSystem midi;
    DeviceCom deviceCom({.ports = &midi, .enumerateUsb = midi.usbEnumerator()});
    const juce::StringArray names{"LX40",        "LX60",   "LX20",   "LC20-B",
                                  "LC20-D MKII", "LC20-C", "LC20-A", "LC20 MKI"};
    EXPECT_EQ(deviceCom.getFirmwareDisplayNames(), names);
    for (const auto& name : names)
        EXPECT_NE(findFirmware(catalogue(), deviceCom.getFirmwareKeyForName(name)), nullptr) << name;
    EXPECT_TRUE(deviceCom.midiInterface.isTimerRunning());
}
