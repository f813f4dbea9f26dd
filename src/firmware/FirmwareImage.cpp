#include "firmware/FirmwareImage.h"

#include "device/SysEx.h"

#include <algorithm>
#include <cassert>

std::optional<std::vector<std::uint8_t>> packFirmwareImage(std::span<const std::uint8_t> firmware,
                                                           std::uint8_t deviceCode, std::string& error)
{
    if (firmware.empty())
    {
        error = "the firmware is empty";
        return std::nullopt;
    }

    const auto blockCount =
        (firmware.size() + image::firmwareBytesPerBlock - 1) / image::firmwareBytesPerBlock;
    if (blockCount > image::maxBlockCount)
    {
        error = "the firmware has " + std::to_string(firmware.size()) + " bytes; at most " +
                std::to_string(image::maxBlockCount * image::firmwareBytesPerBlock) +
                " fit the 16-bit block count";
        return std::nullopt;
    }

    std::vector<std::uint8_t> result;
    result.reserve(image::imageLengthForBlocks(blockCount));

    auto append = [&result](const std::vector<std::uint8_t>& message)
    { result.insert(result.end(), message.begin(), message.end()); };
    const std::uint8_t openPayload[] = {image::openMarker};
    append(makeSysExMessage(deviceCode, sysex::imageOpen, openPayload));

    std::vector<std::uint8_t> block(image::unpackedBlockLength);
    for (std::size_t index = 0; index < blockCount; ++index)
    {
        block[0] = static_cast<std::uint8_t>(index >> 8);
        block[1] = static_cast<std::uint8_t>(index & 0xFF);
        block[2] = static_cast<std::uint8_t>(blockCount >> 8);
        block[3] = static_cast<std::uint8_t>(blockCount & 0xFF);

        const auto offset = index * image::firmwareBytesPerBlock;
        const auto available = std::min(image::firmwareBytesPerBlock, firmware.size() - offset);
        auto body = block.begin() + image::blockHeaderLength;
        std::copy_n(firmware.begin() + static_cast<std::ptrdiff_t>(offset), available, body);
        std::fill(body + static_cast<std::ptrdiff_t>(available), block.end(), image::fillByte);

        auto payload = packSevenBit(block);
        assert(payload.size() == image::packedBlockLength);
        const auto lastHeader = payload.size() - 1 - (image::unpackedBlockLength % 7);
        payload[lastHeader] |= image::lastGroupSpareBits;
        payload.insert(payload.begin(), image::dataMarker);
        append(makeSysExMessage(deviceCode, sysex::imageRecord, payload));
    }

    const std::uint8_t closePayload[] = {image::closeMarker};
    append(makeSysExMessage(deviceCode, sysex::imageRecord, closePayload));
    return result;
}

std::size_t imageMessageLength(std::span<const std::uint8_t> image, std::size_t position)
{
    if (position >= image.size() || image[position] != sysex::startByte)
        return 0;
    for (auto i = position + 1; i < image.size(); ++i)
    {
        if (image[i] == sysex::endByte)
            return i - position + 1;
        if ((image[i] & 0x80) != 0)
            return 0;
    }
    return 0;
}

std::optional<std::size_t> countImageMessages(std::span<const std::uint8_t> image)
{
    if (image.empty())
        return std::nullopt;
    std::size_t messages = 0;
    for (std::size_t position = 0; position < image.size(); ++messages)
    {
        const auto length = imageMessageLength(image, position);
        if (length == 0)
            return std::nullopt;
        position += length;
    }
    return messages;
}
