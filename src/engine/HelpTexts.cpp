#include "engine/HelpTexts.h"

// The texts are the amplifier maker's own wording, kept character for character.
namespace helpTexts
{
const juce::String instructionsText =
    "This software updater will update a LX/LC amplifier's software.\n"
    "Please, follow the instructions below carefully.\n\n"
    "First connect the amplifier to the computer with the USB cable.\n\n"
    "Then put the amplifier into update mode.This is done by pressing and holding down the button next to "
    "the "
    "USB connector, while powering up the amplifier. This button is called either MUTE or UTIL depending on "
    "the "
    "amplifier model.\n\n"
    "Once the software updater has discovered the amplifier, you can run the software update by pressing the "
    "Update button.\n\n"
    "DO NOT turn off the amplifier or disconnect the USB cable until the update has finished.\n\n"
    "Please click the [VS info >] button for more information on VoiceSlot compatability.\n\n"
    "If all the above points have been followed and your amplifier still has not been discovered, please "
    "click "
    "on the [BOOT info >] button for further instructions.";

const juce::String voiceSlotInfoText =
    "VoiceSlot compatibility information.\n\n"
    "With this software update you will gain access to a wide range of awesome VoiceSlot effects.\n"
    "-\tFalcon Chorus\n"
    "-\tSwift Vibrato\n"
    "-\tHarrier Flanger\n"
    "-\tOsprey Compressor\n"
    "-\tBuzzard Bass Drive\n"
    "-\tCondor Octaver* \n"
    "-\tMerlin Vibe Vibrato**\n"
    "-\tHobby Phaser**\n"
    "-\tCombined VoiceSlots**\n"
    "\n\n*  LC20 mkI (w/ one VoiceSlot knob) only supports sub octave VoiceSlots\n"
    "** Not available on LC20 mkI \n";

const juce::String bootInfoText =
    "If the amplifier was started in boot mode and nothing has happened yet\n"
    "it might have a broken boot, which requires an update.\n\n"
    "Please be aware that this is a different update process...\n\n"
    "DO NOT start the amplifier in boot mode. Please follow these simple instructions:\n\n"
    "#1 Power OFF the amplifier.\n"
    "#2 Wait until the rear red LED (light) is off (will take up to 20 seconds)\n"
    "#3 Turn on the amplifier WITHOUT holding down the MUTE or UTIL switch\n"
    " (rear side) Make sure the red LED is NOT lit\n\n"
    "Just let the Software Updater do its thing!\n\n\n\n"
    "If in doubt - please contact Kestrel Audio Service / CARE-DESK department\n\n";

const juce::String brokenBootText =
    "Amplifier has a broken boot and needs to be updated\n\n"
    "ALWAYS choose EXACTLY the attached model name!\n\n"
    "Warranty is VOID if a wrong model is selected!\n\n"
    "(You will NOT gain i.e. more power or other VoiceSlots by choosing a larger model)\n\n"
    "If in doubt - please contact Kestrel Audio Service / CARE-DESK department\n\n";

const juce::String recoveryText =
    "WARNING! Update was abnormally abrupted!\n"
    "You might experience a none functional amplifier...\n\n"
    "Please follow these simple steps to recover the amplifier.\n\n"
    "#1 Power OFF the amplifier.\n"
    "#2 Make sure that the computer USB cable is connected to the amplifier.\n"
    "#3 Wait about 20-30 seconds (until red LED is OFF and then 5 seconds)\n"
    "#4 Turn on the amplifier while holding down the MUTE or UTIL switch (rear side)\n\n"
    "You might need to repeat the above resque steps (#1->#4) if the amplifier is not\n"
    "responding and restart this SW Updater Software\n\n"
    "If in doubt - please contact Kestrel Audio Service / CARE-DESK department\n\n";
} // namespace helpTexts
