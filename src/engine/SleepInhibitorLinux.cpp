#include "engine/SleepInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace
{
constexpr const char* logindService = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* logindManager = "org.freedesktop.login1.Manager";
constexpr const char* inhibitWhat = "sleep";
constexpr const char* inhibitWho = "LC/LX Software Updater";
constexpr const char* inhibitWhy = "A firmware update is being written to an amplifier";
constexpr const char* inhibitMode = "block";
/** A bus that does not answer must not hold up the update for long. */
constexpr std::uint64_t callTimeoutMicroseconds = 2'000'000;

/** logind keeps the lock for as long as any copy of this descriptor is open. */
class LogindSleepHold final : public SleepHold
{
public:
    explicit LogindSleepHold(int descriptor) : fd(descriptor) {}
    ~LogindSleepHold() override { ::close(fd); }

private:
    const int fd;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LogindSleepHold)
};

juce::String describe(int negativeErrno)
{
    return std::strerror(-negativeErrno);
}
} // namespace

std::unique_ptr<SleepHold> holdOffSystemSleep(juce::String& failure)
{
    sd_bus* bus = nullptr;
    if (const auto r = sd_bus_open_system(&bus); r < 0)
    {
        failure = "no system D-Bus (" + describe(r) + ")";
        return {};
    }
    sd_bus_set_method_call_timeout(bus, callTimeoutMicroseconds);

    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::unique_ptr<SleepHold> hold;
    auto r = sd_bus_call_method(bus, logindService, logindPath, logindManager, "Inhibit", &error, &reply,
                                "ssss", inhibitWhat, inhibitWho, inhibitWhy, inhibitMode);
    if (r < 0)
    {
        failure = "logind did not take the inhibitor lock (" +
                  juce::String(error.message != nullptr ? error.message : std::strerror(-r)) + ")";
    }
    else
    {
        int fd = -1;
        r = sd_bus_message_read(reply, "h", &fd);
        // The descriptor belongs to the reply; the hold keeps a copy of its own.
        const auto own = r >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
        if (own >= 0)
            hold = std::make_unique<LogindSleepHold>(own);
        else
            failure = "logind's answer carried no inhibitor lock";
    }

    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return hold;
}
