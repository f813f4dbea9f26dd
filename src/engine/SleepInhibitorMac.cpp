#include "engine/SleepInhibitor.h"

std::unique_ptr<SleepHold> holdOffSystemSleep(juce::String& failure)
{
    failure = "holding off sleep is not supported on this system";
    return {};
}
