#include "device/SysEx.h"
#include "device/MakerIds.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

namespace
{
Bytes bytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}
} // namespace

TEST(SevenBitPacking, PacksGroupsOfSevenWithTheirTopBitsInTheHeader)
{
    EXPECT_EQ(packSevenBit(bytesOf("erasevs")), (Bytes{0x00, 0x65, 0x72, 0x61, 0x73, 0x65, 0x76, 0x73}));
    const auto eraseApp = packSevenBit(bytesOf("eraseapp"));
    ASSERT_EQ(eraseApp.size(), 10u);
    EXPECT_EQ(Bytes(eraseApp.begin() + 8, eraseApp.end()), (Bytes{0x00, 0x70}));
    EXPECT_EQ(packSevenBit(Bytes{0x80, 0x01, 0xFF}), (Bytes{0x50, 0x00, 0x01, 0x7F}));
    EXPECT_TRUE(packSevenBit(Bytes{}).empty());

    // n bytes give n + ceil(n / 7), and no packed byte has bit 7 set.
    for (std::size_t n : {1u, 6u, 7u, 8u, 14u, 516u})
    {
        const Bytes source(n, 0xFF);
        const auto packed = packSevenBit(source);
        EXPECT_EQ(packed.size(), n + (n + 6) / 7) << n;
        for (const auto b : packed)
            EXPECT_EQ(b & 0x80, 0) << n;
    }
}

TEST(SevenBitPacking, UnpackingAGroupRestoresTheTopBits)
{
    const std::array<std::uint8_t, 5> version131{0x40, 0x03, 0x00, 0x00, 0x00};
    EXPECT_EQ(unpackSevenBit(version131), (std::array<std::uint8_t, 4>{0x83, 0x00, 0x00, 0x00}));
    EXPECT_EQ(decodeFirmwareVersion(version131), 131);
    EXPECT_EQ(decodeFirmwareVersion({0x00, 0x4A, 0x07, 0x00, 0x00}), 1866);

    // Packing then unpacking four bytes is the identity, for bytes with and without their top bit.
    for (const std::array<std::uint8_t, 4> data :
         {std::array<std::uint8_t, 4>{0xEA, 0x08, 0x00, 0x00}, {0xFF, 0x80, 0x7F, 0x01}, {0, 0, 0, 0x80}})
    {
        const auto packed = packSevenBit(data);
        ASSERT_EQ(packed.size(), 5u);
        EXPECT_EQ(unpackSevenBit(std::span<const std::uint8_t, 5>(packed.data(), 5)), data);
    }
}

TEST(SysExMessages, QueriesAndTextCommandsCarryTheDeviceCode)
{
    const auto m = maker::sysExManufacturerId;
    EXPECT_EQ(makeQueryVersion(0x0E), (Bytes{0xF0, m[0], m[1], m[2], 0x00, 0x0E, 0x03, 0xF7}));
    EXPECT_EQ(makeQueryInfo(0x7C), (Bytes{0xF0, m[0], m[1], m[2], 0x00, 0x7C, 0x05, 0xF7}));

    const auto eraseVs = makeTextCommand("erasevs", 0x0F);
    ASSERT_TRUE(eraseVs);
    EXPECT_EQ(eraseVs->size(), 16u);
    EXPECT_EQ(*eraseVs, (Bytes{0xF0, m[0], m[1], m[2], 0x00, 0x0F, 0x15, 0x00, 0x65, 0x72, 0x61, 0x73, 0x65,
                               0x76, 0x73, 0xF7}));
    EXPECT_EQ(makeTextCommand("eraseapp", 0x0F)->size(), 18u);
    EXPECT_EQ(makeTextCommand("", 0x01), (Bytes{0xF0, m[0], m[1], m[2], 0x00, 0x01, 0x15, 0xF7}));

    // A text of 256 bytes is the longest; one more is refused rather than cut.
    EXPECT_TRUE(makeTextCommand(std::string(256, 'a'), 0x01));
    EXPECT_FALSE(makeTextCommand(std::string(257, 'a'), 0x01));
}

TEST(SysExMessages, ReceivedMessagesAreReadOnlyWhenWholeAndOfTheMaker)
{
    const auto m = maker::sysExManufacturerId;
    const Bytes reply{0xF0, m[0], m[1], m[2], 0x00, 0x0E, 0x04, 0x40, 0x03, 0x00, 0x00, 0x00, 0xF7};
    const auto read = readReceivedMessage(reply.data(), static_cast<int>(reply.size()));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->deviceCode, 0x0E);
    EXPECT_EQ(read->command, 0x04);
    EXPECT_EQ(decodeFirmwareVersion(read->packedGroup), 131);

    // Twelve bytes are enough (the F7 is never looked at); eleven are not, nor any shorter prefix.
    EXPECT_TRUE(readReceivedMessage(reply.data(), 12));
    for (int size = 0; size < 12; ++size)
    {
        // A copy of exactly `size` bytes, so that reading past it would be caught by the sanitizers.
        const std::unique_ptr<std::uint8_t[]> shortCopy(new std::uint8_t[static_cast<std::size_t>(size) + 1]);
        std::copy_n(reply.begin(), size, shortCopy.get());
        EXPECT_FALSE(readReceivedMessage(size == 0 ? nullptr : shortCopy.get(), size)) << size;
    }

    auto otherMaker = reply;
    otherMaker[2] = 0x22;
    EXPECT_FALSE(readReceivedMessage(otherMaker.data(), 13));
    auto notZero = reply;
    notZero[4] = 0x01;
    EXPECT_FALSE(readReceivedMessage(notZero.data(), 13));
    auto notSysEx = reply;
    notSysEx[0] = 0x90;
    EXPECT_FALSE(readReceivedMessage(notSysEx.data(), 13));
}
