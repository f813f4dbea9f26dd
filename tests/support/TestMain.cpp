#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace
{
/** Under ctest the tests that need a display share one virtual X server, whose name is in the file that
    UPDATER_X_DISPLAY_FILE names; the programs the tests start inherit it. Run by hand, DISPLAY is used. */
void useSharedDisplay()
{
#if JUCE_LINUX
    const char* file = std::getenv("UPDATER_X_DISPLAY_FILE");
    if (file == nullptr)
        return;
    std::string display;
    if (std::ifstream in(file); !(in >> display))
    {
        std::cerr << "no display name in " << file << ": is the X server running?\n";
        unsetenv("DISPLAY"); // never the screen of whoever runs the tests
        return;
    }
    setenv("DISPLAY", display.c_str(), 1);
#endif
}
} // namespace

// Timers, components and the message manager need the framework to be initialised for the whole run.
int main(int argc, char** argv)
{
    useSharedDisplay();
    // Seen as a standalone program, the test run gets the window system's own handling of X errors, as the
    // application does: a bare X server without a window manager lacks atoms the framework asks for.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
    juce::ScopedJuceInitialiser_GUI framework;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
