#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

/** The gadget amplifier's record: what it received and what became of it, one line per event, written and
    flushed as it happens (a road that times out still has everything so far). scripts/vm/judge.py is its
    one reader. Times are milliseconds on the monotonic clock.

      <ms> <mode> <hex>                  a message received: the arrival of its first byte, the amplifier's
                                         mode then (app, boot or generic), its bytes
      # attach 0x<pid> "<name>" at <ms>  the device shown to the host under that product ID and port name
      # detach at <ms>                   the device taken away
      # reply <hex>[ could not be written] at <ms>
      # plugged in again                 the amplifier, having unplugged itself, is plugged in again
      # violation: <text>                a rule of the amplifier that the sender broke
      # end: <n> image(s), version <v>[, erased]
      # <text>                           any other remark */
class AmplifierRecord
{
public:
    using Clock = std::chrono::steady_clock;

    ~AmplifierRecord();
    bool open(const std::string& path);

    void received(Clock::time_point arrival, const char* mode, const std::vector<std::uint8_t>& bytes);
    void attached(std::uint16_t productId, const std::string& portName, Clock::time_point time);
    void detached(Clock::time_point time);
    void replied(const std::vector<std::uint8_t>& bytes, bool written, Clock::time_point time);
    void pluggedInAgain();
    void violation(const std::string& text);
    void end(int completedImages, int version, bool erased);
    void remark(const std::string& text);

    /** A USB ID as the record and the gadget's configuration write it: "0x" and four hex digits. */
    static std::string hex(unsigned value, int digits);

private:
    void line(const std::string& text);

    std::mutex lock;
    FILE* file = nullptr;
};
