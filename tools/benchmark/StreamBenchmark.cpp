// Streams a firmware image through the real DeviceCom to the virtual amplifier and prints how close the
// pacing comes to the boot loader's minimum gaps. --quick streams a few dozen blocks instead of a full image.

#include "VirtualAmplifier.h"
#include "engine/DeviceCom.h"
#include "firmware/FirmwareImage.h"

#include <juce_events/juce_events.h>

#include <pthread.h>
#include <thread>
#include <time.h>

namespace
{
constexpr int quickBlocks = 24;
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
} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && juce::String(argv[1]) == "--quick";
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

    // One discovery tick while an amplifier in application mode has not answered yet: a scan step and the
    // identity queries for all eleven records, on the message thread.
    double discoveryTickMs = 0.0;
    {
        VirtualMidiSystem silent;
        silent.addOtherPorts({"in"}, {"out 0", "out 1"});
        silent.addUsbEntry({0x2A5A, 0x0045});
        DeviceCom scanning({.ports = &silent, .enumerateUsb = silent.usbEnumerator()});
        constexpr int ticks = 10;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < ticks; ++i)
            scanning.midiInterface.timerCallback();
        discoveryTickMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / ticks;
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
    std::printf("discovery tick, scanning: %.1f ms (11 records)\n", discoveryTickMs);

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
