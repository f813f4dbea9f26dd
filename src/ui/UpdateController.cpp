#include "ui/UpdateController.h"

#include "ui/HelpTexts.h"
#include "ui/UiTexts.h"

namespace
{
/** An update that stops outside these bounds is not broken off: it had not begun, or it had already finished.
 */
constexpr double breakOffBelowProgress = 0.99;
constexpr double breakOffAboveProgress = 0.01;
} // namespace

UpdateController::UpdateController(DeviceCom& engine, Listener& owner) : deviceCom(engine), listener(owner)
{
    view.statusText = helpTexts::instructionsText;
    view.barText = uiTexts::searching;
    view.updateCaption = uiTexts::updateCaption;
}

void UpdateController::log(const juce::String& text)
{
    listener.logLine(text + uiTexts::logSeparator + uiTexts::timeStamp());
}

void UpdateController::logStateChange()
{
    if (state == lastLoggedState)
        return;
    log(uiTexts::stateLog + getStateName(state));
    lastLoggedState = state;
}

void UpdateController::announceOnce(const juce::String& text)
{
    if (text == lastAnnouncement)
        return;
    lastAnnouncement = text;
    listener.announce(text);
}

void UpdateController::showBarText(const juce::String& text)
{
    // A text on the bar takes the place of the percentage.
    view.barText = text;
    view.barShowsPercentage = false;
}

bool UpdateController::isQuitUnsafe() const
{
    return deviceCom.getRunOutcome() == RunOutcome::running || repairPending;
}

void UpdateController::enterStateForTesting(UpdaterState newState, double shownProgress)
{
    state = newState;
    view.progress = shownProgress;
}

void UpdateController::chooseModel(const juce::String& displayName)
{
    chosenModel = displayName;
}

void UpdateController::markSteady()
{
    usbSteady = true;
    logStateChange();
}

void UpdateController::pressUpdate()
{
    if (state == UpdaterState::Updating)
        return;

    listener.pagesClosed();
    const auto modelName = deviceCom.midiInterface.genericBoot ? chosenModel : deviceMidiName;
    view.updateEnabled = false;
    log(uiTexts::updatePressedLog + juce::String(deviceCom.getProgress(), 2));

    const auto key = deviceCom.getFirmwareKeyForName(modelName);
    if (deviceCom.startUpdate(key))
    {
        state = UpdaterState::Updating;
        updateIsRepair = false;
        announceOnce(uiTexts::updateStartedAnnouncement);
        view.barShowsPercentage = true;
        view.selectorVisible = false;
    }
    else if (deviceCom.getRunOutcome() == RunOutcome::refused)
    {
        showNothingSent();
    }
}

void UpdateController::showNothingSent()
{
    view.statusText = uiTexts::notSentStatus;
    announceOnce(uiTexts::notSentStatus);
    view.progress = 0.0;
    showBarText(uiTexts::notSentBar);
    view.selectorVisible = deviceCom.midiInterface.genericBoot;
    offerUpdateButton();
    state = UpdaterState::Idle;
}

bool UpdateController::tick()
{
    deviceConnected = deviceCom.midiInterface.isDeviceIdentified();
    bootValid = deviceCom.midiInterface.bootDetected;
    bootGeneric = deviceCom.midiInterface.genericBoot;
    deviceMidiName = deviceCom.getConnectedAppPortName();

    // The model choice belongs to the generic boot loader it was made for: once none is connected, the
    // choice goes, so that nothing names another model than the one sent.
    if (!bootGeneric)
    {
        view.selectorVisible = false;
        chosenModel.clear();
    }

    if (const auto failure = deviceCom.takeSleepHoldFailure(); failure.isNotEmpty())
        log(uiTexts::sleepNotHeldLog + failure);

    const bool factsChanged = deviceConnected != lastDeviceConnected || bootValid != lastBootValid ||
                              bootGeneric != lastBootGeneric;
    if (factsChanged)
    {
        usbSteady = false;
        ++factChanges;
        lastDeviceConnected = deviceConnected;
        lastBootValid = bootValid;
        lastBootGeneric = bootGeneric;
    }

    switch (state)
    {
    case UpdaterState::Unknown:
        onUnknown();
        break;
    case UpdaterState::BootValid:
        onBootValid();
        break;
    case UpdaterState::BootGeneric:
        onBootGeneric();
        break;
    case UpdaterState::ErasedForRepair:
        onErasedForRepair();
        break;
    case UpdaterState::BadBootDetected:
        onBadBootDetected();
        break;
    case UpdaterState::Updating:
        onUpdating();
        break;
    case UpdaterState::Updated:
        onUpdated();
        break;
    case UpdaterState::AppMode:
        onAppMode();
        break;
    case UpdaterState::Idle:
        onIdle();
        break;
    case UpdaterState::Aborted:
        onAborted();
        break;
    }
    logStateChange();
    return factsChanged;
}

