// The virtual amplifier on a USB gadget: the same amplifier model as the tests' one, plugged into a Linux
// kernel's USB device side (a configfs gadget with one MIDI function on a UDC, such as dummy_hcd's) instead
// of the in-memory MIDI system. The same kernel, or another one across a cable, enumerates it as a USB-MIDI
// device, so whatever talks to it goes through a real USB-MIDI host stack.
//
//   lclx_gadget_amp --key LX40 --mode app|boot|generic --version N --record FILE
//                   [--unplug-after K] [--replug-after-ms MS] [--restart-absence-ms MS] [--udc NAME]
//
// It writes what it receives and what becomes of it to FILE (AmplifierRecord.h has the format), and runs
// until SIGTERM or SIGINT.

#include "AmplifierRecord.h"
#include "GadgetHost.h"
#include "VirtualAmplifier.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

namespace
{
namespace fs = std::filesystem;
using Clock = VirtualAmplifier::Clock;

std::atomic<bool> stopRequested{false};

/** The UDC whose name sorts first (dummy_udc.0 before dummy_udc.1), so the choice never depends on the
    order in which the system lists them. */
std::string firstUdc()
{
    std::error_code error;
    std::string first;
    for (const auto& entry : fs::directory_iterator("/sys/class/udc", error))
        if (const auto name = entry.path().filename().string(); first.empty() || name < first)
            first = name;
    return first;
}
} // namespace

int main(int argc, char** argv)
{
    std::string key, modeName, recordPath, udc;
    int version = 0, unplugAfter = 0, replugAfterMs = -1, restartAbsenceMs = 0;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--key")
            key = value;
        else if (option == "--mode")
            modeName = value;
        else if (option == "--version")
            version = std::atoi(value.c_str());
        else if (option == "--record")
            recordPath = value;
        else if (option == "--unplug-after")
            unplugAfter = std::atoi(value.c_str());
        else if (option == "--replug-after-ms")
            replugAfterMs = std::atoi(value.c_str());
        else if (option == "--restart-absence-ms")
            restartAbsenceMs = std::atoi(value.c_str());
        else if (option == "--udc")
            udc = value;
    }
    if (udc.empty())
        udc = firstUdc();
    const auto mode = modeName == "app"       ? VirtualAmplifier::Mode::application
                      : modeName == "boot"    ? VirtualAmplifier::Mode::boot
                      : modeName == "generic" ? VirtualAmplifier::Mode::genericBoot
                                              : std::optional<VirtualAmplifier::Mode>();
    if (key.empty() || !mode || recordPath.empty() || udc.empty())
    {
        std::fprintf(stderr,
                     "usage: lclx_gadget_amp --key KEY --mode app|boot|generic --version N --record FILE "
                     "[--unplug-after K] [--replug-after-ms MS] [--restart-absence-ms MS] [--udc NAME]\n");
        return 2;
    }
    AmplifierRecord record;
    if (!record.open(recordPath))
    {
        std::perror(recordPath.c_str());
        return 1;
    }

    GadgetHost host(udc, record);
    if (!host.create())
        return 1;
    host.setRestartAbsence(std::chrono::milliseconds(restartAbsenceMs));
    std::signal(SIGTERM, [](int) { stopRequested = true; });
    std::signal(SIGINT, [](int) { stopRequested = true; });

    std::unique_ptr<VirtualAmplifier> amplifier;
    {
        const std::lock_guard guard(host.worldLock());
        amplifier = std::make_unique<VirtualAmplifier>(host, key, *mode, version);
        // The kernel delivers a message late now and then under emulation, which shortens the gap after it:
        // the sender's pacing is judged from the record, not by the amplifier itself.
        amplifier->setPacingChecked(false);
        if (unplugAfter > 0)
            amplifier->unplugAfter(static_cast<std::size_t>(unplugAfter));
    }
    host.start(*amplifier);

    std::optional<Clock::time_point> unpluggedAt;
    while (!stopRequested)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (replugAfterMs < 0 || amplifier->isPluggedIn())
            continue;
        if (!unpluggedAt)
            unpluggedAt = Clock::now();
        else if (Clock::now() - *unpluggedAt >= std::chrono::milliseconds(replugAfterMs))
        {
            record.pluggedInAgain();
            amplifier->plugIn();
            replugAfterMs = -1;
        }
    }

    host.stop();
    for (const auto& violation : amplifier->getViolations())
        record.violation(violation.toStdString());
    record.end(amplifier->getCompletedImages(), amplifier->getFirmwareVersion(),
               amplifier->wasFirmwareErased());
    return 0;
}
