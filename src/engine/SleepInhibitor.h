#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

/** Keeps the computer from going to sleep for as long as it lives. */
class SleepHold
{
public:
    virtual ~SleepHold() = default;
};

/** Asks the system to hold off sleep. Empty, with the reason in `failure`, when it cannot. */
using SleepInhibitor = std::function<std::unique_ptr<SleepHold>(juce::String& failure)>;

/** The system's own: a logind "sleep" inhibitor lock on Linux, the thread's execution state on Windows. */
std::unique_ptr<SleepHold> holdOffSystemSleep(juce::String& failure);
