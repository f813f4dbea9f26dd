#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// Timers, components and the message manager need the framework to be initialised for the whole run.
int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
