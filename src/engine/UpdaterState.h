#pragma once

#include <juce_core/juce_core.h>

/** The states of the update state machine. */
enum class UpdaterState : juce::int32
{
    Unknown = 0,
    BootValid = 1,
    BootGeneric = 2,
    ErasedForRepair = 3,
    BadBootDetected = 4,
    Updating = 5,
    Updated = 6,
    AppMode = 7,
    Idle = 8,
    Aborted = 9, // a run broken off
};

/** The 13-character name of a state in the log; "??????????   " for a state without a name of its own. */
juce::String getStateName(UpdaterState state);
