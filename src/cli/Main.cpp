#include "cli/BenchCommand.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#if JUCE_WINDOWS
#include <io.h>
#else
#include <unistd.h>
#endif

namespace
{
std::atomic<int> interruptsReceived{0};
static_assert(std::atomic<int>::is_always_lock_free, "counted from a signal handler");

extern "C" void countInterrupt(int signal)
{
    interruptsReceived.fetch_add(1);
    std::signal(signal, countInterrupt); // some systems reset the handler after each signal
}

bool isTerminal()
{
#if JUCE_WINDOWS
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

/** Steps a session on the message loop, as the window does, and ends the loop with it. */
class SessionDriver : public juce::Timer
{
public:
    explicit SessionDriver(BenchSession& s) : session(s) { startTimer(UpdateController::tickIntervalMs); }
    ~SessionDriver() override { stopTimer(); }

    void timerCallback() override
    {
        for (const auto received = interruptsReceived.load(); handledInterrupts < received;
             ++handledInterrupts)
            session.interrupt();
        session.step();
        if (session.getExit())
        {
            stopTimer();
            juce::MessageManager::getInstance()->stopDispatchLoop();
        }
    }

private:
    BenchSession& session;
    int handledInterrupts = 0;
};
} // namespace

int main(int argc, char* argv[])
{
    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.add(juce::CharPointer_UTF8(argv[i]));

    const auto parsed = parseBenchArguments(arguments);
    if (const auto* problem = std::get_if<juce::String>(&parsed))
    {
        std::cerr << *problem << "\nlclx-update --help lists the commands and options.\n";
        return static_cast<int>(BenchExit::badArguments);
    }
    const auto& options = std::get<BenchOptions>(parsed);
    if (options.command == BenchOptions::Command::help)
    {
        std::cout << getBenchHelpText();
        return 0;
    }
    if (options.command == BenchOptions::Command::exportImages)
    {
        FirmwareCatalogue catalogue;
        fillFirmwareCatalogue(catalogue);
        const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile(options.directory);
        return static_cast<int>(exportImages(catalogue, folder, std::cout, std::cerr));
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    std::signal(SIGINT, countInterrupt);
    std::signal(SIGTERM, countInterrupt);
    BenchSession session(options, {}, std::cout, std::cerr, isTerminal());
    {
        SessionDriver driver(session);
        juce::MessageManager::getInstance()->runDispatchLoop();
    }
    return static_cast<int>(session.getExit().value_or(BenchExit::failed));
}
