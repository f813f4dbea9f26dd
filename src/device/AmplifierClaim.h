#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** An exclusive, machine-wide claim on one amplifier, by the place it is plugged in: every updater, the
    window and the command line, in any process of any user, holds it from the first message of an erase or a
    run until that run has ended, and sends nothing to an amplifier another holds. The kernel releases it when
    its holder ends however it ends, and it leaves no file behind for anyone to plant or delete (Linux: an
    abstract-namespace socket; Windows: a named mutex in the Global namespace). */
class AmplifierClaim
{
public:
    /** Takes the claim on `place`; null when another holder, in this process or another, has it or the
        system refuses it. */
    static std::unique_ptr<AmplifierClaim> take(const juce::String& place);
    /** True while anyone holds the claim on `place`, this process included. */
    static bool isHeld(const juce::String& place);
    /** The name a claim on `place` goes by, the same in every process. */
    static juce::String nameFor(const juce::String& place);

    ~AmplifierClaim();

private:
    explicit AmplifierClaim(juce::int64 systemHandle) : handle(systemHandle) {}

    juce::int64 handle;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AmplifierClaim)
};
