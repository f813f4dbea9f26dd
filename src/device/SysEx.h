#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

/** Bytes of the SysEx frame that every message to and from an amplifier uses. */
namespace sysex
{
inline constexpr std::uint8_t startByte = 0xF0;
inline constexpr std::uint8_t endByte = 0xF7;

/** F0, the three manufacturer bytes, 00, device code, command: the fixed head of every message. */
inline constexpr std::size_t headLength = 7;
/** Replies are read up to their packed group: bytes 0 to 11. */
inline constexpr std::size_t replyReadLength = 12;
/** A packed group of 4 data bytes: a header and 4 bytes. */
inline constexpr std::size_t packedGroupLength = 5;
/** The longest text a text command carries. */
inline constexpr std::size_t maxTextLength = 256;

enum Command : std::uint8_t
{
    queryVersion = 0x03,
    versionReply = 0x04,
    queryInfo = 0x05,
    infoReply = 0x06,
    textCommand = 0x15,
    imageOpen = 0x51,
    imageRecord = 0x52,
};

/** A received message that carries the maker's head and is long enough to hold a packed group. */
struct ReceivedMessage
{
    std::uint8_t deviceCode = 0;
    std::uint8_t command = 0;
    std::array<std::uint8_t, packedGroupLength> packedGroup{};
};
} // namespace sysex

/** 7-bit packing: groups of up to 7 bytes, each written as a header of their top bits and the bytes' low 7
 * bits. */
std::vector<std::uint8_t> packSevenBit(std::span<const std::uint8_t> source);

/** Unpacks one group of five packed bytes (a header and four bytes) into four data bytes. */
std::array<std::uint8_t, 4> unpackSevenBit(std::span<const std::uint8_t, sysex::packedGroupLength> packed);

/** A whole message: F0, maker ID, 00, device code, command, payload, F7. */
std::vector<std::uint8_t> makeSysExMessage(std::uint8_t deviceCode, std::uint8_t command,
                                           std::span<const std::uint8_t> payload = {});

std::vector<std::uint8_t> makeQueryVersion(std::uint8_t deviceCode);
std::vector<std::uint8_t> makeQueryInfo(std::uint8_t deviceCode);

/** A text command with the text 7-bit packed; empty when the text is longer than 256 bytes. */
std::optional<std::vector<std::uint8_t>> makeTextCommand(std::string_view text, std::uint8_t deviceCode);

/** Reads the head and the packed group of a received message; empty when it is shorter than 12 bytes
    or its first five bytes are not F0, the maker's ID and 00. The device code is not checked here. */
std::optional<sysex::ReceivedMessage> readReceivedMessage(const std::uint8_t* data, int size);

/** The firmware version in a version reply's packed group: the four data bytes, least significant first. */
std::int32_t decodeFirmwareVersion(const std::array<std::uint8_t, sysex::packedGroupLength>& packedGroup);
