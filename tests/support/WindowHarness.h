#pragma once

#include "support/LinkHelpers.h"
#include "support/SmallImages.h"
#include "ui/MainContentComponent.h"

#include <optional>
#include <thread>

class CapturingLogger : public juce::Logger
{
public:
    void logMessage(const juce::String& message) override { lines.add(message); }
    juce::StringArray lines;
};

/** The real component on in-memory ports, driven by its timer callbacks in the order that real time would
   call them: the state machine's tick, the link's discovery tick, and the steadiness timer restarted by the
   tick, each at the period the program gives it. */
struct Window
{
    static constexpr int tickMs = UpdateController::tickIntervalMs;
    static constexpr int discoveryMs = MidiInterfaceClass::discoveryIntervalMs;
    static constexpr int steadinessMs = UpdateController::steadinessIntervalMs;
    static_assert(discoveryMs % tickMs == 0, "the harness runs discovery on a tick");

    explicit Window(int blocks = 3, std::optional<SleepInhibitor> holdOffSleep = {},
                    std::function<void(FirmwareCatalogue&)> catalogue = {})
    {
        juce::Logger::setCurrentLogger(&log);
        c = std::make_unique<MainContentComponent>(
            DeviceComSeams{.ports = &midi,
                           .enumerateUsb = midi.usbEnumerator(),
                           .fillCatalogue = catalogue ? std::move(catalogue) : smallImageCatalogue(blocks),
                           .holdOffSleep = holdOffSleep ? std::move(*holdOffSleep) : sleep.inhibitor()},
            [this](const juce::String& text) { announcements.add(text); });
    }

    ~Window()
    {
        c.reset();
        juce::Logger::setCurrentLogger(nullptr);
    }

    MidiInterfaceClass& link() { return c->deviceCom.midiInterface; }

    /** 100 ms of the program's time; the worker and the amplifier run in real time beside it. */
    void step()
    {
        now += tickMs;
        if (now % discoveryMs == 0)
        {
            link().timerCallback();
            midi.waitForDeliveries();
        }
        const auto before = c->controller.getFactChanges();
        c->timerCallback(MainContentComponent::tickTimerId);
        ++ticks;
        for (int s = 0; s < 3 && c->progressBar.isMoving(); ++s) // the bar's 30 ms steps
            c->progressBar.step();
        if (c->controller.getFactChanges() != before)
            steadyDue = now + steadinessMs;
        if (steadyDue && now >= *steadyDue)
        {
            c->timerCallback(MainContentComponent::steadinessTimerId);
            steadyDue = *steadyDue + steadinessMs;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    /** Steps until `done` holds. It gives up only once both `maxMs` of the program's time and a minute of
        real time have passed: the worker and the amplifier run in real time, and a busy machine slows them.
     */
    template <typename Predicate> bool runUntil(Predicate done, int maxMs = 300000)
    {
        const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (int t = 0; !done(); t += tickMs)
        {
            if (t >= maxMs && std::chrono::steady_clock::now() >= realDeadline)
                return false;
            step();
        }
        return true;
    }

    void run(int ms)
    {
        for (int t = 0; t < ms; t += tickMs)
            step();
    }

    juce::String barText() const { return c->progressBar.getTextToDisplay(); }

    VirtualMidiSystem midi;
    CountingSleepInhibitor sleep;
    CapturingLogger log;
    /** What the window told the screen reader, in order. */
    juce::StringArray announcements;
    std::unique_ptr<MainContentComponent> c;
    juce::int64 now = 0;
    std::optional<juce::int64> steadyDue;
    int ticks = 0;
};
