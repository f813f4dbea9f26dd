#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// Timers, components and the message manager need the framework to be initialised for the whole run.
int main(int argc, char** argv)
{
    // Seen as a standalone program, the test run gets the window system's own handling of X errors, as the
    // application does: a bare X server without a window manager lacks atoms the framework asks for.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
    juce::ScopedJuceInitialiser_GUI framework;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
