#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

/** The layout of a firmware image: an opening message, one data message per 512-byte block, a closing
 * message. */
namespace image
{
inline constexpr std::size_t firmwareBytesPerBlock = 512;
inline constexpr std::size_t blockHeaderLength = 4; // block index and block count, big-endian
inline constexpr std::size_t unpackedBlockLength = blockHeaderLength + firmwareBytesPerBlock; // 516
inline constexpr std::size_t packedBlockLength = 590;
inline constexpr std::size_t dataMessageLength = 599;
inline constexpr std::size_t controlMessageLength = 9;
inline constexpr std::size_t maxBlockCount = 0xFFFF;
inline constexpr std::uint8_t fillByte = 0xFF;
/** Bits 1 and 0 of the last packed group's header carry no data; the boot loader's images have them set. */
inline constexpr std::uint8_t lastGroupSpareBits = 0x03;
/** Byte 7 of the messages: 01 in the opening message (command 51), 00 in a data and 01 in the closing message
 * (52). */
inline constexpr std::uint8_t openMarker = 0x01;
inline constexpr std::uint8_t dataMarker = 0x00;
inline constexpr std::uint8_t closeMarker = 0x01;

constexpr std::size_t imageLengthForBlocks(std::size_t blockCount)
{
    return 2 * controlMessageLength + blockCount * dataMessageLength;
}
} // namespace image

/** Packs firmware bytes into an image for a device code. Empty, with a reason in `error`, when the firmware
    is empty or needs more blocks than a 16-bit block count can number. */
std::optional<std::vector<std::uint8_t>> packFirmwareImage(std::span<const std::uint8_t> firmware,
                                                           std::uint8_t deviceCode, std::string& error);

/** Length of the message that starts at `position` of an image: from its F0 up to and including the next F7.
    0 when no whole message starts there: another byte than F0, a status byte before the F7, no F7 at all, or
    a position at or past the end. Reads nothing outside the image. */
std::size_t imageMessageLength(std::span<const std::uint8_t> image, std::size_t position);

/** The number of messages of an image made of whole messages back to back and nothing else; empty for any
    other image, an empty one included. This is the walk the update worker makes before it sends anything. */
std::optional<std::size_t> countImageMessages(std::span<const std::uint8_t> image);
