// Any bytes as a firmware image, through the walk the update worker makes before it sends: it must end, stay
// inside the bytes, and agree with an independent reading.
#include "firmware/FirmwareImage.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> image(data, size);
    const auto counted = countImageMessages(image);

    // Independently: split at every F7; each piece must be F0, then bytes below 80, then that F7, and the
    // pieces must cover the bytes with nothing left over.
    std::optional<std::size_t> expected;
    if (size > 0)
    {
        std::size_t messages = 0, start = 0;
        bool whole = true;
        for (std::size_t i = 0; i < size && whole; ++i)
        {
            if (data[i] != 0xF7)
                continue;
            whole = data[start] == 0xF0 && i > start;
            for (std::size_t j = start + 1; j < i && whole; ++j)
                whole = data[j] < 0x80;
            ++messages;
            start = i + 1;
        }
        if (whole && start == size)
            expected = messages;
    }
    if (counted != expected)
        std::abort();

    // The worker's own steps over the same bytes: every step moves on and stays inside.
    std::size_t position = 0, steps = 0;
    while (position < size)
    {
        const auto length = imageMessageLength(image, position);
        if (length == 0)
            break;
        if (position + length > size)
            std::abort();
        position += length;
        ++steps;
    }
    if (counted && (position != size || steps != *counted))
        std::abort();
    return 0;
}
