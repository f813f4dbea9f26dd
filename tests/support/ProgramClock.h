#pragma once

#include "VirtualMidiSystem.h"
#include "device/MidiInterfaceClass.h"
#include "engine/UpdateSession.h"

#include <chrono>
#include <optional>
#include <thread>

/** The program's time for an owner of the update controller, stepped 100 ms at a time in the order real time
    would call its timers: the link's discovery tick at its period, then the owner's step (which steps the
    controller, whose steadiness period counts these steps). The worker and the amplifier run in real time
    beside it. */
struct ProgramClock
{
    static constexpr int tickMs = UpdateSession::tickIntervalMs;
    static constexpr int discoveryMs = MidiInterfaceClass::discoveryIntervalMs;
    static constexpr int steadinessMs = UpdateSession::steadinessIntervalMs;
    static_assert(discoveryMs % tickMs == 0, "the clock runs discovery on a tick");

    /** `stepOwner` runs the owner's step. */
    template <typename StepOwner>
    void step(MidiInterfaceClass& link, VirtualMidiSystem& midi, StepOwner stepOwner)
    {
        now += tickMs;
        if (now % discoveryMs == 0)
        {
            link.timerCallback();
            midi.waitForDeliveries();
        }
        stepOwner();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    /** Steps until `done` holds. It gives up only once both `maxMs` of the program's time and a minute of
        real time have passed: a busy machine slows the worker and the amplifier. */
    template <typename Step, typename Predicate> static bool runUntil(Step step, Predicate done, int maxMs)
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

    juce::int64 now = 0;
};
