// Any bytes, as a raw MIDI device may give them, through the gadget amplifier's message collector (with a
// short length limit, so that it is reached): what it delivers and when must agree with an independent
// reading, and nothing it delivers may be malformed.
#include "SysExCollector.h"

#include <cstdlib>

namespace
{
void check(bool condition)
{
    if (!condition)
        std::abort();
}

constexpr std::size_t longest = 24;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using Clock = SysExCollector::Clock;
    const auto at = [](std::size_t i) { return Clock::time_point(std::chrono::microseconds(i)); };

    SysExCollector collector(longest);
    std::vector<std::pair<std::vector<std::uint8_t>, Clock::time_point>> delivered;
    for (std::size_t i = 0; i < size; ++i)
        if (auto taken = collector.take(data[i], at(i)); taken.kind == SysExCollector::Taken::Kind::message)
            delivered.emplace_back(std::move(taken.message), taken.start);

    // Independently: with the real-time bytes left out, a message is an F0, then bytes below 80, then F7,
    // no longer than the limit; it started where its F0 was.
    std::vector<std::pair<std::vector<std::uint8_t>, Clock::time_point>> expected;
    std::vector<std::uint8_t> current;
    std::size_t startIndex = 0;
    for (std::size_t i = 0; i < size; ++i)
    {
        const auto b = data[i];
        if (b >= 0xF8)
            continue;
        if (b == 0xF0)
        {
            current.assign(1, b);
            startIndex = i;
        }
        else if (current.empty() || current.size() >= longest || (b >= 0x80 && b != 0xF7))
            current.clear();
        else if (current.push_back(b); b == 0xF7)
        {
            expected.emplace_back(current, at(startIndex));
            current.clear();
        }
    }
    check(delivered == expected);
    for (const auto& [message, start] : delivered)
        check(message.size() >= 2 && message.size() <= longest && message.front() == 0xF0 &&
              message.back() == 0xF7);
    return 0;
}
