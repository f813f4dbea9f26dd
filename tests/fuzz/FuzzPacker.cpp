// Any firmware bytes packed for any device code and read back independently give the same firmware, in the
// boot loader's layout.
#include "firmware/FirmwareImage.h"

#include <algorithm>
#include <cstdlib>

namespace
{
void check(bool condition)
{
    if (!condition)
        std::abort();
}

/** Reads one 7-bit packed run back: a header of top bits before each group of up to seven bytes. */
std::vector<std::uint8_t> unpack(const std::uint8_t* packed, std::size_t length)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < length;)
    {
        const auto count = std::min<std::size_t>(7, length - i - 1);
        for (std::size_t j = 0; j < count; ++j)
            bytes.push_back(
                static_cast<std::uint8_t>(packed[i + 1 + j] | (((packed[i] >> (6 - j)) & 1) << 7)));
        i += count + 1;
    }
    return bytes;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto code = static_cast<std::uint8_t>(data[0] & 0x7F);
    const std::span<const std::uint8_t> firmware(data + 1, size - 1);
    std::string error;
    const auto image = packFirmwareImage(firmware, code, error);
    if (firmware.empty())
    {
        check(!image && !error.empty());
        return 0;
    }
    check(image.has_value());

    const auto blocks = (firmware.size() + 511) / 512;
    const auto& bytes = *image;
    check(bytes.size() == image::imageLengthForBlocks(blocks));
    check(countImageMessages(bytes) == blocks + 2);
    const std::uint8_t open[] = {0xF0, 0x00, 0x21, 0x5A, 0x00, code, 0x51, 0x01, 0xF7};
    const std::uint8_t close[] = {0xF0, 0x00, 0x21, 0x5A, 0x00, code, 0x52, 0x01, 0xF7};
    check(std::equal(open, open + 9, bytes.begin()));
    check(std::equal(close, close + 9, bytes.end() - 9));

    std::vector<std::uint8_t> readBack;
    for (std::size_t b = 0; b < blocks; ++b)
    {
        const auto* message = bytes.data() + 9 + b * 599;
        check(message[0] == 0xF0 && message[5] == code && message[6] == 0x52 && message[7] == 0x00 &&
              message[598] == 0xF7);
        const auto block = unpack(message + 8, 590);
        check(block.size() == 516);
        check(((block[0] << 8) | block[1]) == static_cast<int>(b));
        check(((block[2] << 8) | block[3]) == static_cast<int>(blocks));
        readBack.insert(readBack.end(), block.begin() + 4, block.end());
    }
    check(std::equal(firmware.begin(), firmware.end(), readBack.begin()));
    check(std::all_of(readBack.begin() + static_cast<long>(firmware.size()), readBack.end(),
                      [](std::uint8_t b) { return b == 0xFF; }));
    return 0;
}