void UpdateController::offerUpdateButton()
{
    offerIsForGenericBoot = bootGeneric;
    view.updateCaption = uiTexts::updateCaption;
    view.updateEnabled = true;
    view.updateVisible = true;
    listener.updateOffered();
}

void UpdateController::onUnknown()
{
    if (!usbSteady)
        return;

    if (deviceConnected && !bootValid && !bootGeneric)
        state = UpdaterState::AppMode;
    else if (!deviceConnected && bootValid && !bootGeneric && deviceMidiName.isNotEmpty() &&
             !deviceCom.midiInterface.getConnectedDevice().isGenericBootLoader())
        state = UpdaterState::BootValid;
    else if (!deviceConnected && bootValid && bootGeneric)
        state = UpdaterState::BootGeneric;

    view.updateVisible = false;
    view.updateEnabled = false;
    showBarText({});
}

void UpdateController::onBootValid()
{
    if (!usbSteady)
        return;
    view.statusText = helpTexts::instructionsText;
    showBarText(deviceMidiName + uiTexts::readyForUpdate);
    announceOnce(deviceMidiName + uiTexts::readyForUpdate);
    offerUpdateButton();
    state = UpdaterState::Idle;
}

void UpdateController::onBootGeneric()
{
    if (!usbSteady)
        return;
    view.statusText = helpTexts::brokenBootText;
    announceOnce(helpTexts::brokenBootText);
    if (!view.selectorVisible)
    {
        view.selectorVisible = true;
        listener.modelChoiceAsked();
    }
    view.updateEnabled = false;
    view.updateVisible = false;

    if (chosenModel.isNotEmpty())
    {
        offerUpdateButton();
        state = UpdaterState::Idle;
    }
}

void UpdateController::onErasedForRepair()
{
    if (!usbSteady || !bootGeneric)
        return;
    view.statusText = uiTexts::autoUpdating;
    showBarText(uiTexts::reprogramming + autoUpdateName);

    if (deviceCom.startRepair(autoUpdateName))
    {
        announceOnce(juce::String(uiTexts::autoUpdating) + "\n" + uiTexts::reprogramming + autoUpdateName);
        view.barShowsPercentage = true;
        updateIsRepair = true;
        state = UpdaterState::Updating;
    }
}

void UpdateController::onBadBootDetected()
{
    listener.pagesClosed();
    view.statusText = deviceMidiName + uiTexts::badFirmware;
    showBarText(uiTexts::erasing);

    if (deviceMidiName.isEmpty())
        return;

    // Only an amplifier whose firmware can be put back is erased, and only once.
    const auto reason = reasonNotToErase();
    announceOnce(deviceMidiName + uiTexts::badFirmware + reason);
    if (reason.isNotEmpty())
    {
        view.statusText = deviceMidiName + uiTexts::badFirmware + reason;
        state = UpdaterState::AppMode;
        return;
    }

    // The firmware key comes from the record that carries this port name. For all models but one it is the
    // name without the maker's prefix; "KW LC20-D MKII" would give the display form, which no image carries.
    autoUpdateName = deviceCom.getFirmwareKeyForAppPortName(deviceMidiName);

    if (deviceCom.eraseDevice(deviceCom.getConnectedDeviceCode()))
    {
        erasedForRepair.addIfNotAlreadyThere(deviceMidiName);
        repairPending = true;
        showBarText(uiTexts::erased);
        state = UpdaterState::ErasedForRepair;
    }
    else
    {
        showBarText(uiTexts::eraseFailed);
    }
}

