#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

/** An exclusive claim on a name: one holder at a time, in this process or any other. The kernel releases it
    when its holder ends however it ends, and it leaves no file behind for anyone to plant or delete (Linux:
    an abstract-namespace socket; Windows: a named mutex). */
class ExclusiveClaim
{
public:
    enum class Scope
    {
        machine, // every user's processes (Windows: the Global namespace)
        user     // the processes of this user's session (Windows: the Local namespace)
    };

    /** Takes the claim; null when another holder has it or the system refuses it. */
    static std::unique_ptr<ExclusiveClaim> take(const juce::String& name, Scope scope);
    /** True while anyone holds the claim, this process included. */
    static bool isHeld(const juce::String& name, Scope scope);
    /** The user ID of the process that holds the claim; empty when nobody does or the system does not tell
        (Windows, whose user-scoped names other users' sessions do not see). */
    static std::optional<juce::int64> getHolderUserId(const juce::String& name);

    ~ExclusiveClaim();

private:
    explicit ExclusiveClaim(juce::int64 systemHandle) : handle(systemHandle) {}

    juce::int64 handle;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ExclusiveClaim)
};

/** The claim every updater takes, machine-wide, on the amplifier plugged in at `place` from the first
    message of an erase or a run until that run has ended; nothing is sent to an amplifier another holds. */
namespace amplifierClaim
{
/** The claim's name for a place, the same in every process. */
juce::String nameFor(const juce::String& place);
inline std::unique_ptr<ExclusiveClaim> take(const juce::String& place)
{
    return ExclusiveClaim::take(nameFor(place), ExclusiveClaim::Scope::machine);
}
inline bool isHeld(const juce::String& place)
{
    return ExclusiveClaim::isHeld(nameFor(place), ExclusiveClaim::Scope::machine);
}
} // namespace amplifierClaim
