#pragma once

#include <juce_core/juce_core.h>

/** Captions, status texts and log lines of the main window. */
namespace uiTexts
{
inline constexpr const char* searching = "Searching for amplifier...";
inline constexpr const char* noModelChosen = "Select amplifier model...";
inline constexpr const char* updateCaption = "Update";
inline constexpr const char* updatingCaption = "Updating";
inline constexpr const char* doneCaption = "Done";
inline constexpr const char* voiceSlotPageClosed = "VS info >";
inline constexpr const char* bootPageClosed = "BOOT info >";
inline constexpr const char* versionsPageClosed = "i";
inline constexpr const char* versionsPageOpen = "h";
inline constexpr const char* pageOpen = "< back";
inline constexpr const char* versionsHeading = "Software versions:\n";

inline constexpr const char* readyForUpdate = " found and ready for update";
inline constexpr const char* autoUpdating = "Auto updating firmware...";
inline constexpr const char* reprogramming = "Re-programming the ";
inline constexpr const char* badFirmware = " found. Bad firmware version.";
inline constexpr const char* erasing = "Erasing VoiceSlot(s) and firmware";
inline constexpr const char* erased = "Erased VoiceSlot(s) and firmware";
inline constexpr const char* eraseFailed = "Failed to erase VoiceSlot(s) and firmware";
inline constexpr const char* updateFinishedStatus = "Update finished!";
inline constexpr const char* updateFinishedBar = "Update finished";
inline constexpr const char* appModeFound = " found (in app mode). Firmware version: ";
inline constexpr const char* allFine = "Everything is fine. Please enjoy the amplifier!";
inline constexpr const char* pleaseWait = "Please wait... Amp is OFF or USB is changing state.";
/** The bar's text for a run broken off (the state Aborted). */
inline constexpr const char* brokenOffBar = "Update abnormally terminated !!!";
inline constexpr const char* notSentStatus =
    "Nothing was sent to the amplifier: its update port could not be opened, or it went away before the "
    "update began. The amplifier is unchanged.\n\nCheck the USB cable, then press Update to try again.";
inline constexpr const char* notSentBar = "Update not started: nothing was sent";
inline constexpr const char* noFirmwareToRestore =
    " This updater carries no firmware for this model, so the amplifier was not erased.";
inline constexpr const char* repairDidNotTake =
    " The repair did not take: the amplifier still reports a firmware version that is not accepted. It was "
    "not erased again. Please contact your dealer.";
inline constexpr const char* claimedElsewhere = "Another program is updating this amplifier.";
inline constexpr const char* notConfirmedStatus =
    "The update is not confirmed: the amplifier that came back does not report the new firmware. Bring it "
    "into update mode and press Update to try again.";
inline constexpr const char* sleepNotHeldLog = "Sleep could not be held off during the update: ";

inline constexpr const char* quitQuestionTitle = "An update is in progress";
inline constexpr const char* quitQuestionText =
    "Closing now stops the update part-way and leaves the amplifier without working firmware.\n\n"
    "Keep the updater open until the update has finished.";
inline constexpr const char* keepUpdatingCaption = "Keep updating";
inline constexpr const char* closeAnywayCaption = "Close anyway";

/** What a screen reader says of the controls whose captions do not say it, and what it announces. */
inline constexpr const char* updateDescription = "Sends the new firmware to the amplifier.";
inline constexpr const char* modelSelectorTitle = "Amplifier model";
inline constexpr const char* modelSelectorDescription =
    "Choose exactly the model of the attached amplifier. A wrong model voids the warranty.";
inline constexpr const char* versionsTitle = "Versions";
inline constexpr const char* versionsDescription =
    "Opens and closes the page with the versions of this updater and of the firmware it carries.";
inline constexpr const char* bootInfoTitle = "Boot help";
inline constexpr const char* bootInfoDescription =
    "Opens and closes the help page for an amplifier that has not been found.";
inline constexpr const char* voiceSlotInfoTitle = "VoiceSlot information";
inline constexpr const char* voiceSlotInfoDescription = "Opens and closes the VoiceSlot compatibility page.";
inline constexpr const char* statusTitle = "Status";
inline constexpr const char* progressTitle = "Update progress";
inline constexpr const char* updateStartedAnnouncement =
    "Update started. Do not turn off the amplifier or disconnect the USB cable until the update has "
    "finished.";

inline constexpr const char* stateLog = "State: ";
inline constexpr const char* updatePressedLog = "Upd. btn prsd @: ";
/** The log line of a run broken off ("terminated" in the log's own words). */
inline constexpr const char* brokenOffLog = "Upd. terminated @: ";
/** Every log line ends with this separator and the time of day. */
inline constexpr const char* logSeparator = "\t\t ";

/** The local time as H:MM:SS on the 24-hour clock, no leading zero on the hours. */
inline juce::String timeStamp(const juce::Time& time = juce::Time::getCurrentTime())
{
    return juce::String(time.getHours()) + ":" + juce::String(time.getMinutes()).paddedLeft('0', 2) + ":" +
           juce::String(time.getSeconds()).paddedLeft('0', 2);
}
} // namespace uiTexts
