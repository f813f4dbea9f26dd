#pragma once

#include "device/ExclusiveClaim.h"

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>

/** One updater per user: the first instance holds a claim named after the user (a claim the kernel releases
    when its holder ends, with no file to plant or delete; one that another user's process took first is not
    taken for this user's instance) and listens on a channel that only the same user can use; a later one
    tells the first to come to the front, and ends.

    The channel: on Linux and macOS a socket file, mode 0600, in the user's runtime folder; on Windows a
    loopback port whose number and secret are in a file of the user's application data, and a caller says the
    secret first. The first instance takes one caller at a time, reads at most `longestMessage` bytes of it
    within a second, and drops it. */
class SingleInstance
{
public:
    /** The user's own instance, whatever folder it starts from. */
    SingleInstance();
    /** An instance named `name` whose channel's file lies in `folder`, for tests. */
    SingleInstance(const juce::String& name, const juce::File& folder);
    ~SingleInstance();

    /** True in the first instance: it holds the claim, or another user's process squats the name. */
    bool isFirst() const { return first; }
    /** In the first instance: `onAnotherStart` runs on the message thread whenever a later one starts. False
        when the channel cannot be opened (the instance then runs without it). */
    bool listen(std::function<void()> onAnotherStart);
    /** In a later instance: tells the first one; true when the message went out. */
    bool notifyFirst();
    /** The channel's file: the socket, or where the port and secret are. */
    juce::File getChannelFile() const { return channelFile; }

    static constexpr int longestMessage = 64;

private:
    class Listener;

    juce::String name;
    juce::File channelFile;
    std::unique_ptr<ExclusiveClaim> lock;
    bool first = false;
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SingleInstance)
};
