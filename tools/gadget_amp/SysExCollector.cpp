#include "SysExCollector.h"

SysExCollector::Taken SysExCollector::take(std::uint8_t byte, Clock::time_point time)
{
    Taken taken;
    if (byte >= 0xF8)
        return taken;
    if (byte == 0xF0)
    {
        // A message begun and not ended is broken off by the next one's start.
        if (!message.empty())
        {
            taken.kind = Taken::Kind::brokenOff;
            taken.breakingByte = byte;
        }
        message.assign(1, byte);
        start = time;
        return taken;
    }
    if (message.empty())
        return taken;
    const bool interrupted = byte >= 0x80 && byte != 0xF7;
    if (interrupted || message.size() >= longest)
    {
        taken.kind = Taken::Kind::brokenOff;
        taken.breakingByte = interrupted ? byte : 0;
        message.clear();
        return taken;
    }
    message.push_back(byte);
    if (byte != 0xF7)
        return taken;
    taken.kind = Taken::Kind::message;
    taken.message = std::move(message);
    taken.start = start;
    message.clear();
    return taken;
}

void SysExCollector::clear()
{
    message.clear();
}
