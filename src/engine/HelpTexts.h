#pragma once

#include <juce_core/juce_core.h>

/** The fixed help texts of the updater. */
namespace helpTexts
{
extern const juce::String instructionsText;
extern const juce::String voiceSlotInfoText;
extern const juce::String bootInfoText;
extern const juce::String brokenBootText;
extern const juce::String recoveryText;
} // namespace helpTexts
