#include "engine/UpdaterState.h"

juce::String getStateName(UpdaterState state)
{
    switch (state)
    {
    case UpdaterState::Unknown:
        return "Unknown State";
    case UpdaterState::BootValid:
        return "Boot Valid   ";
    case UpdaterState::BootGeneric:
        return "Boot Generic ";
    case UpdaterState::ErasedForRepair:
        return "Erased 4 Rpr.";
    case UpdaterState::BadBootDetected:
        return "Bad Boot Det.";
    case UpdaterState::Updating:
        return "Updating...  ";
    case UpdaterState::Updated:
        return "Updated!     ";
    case UpdaterState::AppMode:
        return "App / Amp    ";
    case UpdaterState::Idle:
        return "Idle State   ";
    case UpdaterState::Aborted:
        break;
    }
    return "??????????   ";
}
