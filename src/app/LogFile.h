#pragma once

#include <juce_core/juce_core.h>

/** The updater's log file "LCLX_Software_Updater.txt" in the folder the framework's logger uses. Creating it
    trims an existing file over 131072 bytes, keeping its newest content, and appends the start banner. */
std::unique_ptr<juce::FileLogger> createLogFile();
