#pragma once

#include "support/LinkHelpers.h"
#include "support/ProgramClock.h"
#include "support/SmallImages.h"
#include "ui/MainContentComponent.h"

#include <optional>
#include <thread>

class CapturingLogger : public juce::Logger
{
public:
    void logMessage(const juce::String& message) override { lines.add(message); }
    juce::StringArray lines;
};

/** The real component on in-memory ports, driven by its timer callbacks through a ProgramClock. */
struct Window
{
    static constexpr int tickMs = ProgramClock::tickMs;

    explicit Window(int blocks = 3, std::optional<SleepInhibitor> holdOffSleep = {},
                    std::function<void(FirmwareCatalogue&)> catalogue = {})
    {
        juce::Logger::setCurrentLogger(&log);
        session = std::make_unique<UpdateSession>(
            DeviceComSeams{.ports = &midi,
                           .enumerateUsb = midi.usbEnumerator(),
                           .fillCatalogue = catalogue ? std::move(catalogue) : smallImageCatalogue(blocks),
                           .holdOffSleep = holdOffSleep ? std::move(*holdOffSleep) : sleep.inhibitor()});
        c = std::make_unique<MainContentComponent>(*session, [this](const juce::String& text)
                                                   { announcements.add(text); });
    }

    ~Window()
    {
        c.reset();
        session.reset();
        juce::Logger::setCurrentLogger(nullptr);
    }

    MidiInterfaceClass& link() { return session->deviceCom.midiInterface; }

    /** 100 ms of the program's time. */
    void step()
    {
        clock.step(link(), midi,
                   [this]
                   {
                       session->step();
                       ++ticks;
                       for (int s = 0; s < 3 && c->progressBar.isMoving(); ++s) // the bar's 30 ms steps
                           c->progressBar.step();
                   });
    }

    template <typename Predicate> bool runUntil(Predicate done, int maxMs = 300000)
    {
        return ProgramClock::runUntil([this] { step(); }, done, maxMs);
    }

    void run(int ms)
    {
        for (int t = 0; t < ms; t += tickMs)
            step();
    }

    juce::String barText() const { return c->progressBar.getTextToDisplay(); }

    VirtualMidiSystem midi;
    CountingSleepInhibitor sleep;
    CapturingLogger log;
    /** What the window told the screen reader, in order. */
    juce::StringArray announcements;
    std::unique_ptr<UpdateSession> session;
    std::unique_ptr<MainContentComponent> c;
    ProgramClock clock;
    int ticks = 0;
};
