#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

/** Gathers system exclusive messages from bytes as they arrive, each with the arrival time of its first byte.
    Real-time bytes (0xF8 and above) may come between any two and are passed over, as are bytes outside a
    message. A message that another status byte interrupts (another message's start among them), or that grows
    longer than any the amplifier takes, is dropped and reported as broken off. */
class SysExCollector
{
public:
    using Clock = std::chrono::steady_clock;
    /** Far more than the longest image message (about a kilobyte): a stream that never ends a message does
        not grow without bound. */
    static constexpr std::size_t longestMessage = 64 * 1024;

    explicit SysExCollector(std::size_t longestTaken = longestMessage) : longest(longestTaken) {}

    struct Taken
    {
        enum class Kind
        {
            nothing,
            message,
            brokenOff
        };
        Kind kind = Kind::nothing;
        /** A whole message, 0xF0 to 0xF7. */
        std::vector<std::uint8_t> message;
        /** When the message's first byte arrived. */
        Clock::time_point start;
        /** The status byte that broke a message off; 0 for one that grew too long. */
        std::uint8_t breakingByte = 0;
    };

    Taken take(std::uint8_t byte, Clock::time_point time);
    /** Forgets a message begun, as when the device it came from goes away. */
    void clear();

private:
    const std::size_t longest;
    std::vector<std::uint8_t> message;
    Clock::time_point start;
};