juce::String UpdateController::reasonNotToErase() const
{
    if (!deviceCom.hasFirmware(deviceCom.getFirmwareKeyForAppPortName(deviceMidiName)))
        return uiTexts::noFirmwareToRestore;
    if (erasedForRepair.contains(deviceMidiName))
        return uiTexts::repairDidNotTake;
    return {};
}

void UpdateController::breakOffUpdate()
{
    // The front end and the engine agree: once it is called broken off, nothing more is sent.
    deviceCom.stopUpdate();
    state = UpdaterState::Aborted;
    log(uiTexts::brokenOffLog + juce::String(deviceCom.getProgress(), 2));
}

void UpdateController::onUpdating()
{
    const auto outcome = deviceCom.getRunOutcome();
    if (outcome == RunOutcome::brokenOff)
    {
        breakOffUpdate();
        return;
    }
    if (outcome == RunOutcome::refused)
    {
        // Nothing reached the amplifier: a repair tries again by itself, a clicked update is offered again.
        if (updateIsRepair)
            state = UpdaterState::ErasedForRepair;
        else
            showNothingSent();
        return;
    }

    if (usbSteady)
    {
        view.selectorVisible = false;
        view.progress = deviceCom.getProgress();
        view.updateCaption = uiTexts::updatingCaption;
        view.updateEnabled = false;
        if (outcome == RunOutcome::finished)
        {
            state = UpdaterState::Updated;
            view.updateCaption = uiTexts::doneCaption;
        }
    }
    else if (outcome != RunOutcome::finished && view.progress > breakOffAboveProgress &&
             view.progress < breakOffBelowProgress)
    {
        // A run that delivered its whole image is not broken off: it waits for the
        // amplifier, which restarts after the closing record, to be steady again (the value shown may
        // still be one read before the last messages went out).
        breakOffUpdate();
    }
}

void UpdateController::onUpdated()
{
    view.statusText = uiTexts::updateFinishedStatus;
    announceOnce(uiTexts::updateFinishedStatus);
    view.progress = 0.0;
    showBarText(uiTexts::updateFinishedBar);
    appFirmwareVersion = 0; // the amplifier restarts: what it ran before tells nothing now
    state = UpdaterState::AppMode;
}

void UpdateController::onAppMode()
{
    if (!usbSteady)
    {
        view.progress = 0.0;
        view.statusText = helpTexts::instructionsText;
        showBarText(uiTexts::pleaseWait);
        view.updateVisible = false;
        return;
    }

    appFirmwareVersion =
        deviceCom.midiInterface.isDeviceIdentified() ? deviceCom.midiInterface.firmwareVersion.load() : 0;
    view.selectorVisible = false;
    view.barShowsPercentage = false;
    repairWithheld = false;

    if (appFirmwareVersion == 0)
        return;
    repairPending = false; // an amplifier that reports a version runs firmware again

    showBarText(deviceMidiName + uiTexts::appModeFound + juce::String(appFirmwareVersion));
    if (deviceCom.isAcceptedFirmwareVersion(appFirmwareVersion))
    {
        view.statusText = uiTexts::allFine;
        announceOnce(view.barText + "\n" + uiTexts::allFine);
        erasedForRepair.removeString(deviceMidiName);
    }
    else if (const auto reason = reasonNotToErase(); reason.isNotEmpty())
    {
        view.statusText = deviceMidiName + uiTexts::badFirmware + reason;
        announceOnce(deviceMidiName + uiTexts::badFirmware + reason);
    }
    else if (!repairsAllowed)
    {
        view.statusText = deviceMidiName + uiTexts::badFirmware;
        repairWithheld = true;
    }
    else
    {
        state = UpdaterState::BadBootDetected;
    }
}

void UpdateController::onIdle()
{
    // An offer made for one kind of boot loader is not left standing for another that took its place.
    if ((!deviceConnected && !bootValid) || (bootValid && bootGeneric != offerIsForGenericBoot))
        state = UpdaterState::Unknown;
}

void UpdateController::onAborted()
{
    // Aborted is the state of a run broken off.
    view.statusText = helpTexts::recoveryText;
    announceOnce(juce::String(uiTexts::brokenOffBar) + "\n" + helpTexts::recoveryText);
    view.progress = 0.0;
    showBarText(uiTexts::brokenOffBar);
    if (deviceConnected && !bootValid)
        state = UpdaterState::Unknown;
}
