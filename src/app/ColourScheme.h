#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Writes the updater's colours into a look-and-feel. */
void applyColourScheme(juce::LookAndFeel& lookAndFeel);
