#include "device/UsbProbe.h"

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
    scanUsbDevices([&] { return present; });
    EXPECT_TRUE(isUsbDevicePresent(0x45));
    EXPECT_FALSE(isUsbDevicePresent(0x44)) << "another vendor's device is not the maker's";
    EXPECT_FALSE(isUsbDevicePresent(0x46));

    present.clear();
    scanUsbDevices([&] { return present; });
    EXPECT_FALSE(isUsbDevicePresent(0x45)) << "a device found by an earlier scan is gone";
}
