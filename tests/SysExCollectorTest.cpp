#include "SysExCollector.h"

#include <gtest/gtest.h>

// What the gadget amplifier makes of the bytes its raw MIDI device gives: the messages, each with the arrival
// of its first byte, and every message it drops reported as broken off with the byte that broke it.
TEST(SysExCollector, DeliversWholeMessagesAndReportsEveryBrokenOne)
{
    using Kind = SysExCollector::Taken::Kind;
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::vector<std::vector<std::uint8_t>> messages;
        std::vector<std::uint8_t> breakingBytes; // 0: too long
        std::size_t firstStart = 0;              // the byte index of the first message's F0
    };
    const std::vector<Case> cases = {
        {"a message after stray bytes", {0x01, 0xF7, 0xF0, 0x10, 0xF7}, {{0xF0, 0x10, 0xF7}}, {}, 2},
        {"real-time bytes within", {0xF0, 0xF8, 0x10, 0xFE, 0xF7}, {{0xF0, 0x10, 0xF7}}, {}, 0},
        {"a note within", {0xF0, 0x10, 0x90, 0xF0, 0x11, 0xF7}, {{0xF0, 0x11, 0xF7}}, {0x90}, 3},
        {"the next start within", {0xF0, 0x10, 0xF0, 0x11, 0xF7}, {{0xF0, 0x11, 0xF7}}, {0xF0}, 2},
        {"too long", {0xF0, 0x01, 0x02, 0x03, 0xF7, 0xF0, 0x01, 0xF7}, {{0xF0, 0x01, 0xF7}}, {0}, 5},
    };
    for (const auto& c : cases)
    {
        SysExCollector collector(4);
        std::vector<std::vector<std::uint8_t>> messages;
        std::vector<std::uint8_t> breakingBytes;
        std::optional<SysExCollector::Clock::time_point> firstStart;
        for (std::size_t i = 0; i < c.bytes.size(); ++i)
        {
            auto taken =
                collector.take(c.bytes[i], SysExCollector::Clock::time_point(std::chrono::seconds(i)));
            if (taken.kind == Kind::message)
            {
                messages.push_back(taken.message);
                firstStart = firstStart.value_or(taken.start);
            }
            else if (taken.kind == Kind::brokenOff)
                breakingBytes.push_back(taken.breakingByte);
        }
        EXPECT_EQ(messages, c.messages) << c.what;
        EXPECT_EQ(breakingBytes, c.breakingBytes) << c.what;
        EXPECT_EQ(firstStart, SysExCollector::Clock::time_point(std::chrono::seconds(c.firstStart)))
            << c.what;
    }
}
