#include "device/PortOwner.h"
#include "device/UsbProbe.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>

// Runs the real libudev enumeration against devices faked by umockdev; the binary runs under
// umockdev-wrapper.

namespace
{
class FakeUsb : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // umockdev's preload library redirects libudev to the test bed; without it the real devices show.
        const char* preload = std::getenv("LD_PRELOAD");
        if (preload == nullptr || std::string(preload).find("libumockdev-preload") == std::string::npos)
            GTEST_SKIP() << "needs umockdev-wrapper";
        testbed = umockdev_testbed_new();
    }

    void TearDown() override
    {
        if (testbed != nullptr)
            g_object_unref(testbed);
    }

    /** A USB device with the given IDs and, if `interfaceClass` is set, one interface of that class. */
    std::pair<std::string, std::string> addDevice(const char* name, const char* vendor, const char* product,
                                                  const char* interfaceClass)
    {
        gchar* device =
            umockdev_testbed_add_device(testbed, "usb", name, nullptr, "idVendor", vendor, "idProduct",
                                        product, nullptr, "DEVTYPE", "usb_device", nullptr);
        std::pair<std::string, std::string> paths{device, ""};
        if (interfaceClass != nullptr)
        {
            const auto interfaceName = std::string(name) + ":1.0";
            gchar* interface =
                umockdev_testbed_add_device(testbed, "usb", interfaceName.c_str(), device, "bInterfaceClass",
                                            interfaceClass, nullptr, "DEVTYPE", "usb_interface", nullptr);
            paths.second = interface;
            g_free(interface);
        }
        g_free(device);
        return paths;
    }

    void remove(const std::pair<std::string, std::string>& paths)
    {
        if (!paths.second.empty())
            umockdev_testbed_remove_device(testbed, paths.second.c_str());
        umockdev_testbed_remove_device(testbed, paths.first.c_str());
    }

    UMockdevTestbed* testbed = nullptr;
};

std::vector<juce::uint16> productIds()
{
    std::vector<juce::uint16> ids;
    for (const auto& d : enumeratePlatformUsbDevices().value_or(std::vector<UsbIds>{}))
        ids.push_back(d.productId);
    return ids;
}
} // namespace

TEST_F(FakeUsb, CountsTheMakersDevicesWithAnAudioInterfaceOnly)
{
    addDevice("1-1", "2a5a", "0045", "01");    // the maker's, audio and MIDI: counts
    addDevice("1-2", "1234", "0045", "01");    // another vendor
    addDevice("1-3", "2a5a", "0044", "03");    // the maker's, but no audio interface
    addDevice("1-4", "2a5a", "4001", nullptr); // no interface at all
    addDevice("1-5", "2A5A", "0022\n", "01");  // a real system's attributes end in a newline

    const auto listed = enumeratePlatformUsbDevices();
    ASSERT_TRUE(listed.has_value());
    const auto& found = *listed;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].vendorId, 0x2A5A);
    EXPECT_EQ(found[0].productId, 0x0045);
    EXPECT_EQ(found[1].productId, 0x0022);
    EXPECT_EQ(found[0].place, "1-1") << "a device is known by the port it is plugged in";
    EXPECT_EQ(found[1].place, "1-5");

    scanUsbDevices();
    EXPECT_TRUE(isUsbDevicePresent(0x45));
    EXPECT_FALSE(isUsbDevicePresent(0x44));
}

TEST_F(FakeUsb, TwoAmplifiersOfOneModelGiveTwoEntriesAndARemovedOneIsGone)
{
    const auto first = addDevice("1-1", "2a5a", "0047", "01");
    addDevice("1-2", "2a5a", "0047", "01");
    EXPECT_EQ(productIds(), (std::vector<juce::uint16>{0x47, 0x47}));

    remove(first);
    EXPECT_EQ(productIds(), (std::vector<juce::uint16>{0x47}));
}

TEST_F(FakeUsb, TiesASoundCardToTheUsbDeviceItSitsOnAndToThatEnumerationOfIt)
{
    const auto amplifier = addDevice("1-1", "2a5a", "0044\n", "01");
    umockdev_testbed_set_attribute(testbed, amplifier.first.c_str(), "devnum", "7\n");
    gchar* card =
        umockdev_testbed_add_device(testbed, "sound", "card1", amplifier.second.c_str(), nullptr, nullptr);
    g_free(card);
    gchar* loose = umockdev_testbed_add_device(testbed, "sound", "card0", nullptr, nullptr, nullptr);
    g_free(loose);

    const auto owner = ownerOfSoundCard(1);
    EXPECT_TRUE(owner.known);
    ASSERT_TRUE(owner.usb.has_value());
    EXPECT_EQ(owner.usb->ids, (UsbIds{0x2A5A, 0x0044, "1-1"}));
    EXPECT_TRUE(owner.usb->device.endsWith("#7")) << owner.usb->device;

    // The same device enumerated again (its device number moves on) is another one, at the same place.
    umockdev_testbed_set_attribute(testbed, amplifier.first.c_str(), "devnum", "8\n");
    EXPECT_NE(ownerOfSoundCard(1).usb->device, owner.usb->device);
    EXPECT_EQ(ownerOfSoundCard(1).usb->ids.place, "1-1");

    const auto onBoard = ownerOfSoundCard(0);
    EXPECT_TRUE(onBoard.known);
    EXPECT_FALSE(onBoard.usb.has_value()) << "a card of no USB device";
    EXPECT_FALSE(ownerOfSoundCard(5).known) << "a card udev does not know tells nothing";
}
