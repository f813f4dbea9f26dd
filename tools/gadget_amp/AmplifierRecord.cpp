#include "AmplifierRecord.h"

namespace
{
std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const auto b : bytes)
    {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

std::string millisecondsOf(AmplifierRecord::Clock::time_point time)
{
    return std::to_string(std::chrono::duration<double, std::milli>(time.time_since_epoch()).count());
}
} // namespace

AmplifierRecord::~AmplifierRecord()
{
    if (file != nullptr)
        std::fclose(file);
}

bool AmplifierRecord::open(const std::string& path)
{
    file = std::fopen(path.c_str(), "w");
    return file != nullptr;
}

std::string AmplifierRecord::hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

void AmplifierRecord::received(Clock::time_point arrival, const char* mode,
                               const std::vector<std::uint8_t>& bytes)
{
    line(millisecondsOf(arrival) + " " + mode + " " + hexBytes(bytes));
}

void AmplifierRecord::attached(std::uint16_t productId, const std::string& portName, Clock::time_point time)
{
    line("# attach " + hex(productId, 4) + " \"" + portName + "\" at " + millisecondsOf(time));
}

void AmplifierRecord::detached(Clock::time_point time)
{
    line("# detach at " + millisecondsOf(time));
}

void AmplifierRecord::replied(const std::vector<std::uint8_t>& bytes, bool written, Clock::time_point time)
{
    line("# reply " + hexBytes(bytes) + (written ? "" : " could not be written") + " at " +
         millisecondsOf(time));
}

void AmplifierRecord::pluggedInAgain()
{
    line("# plugged in again");
}

void AmplifierRecord::violation(const std::string& text)
{
    line("# violation: " + text);
}

void AmplifierRecord::end(int completedImages, int version, bool erased)
{
    line("# end: " + std::to_string(completedImages) + " image(s), version " + std::to_string(version) +
         (erased ? ", erased" : ""));
}

void AmplifierRecord::remark(const std::string& text)
{
    line("# " + text);
}

void AmplifierRecord::line(const std::string& text)
{
    const std::lock_guard guard(lock);
    if (file == nullptr)
        return;
    std::fprintf(file, "%s\n", text.c_str());
    std::fflush(file);
}
