// Streams a firmware image through the real DeviceCom to the virtual amplifier and prints how close the
// pacing comes to the boot loader's minimum gaps; prints how long a discovery tick holds the message thread
// while scanning; and, given the application (--app PATH) and an X display, the share of one core the
// idle application uses. --quick streams a few dozen blocks instead of a full image and idles for less.

#include "VirtualAmplifier.h"
#include "VirtualMidiSystem.h"
#include "engine/DeviceCom.h"
#include "firmware/FirmwareImage.h"

#include <juce_events/juce_events.h>

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace
{
constexpr int quickBlocks = 24;
/** An idle application waits on its timers: a share of one core far above its own (well under 1 %) is a loop
    that never sleeps. */
constexpr double mostIdleShare = 0.10;
constexpr double initialPauseMs = 50.0;

double minimumGapMs(std::size_t length)
{
    return std::max(20.0, static_cast<double>(length / 3 + 10));
}

/** CPU time of a running thread, in milliseconds. */
double threadCpuMs(juce::Thread::ThreadID id)
{
    clockid_t clock{};
    timespec ts{};
    if (id == nullptr || pthread_getcpuclockid(reinterpret_cast<pthread_t>(id), &clock) != 0 ||
        clock_gettime(clock, &ts) != 0)
        return 0.0;
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

/** User and system CPU time of a process so far, in seconds; negative when it cannot be read. */
double processCpuSeconds(pid_t pid)
{
    const auto fields = juce::StringArray::fromTokens(juce::File("/proc/" + juce::String(pid) + "/stat")
                                                          .loadFileAsString()
                                                          .fromLastOccurrenceOf(")", false, false),
                                                      true);
    // After the command name: state is field 3 of the file, utime 14 and stime 15.
    if (fields.size() < 13)
        return -1.0;
    return (fields[11].getDoubleValue() + fields[12].getDoubleValue()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

/** Starts the application with a fresh home folder, lets it settle, and measures its CPU time over
    `seconds` with no amplifier and no MIDI device: the share of one core, or a negative number. */
double idleShareOfOneCore(const juce::String& app, int seconds)
{
    const auto home = juce::File::createTempFile("-idle-home");
    home.createDirectory();
    setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    char* args[] = {const_cast<char*>(app.toRawUTF8()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, app.toRawUTF8(), nullptr, nullptr, args, environ) != 0)
        return -1.0;
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto before = processCpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto after = processCpuSeconds(pid);
    const auto wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    home.deleteRecursively();
    return before < 0.0 || after < 0.0 ? -1.0 : (after - before) / wall;
}
} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    juce::String app;
    for (int i = 1; i < argc; ++i)
    {
        if (juce::String(argv[i]) == "--quick")
            quick = true;
        else if (juce::String(argv[i]) == "--app" && i + 1 < argc)
            app = argv[++i];
    }
    juce::ScopedJuceInitialiser_GUI framework;

    std::vector<std::uint8_t> quickImage;
    auto catalogue = [&](FirmwareCatalogue& entries)
    {
        fillFirmwareCatalogue(entries);
        if (!quick)
            return;
        std::vector<std::uint8_t> firmware(quickBlocks * image::firmwareBytesPerBlock);
        for (std::size_t i = 0; i < firmware.size(); ++i)
            firmware[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
        std::string error;
        quickImage = packFirmwareImage(firmware, 0x0E, error).value();
        entries[0]->imageData = quickImage.data();
        entries[0]->imageSize = static_cast<juce::uint32>(quickImage.size());
    };

    // Discovery ticks, 300 ms apart, while an amplifier in application mode has not answered yet: each a
    // scan step and the identity queries for every record. How long each holds the message thread:
    double longestTickMs = 0.0, sumTickMs = 0.0;
    const int scanTicks = quick ? 4 : 20;
    {
        VirtualMidiSystem silent;
        silent.addOtherPorts({"in"}, {"out 0", "out 1"});
        silent.addUsbEntry({0x2A5A, 0x0045});
        DeviceCom scanning({.ports = &silent, .enumerateUsb = silent.usbEnumerator()});
        for (int i = 0; i < scanTicks; ++i)
        {
            const auto t0 = std::chrono::steady_clock::now();
            scanning.midiInterface.timerCallback();
            const auto blocked =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
            longestTickMs = std::max(longestTickMs, blocked.count());
            sumTickMs += blocked.count();
            std::this_thread::sleep_until(t0 +
                                          std::chrono::milliseconds(MidiInterfaceClass::discoveryIntervalMs));
        }
    }

    VirtualMidiSystem midi;
    VirtualAmplifier amp(midi, "LX40", VirtualAmplifier::Mode::boot, 0);
    DeviceCom deviceCom({.ports = &midi, .enumerateUsb = midi.usbEnumerator(), .fillCatalogue = catalogue});
    for (int i = 0; i < 4; ++i)
        deviceCom.midiInterface.timerCallback();
    if (!deviceCom.midiInterface.bootDetected)
    {
        std::printf("FAIL: the virtual amplifier was not found\n");
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    if (!deviceCom.startUpdate(""))
    {
        std::printf("FAIL: the update did not start\n");
        return 1;
    }
    double workerCpuMs = 0.0;
    while (deviceCom.getProgress() < 1.1f)
    {
        workerCpuMs = std::max(workerCpuMs, threadCpuMs(deviceCom.getThreadId()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double totalMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    deviceCom.waitForThreadToExit(-1);

    const auto received = amp.getReceived();
    double sumOfMinimaMs = initialPauseMs, shortestRatio = 1.0e9;
    int shortGaps = 0;
    for (std::size_t k = 0; k < received.size(); ++k)
    {
        if (k + 1 < received.size()) // the run is finished with its last message, before that one's gap
            sumOfMinimaMs += minimumGapMs(received[k].bytes.size());
        if (k == 0)
            continue;
        const auto gap =
            std::chrono::duration<double, std::milli>(received[k].time - received[k - 1].time).count();
        const auto ratio = gap / minimumGapMs(received[k - 1].bytes.size());
        shortestRatio = std::min(shortestRatio, ratio);
        shortGaps += ratio < 1.0 ? 1 : 0;
    }

    std::printf("image:                    %s, %zu messages (%d data blocks)\n",
                quick ? "quick" : "LX40 full size", received.size(), static_cast<int>(received.size()) - 2);
    std::printf("total time:               %.1f ms\n", totalMs);
    std::printf("sum of minimum gaps:      %.1f ms (with the %.0f ms initial pause)\n", sumOfMinimaMs,
                initialPauseMs);
    std::printf("total / minimum:          %.5f\n", totalMs / sumOfMinimaMs);
    std::printf("shortest gap / its min:   %.5f\n", shortestRatio);
    std::printf("gaps below their minimum: %d\n", shortGaps);
    std::printf("worker CPU time:          %.1f ms\n", workerCpuMs);
    std::printf("discovery tick, scanning: longest %.2f ms, mean %.2f ms of the message thread (%d ticks)\n",
                longestTickMs, sumTickMs / scanTicks, scanTicks);
    if (app.isEmpty() || std::getenv("DISPLAY") == nullptr)
        std::printf("idle application:         not measured (needs --app PATH and an X display)\n");
    else
    {
        const int idleSeconds = quick ? 5 : 30;
        const auto share = idleShareOfOneCore(app, idleSeconds);
        if (share < 0.0)
        {
            std::printf("FAIL: the application could not be started or measured\n");
            return 1;
        }
        std::printf("idle application:         %.2f %% of one core over %d s\n", share * 100.0, idleSeconds);
        // CPU time, not elapsed time: a busy machine gives the idle application less, never more.
        if (share > mostIdleShare)
        {
            std::printf("FAIL: the idle application uses more than %.0f %% of one core\n",
                        mostIdleShare * 100.0);
            return 1;
        }
    }

    const auto violations = amp.getViolations();
    for (const auto& v : violations)
        std::printf("amplifier: %s\n", v.toRawUTF8());
    if (shortGaps > 0 || !violations.isEmpty() || amp.getCompletedImages() != 1)
    {
        std::printf("FAIL\n");
        return 1;
    }
    return 0;
}
