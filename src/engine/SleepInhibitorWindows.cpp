#include "engine/SleepInhibitor.h"

#include <windows.h>

namespace
{
/** The execution state belongs to the thread that set it: the hold is made and dropped on the worker. */
class ExecutionStateSleepHold final : public SleepHold
{
public:
    ExecutionStateSleepHold() = default;
    ~ExecutionStateSleepHold() override { SetThreadExecutionState(ES_CONTINUOUS); }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ExecutionStateSleepHold)
};
} // namespace

std::unique_ptr<SleepHold> holdOffSystemSleep(juce::String& failure)
{
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0)
    {
        failure = "the system refused to stay awake";
        return {};
    }
    return std::make_unique<ExecutionStateSleepHold>();
}
