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

/** Hands the interrupts received to the command before each step of its update session, and ends the
    message loop with the command. */
class SessionDriver : private UpdateSession::Listener
{
public:
    explicit SessionDriver(BenchSession& s) : bench(s) { bench.session.addListener(this); }
    ~SessionDriver() override { bench.session.removeListener(this); }

private:
    void aboutToStep() override
    {
        for (const auto received = interruptsReceived.load(); handledInterrupts < received;
             ++handledInterrupts)
            bench.interrupt();
    }

    void viewChanged() override
    {
        if (bench.getExit())
            juce::MessageManager::getInstance()->stopDispatchLoop();
    }

    BenchSession& bench;
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
        session.session.startClock();
        juce::MessageManager::getInstance()->runDispatchLoop();
    }
    return static_cast<int>(session.getExit().value_or(BenchExit::failed));
}
