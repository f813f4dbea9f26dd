#pragma once

#include <juce_events/juce_events.h>

#include <functional>

/** One updater per user: the first instance holds a lock and listens for callers; a later one tells the first
    (through a loopback socket) to come to the front, and ends. Two updaters must never erase and stream to
   the same amplifier. */
class SingleInstance
{
public:
    SingleInstance();
    ~SingleInstance();

    /** True in the first instance: it holds the lock. */
    bool isFirst() const { return first; }
    /** In the first instance: `onAnotherStart` runs on the message thread whenever a later one starts. */
    void listen(std::function<void()> onAnotherStart);
    /** In a later instance: tells the first one; true when the message went out. */
    bool notifyFirst();

private:
    class Listener;
    class Connection;

    juce::String name;
    juce::InterProcessLock lock;
    bool first = false;
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SingleInstance)
};
