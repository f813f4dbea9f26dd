#pragma once

#include <juce_core/juce_core.h>

/** One identity under which an amplifier shows up on USB and MIDI. An empty record stands for no device. */
struct KnownDevice
{
    juce::String displayName;
    juce::String firmwareKey;
    juce::uint16 appProductId = 0;
    juce::uint16 bootProductId = 0;
    juce::uint8 deviceCode = 0;
    juce::String appPortName;
    juce::String bootPortName;
};
