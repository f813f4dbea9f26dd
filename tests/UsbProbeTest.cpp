#include "device/UsbProbe.h"
#include "device/PortOwner.h"

#include <gtest/gtest.h>

TEST(UsbInstanceId, ReadsTheMakersVendorAndAnEightCharacterProductToken)
{
    const auto ids = parseUsbInstanceId("USB\\VID_2A5A&PID_0045\\6&1A2B3C4D&0&2");
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->vendorId, 0x2A5A);
    EXPECT_EQ(ids->productId, 0x0045);

    EXPECT_EQ(parseUsbInstanceId("USB\\VID_2A5A&PID_4001\\X")->productId, 0x4001);
    // Hexadecimal of either case; other characters are skipped; a later token replaces an earlier one.
    EXPECT_EQ(parseUsbInstanceId("USB\\VID_2A5A&PID_00aB")->productId, 0x00AB);
    EXPECT_EQ(parseUsbInstanceId("USB\\VID_2A5A&PID_0x4g")->productId, 0x04);
    EXPECT_EQ(parseUsbInstanceId("USB\\VID_1234&PID_0001&VID_2A5A#PID_0044")->productId, 0x0044);
    // Runs of separators give no empty tokens.
    EXPECT_EQ(parseUsbInstanceId("USB\\\\##VID_2A5A&&PID_0022")->productId, 0x0022);
}

TEST(UsbInstanceId, RefusesOtherVendorsSpellingsAndLengths)
{
    EXPECT_FALSE(parseUsbInstanceId("USB\\VID_2A5A&PID_45\\6&1A2B"));     // 6 characters
    EXPECT_FALSE(parseUsbInstanceId("USB\\VID_2A5A&PID_000045\\6&1A2B")); // 10 characters
    EXPECT_FALSE(parseUsbInstanceId("USB\\vid_2A5A&PID_0045\\6&1A2B"));   // lower-case prefix: no vendor
    EXPECT_FALSE(parseUsbInstanceId("USB\\VID_2a5a&PID_0045\\6&1A2B"));   // the vendor token compares whole
    EXPECT_FALSE(parseUsbInstanceId("USB\\VID_2A5B&PID_0045\\6&1A2B"));   // another vendor
    EXPECT_FALSE(parseUsbInstanceId("USB\\VID_2A5AX&PID_0045\\6&1A2B"));
    EXPECT_FALSE(parseUsbInstanceId("USB\\PID_0045"));
    EXPECT_FALSE(parseUsbInstanceId(""));
}

TEST(UsbPresence, AnswersFromTheLastScanOnly)
{
    std::vector<UsbIds> present{{0x2A5A, 0x0045}, {0x1234, 0x0044}, {0x2A5A, 0x0045}};
    EXPECT_TRUE(scanUsbDevices([&] { return std::optional(present); }));
    EXPECT_TRUE(isUsbDevicePresent(0x45));
    EXPECT_FALSE(isUsbDevicePresent(0x44)) << "another vendor's device is not the maker's";
    EXPECT_FALSE(isUsbDevicePresent(0x46));

    // An enumeration that failed tells nothing: what the last one found stays.
    EXPECT_FALSE(scanUsbDevices([] { return std::optional<std::vector<UsbIds>>(); }));
    EXPECT_TRUE(isUsbDevicePresent(0x45));

    present.clear();
    EXPECT_TRUE(scanUsbDevices([&] { return std::optional(present); }));
    EXPECT_FALSE(isUsbDevicePresent(0x45)) << "a device found by an earlier scan is gone";
}

TEST(PortOwner, IsReadFromAWindowsInterfacePathOrAnAlsaIdentifier)
{
    struct Case
    {
        const char* path;
        bool known;
        std::optional<UsbIds> usb;
    };
    const Case cases[] = {
        {R"(\\?\usb#vid_2a5a&pid_0044&mi_00#7&1a2b&0&0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\global)",
         true, UsbIds{0x2A5A, 0x0044}},
        {R"(\\?\USB#VID_2A5A&PID_4001#5&3B&0&2#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\global-2)", true,
         UsbIds{0x2A5A, 0x4001}},
        {R"(\\?\swd#mmdevapi#{0.0.0.00000000}.{a1b2}#{6994ad04-93ef-11d0-a3cc-00a0c9223196})", true, {}},
        {R"(\\?\usb#vid_2a5a&pid_44#7&1a2b#{6994ad04-93ef-11d0-a3cc-00a0c9223196})", true, {}},
        {"Microsoft GS Wavetable Synth", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        const auto owner = portOwnerFromInterfacePath(c.path);
        EXPECT_EQ(owner.known, c.known);
        EXPECT_EQ(owner.usb.has_value(), c.usb.has_value());
        if (owner.usb && c.usb)
        {
            EXPECT_EQ(owner.usb->ids, *c.usb);
        }
    }
    // Two ports of one device name the same device; the interface class is not part of it.
    EXPECT_EQ(
        portOwnerFromInterfacePath(cases[0].path).usb->device,
        portOwnerFromInterfacePath(R"(\\?\usb#vid_2a5a&pid_0044&mi_00#7&1a2b&0&0000#{x}\other)").usb->device);
    // The device instance, whose parent tells where the amplifier is plugged in.
    EXPECT_EQ(deviceInstanceOfInterfacePath(cases[0].path), R"(USB\VID_2A5A&PID_0044&MI_00\7&1A2B&0&0000)");
    for (const auto* noPath : {"", "20-0", R"(\\?\usb#vid_2a5a&pid_0044)"})
        EXPECT_EQ(deviceInstanceOfInterfacePath(noPath), "") << noPath;

    EXPECT_EQ(sequencerClientOf("20-0"), 20);
    EXPECT_EQ(sequencerClientOf("128-12"), 128);
    for (const auto* notAlsa : {"", "20", "-0", "20-", "a-0", "20-0x", R"(\\?\usb#vid_2a5a)"})
        EXPECT_FALSE(sequencerClientOf(notAlsa).has_value()) << notAlsa;
}
