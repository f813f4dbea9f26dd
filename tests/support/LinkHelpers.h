#pragma once

#include "VirtualAmplifier.h"
#include "VirtualMidiSystem.h"
#include "device/MidiInterfaceClass.h"
#include "device/SysEx.h"
#include "engine/SleepInhibitor.h"

#include <gtest/gtest.h>

#include <thread>

/** Runs discovery ticks, letting replies arrive after each, until `done` holds; false if it never does
    within `maxTicks` ticks and a minute of real time (replies come from threads a busy machine slows). */
template <typename Predicate>
bool tickUntil(MidiInterfaceClass& link, VirtualMidiSystem& midi, Predicate done, int maxTicks = 60)
{
    const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (int i = 0; !done(); ++i)
    {
        if (i >= maxTicks && std::chrono::steady_clock::now() >= realDeadline)
            return false;
        link.timerCallback();
        midi.waitForDeliveries();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

/** Waits until `done` holds; false if it has not within a minute, a bound only to end a hung test. */
template <typename Predicate> bool waitUntil(Predicate done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/** A message as the amplifier would send it, for feeding the link directly. */
inline juce::MidiMessage replyMessage(std::uint8_t code, std::uint8_t command,
                                      std::array<std::uint8_t, 5> group)
{
    std::vector<std::uint8_t> payload(group.begin(), group.end());
    const auto bytes = makeSysExMessage(code, command, payload);
    return juce::MidiMessage(bytes.data(), static_cast<int>(bytes.size()), 0.0);
}

/** The names of the output ports the host opened, in order. */
inline juce::StringArray openedOutputs(VirtualMidiSystem& midi, const juce::StringArray& outputNames)
{
    juce::StringArray names;
    for (const auto& line : midi.getPortLog())
        if (line.startsWith("open out "))
            names.add(outputNames[line.fromLastOccurrenceOf(" ", false, false).getIntValue()]);
    return names;
}

/** Stands in for the system's sleep inhibitor: counts the holds given and those still held. */
struct CountingSleepInhibitor
{
    std::atomic<int> taken{0};
    std::atomic<int> held{0};

    SleepInhibitor inhibitor()
    {
        struct Hold final : SleepHold
        {
            explicit Hold(std::atomic<int>& h) : heldCount(h) { ++heldCount; }
            ~Hold() override { --heldCount; }
            std::atomic<int>& heldCount;
        };
        return [this](juce::String&) -> std::unique_ptr<SleepHold>
        {
            ++taken;
            return std::make_unique<Hold>(held);
        };
    }
};
