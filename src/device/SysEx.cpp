#include "device/SysEx.h"

#include "device/MakerIds.h"

#include <algorithm>

std::vector<std::uint8_t> packSevenBit(std::span<const std::uint8_t> source)
{
    std::vector<std::uint8_t> packed;
    packed.reserve(source.size() + (source.size() + 6) / 7);

    for (std::size_t groupStart = 0; groupStart < source.size(); groupStart += 7)
    {
        const auto groupLength = std::min<std::size_t>(7, source.size() - groupStart);
        const auto headerIndex = packed.size();
        packed.push_back(0);

        for (std::size_t i = 0; i < groupLength; ++i)
        {
            const auto byte = source[groupStart + i];
            if ((byte & 0x80) != 0)
                packed[headerIndex] = static_cast<std::uint8_t>(packed[headerIndex] | (0x40 >> i));
            packed.push_back(static_cast<std::uint8_t>(byte & 0x7F));
        }
    }
    return packed;
}

std::array<std::uint8_t, 4> unpackSevenBit(std::span<const std::uint8_t, sysex::packedGroupLength> packed)
{
    std::array<std::uint8_t, 4> data{};
    const auto header = packed[0];
    for (std::size_t k = 0; k < data.size(); ++k)
    {
        const bool topBit = (header & (0x40 >> k)) != 0;
        data[k] = static_cast<std::uint8_t>((packed[k + 1] & 0x7F) | (topBit ? 0x80 : 0x00));
    }
    return data;
}

std::vector<std::uint8_t> makeSysExMessage(std::uint8_t deviceCode, std::uint8_t command,
                                           std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> message;
    message.reserve(sysex::headLength + payload.size() + 1);
    message.push_back(sysex::startByte);
    message.insert(message.end(), maker::sysExManufacturerId.begin(), maker::sysExManufacturerId.end());
    message.push_back(0x00);
    message.push_back(deviceCode);
    message.push_back(command);
    message.insert(message.end(), payload.begin(), payload.end());
    message.push_back(sysex::endByte);
    return message;
}

std::vector<std::uint8_t> makeQueryVersion(std::uint8_t deviceCode)
{
    return makeSysExMessage(deviceCode, sysex::queryVersion);
}

std::vector<std::uint8_t> makeQueryInfo(std::uint8_t deviceCode)
{
    return makeSysExMessage(deviceCode, sysex::queryInfo);
}

std::optional<std::vector<std::uint8_t>> makeTextCommand(std::string_view text, std::uint8_t deviceCode)
{
    if (text.size() > sysex::maxTextLength)
        return std::nullopt;

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto packed = packSevenBit({bytes, text.size()});
    return makeSysExMessage(deviceCode, sysex::textCommand, packed);
}

std::optional<sysex::ReceivedMessage> readReceivedMessage(const std::uint8_t* data, int size)
{
    if (data == nullptr || size < static_cast<int>(sysex::replyReadLength))
        return std::nullopt;

    if (data[0] != sysex::startByte ||
        !std::equal(maker::sysExManufacturerId.begin(), maker::sysExManufacturerId.end(), data + 1) ||
        data[4] != 0x00)
        return std::nullopt;

    sysex::ReceivedMessage received;
    received.deviceCode = data[5];
    received.command = data[6];
    std::copy_n(data + sysex::headLength, sysex::packedGroupLength, received.packedGroup.begin());
    return received;
}

std::int32_t decodeFirmwareVersion(const std::array<std::uint8_t, sysex::packedGroupLength>& packedGroup)
{
    const auto d = unpackSevenBit(packedGroup);
    const auto value = static_cast<std::uint32_t>(d[0]) | (static_cast<std::uint32_t>(d[1]) << 8) |
                       (static_cast<std::uint32_t>(d[2]) << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
    return static_cast<std::int32_t>(value);
}
