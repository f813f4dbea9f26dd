#include "engine/UpdateSession.h"

#include "engine/HelpTexts.h"
#include "engine/KnownDeviceTable.h"
#include "engine/UiTexts.h"

namespace
{
/** An update that stops outside these bounds is not broken off: it had not begun, or it had already finished.
 */
constexpr double breakOffBelowProgress = 0.99;
constexpr double breakOffAboveProgress = 0.01;
} // namespace

UpdateSession::UpdateSession(DeviceComSeams seams) : deviceCom(std::move(seams))
{
    view.statusText = helpTexts::instructionsText;
    view.barText = uiTexts::searching;
    view.updateCaption = uiTexts::updateCaption;
}

UpdateSession::~UpdateSession()
{
    stopTimer();
}

void UpdateSession::log(const juce::String& text)
{
    const auto line = text + uiTexts::logSeparator + uiTexts::timeStamp();
    listeners.call([&line](Listener& l) { l.logLine(line); });
}

void UpdateSession::logStateChange()
{
    if (state == lastLoggedState)
        return;
    log(uiTexts::stateLog + getStateName(state));
    lastLoggedState = state;
    listeners.call([this](Listener& l) { l.stateChanged(state); });
}

void UpdateSession::announceOnce(const juce::String& text)
{
    if (text == lastAnnouncement)
        return;
    lastAnnouncement = text;
    listeners.call([&](Listener& l) { l.announce(text); });
}

void UpdateSession::showBarText(const juce::String& text)
{
    // A text on the bar takes the place of the percentage.
    view.barText = text;
    view.barShowsPercentage = false;
}

bool UpdateSession::isQuitUnsafe() const
{
    return deviceCom.getRunOutcome() == RunOutcome::running || repairPending;
}

void UpdateSession::enterStateForTesting(UpdaterState newState, double shownProgress)
{
    state = newState;
    view.progress = shownProgress;
}

void UpdateSession::chooseModel(const juce::String& displayName)
{
    chosenModel = displayName;
}

void UpdateSession::step()
{
    listeners.call([](Listener& l) { l.aboutToStep(); });
    elapsedMs += tickIntervalMs;
    if (tick())
        steadyAtMs = elapsedMs + steadinessIntervalMs;
    if (steadyAtMs && elapsedMs >= *steadyAtMs)
    {
        markSteady();
        *steadyAtMs += steadinessIntervalMs;
    }
    noteRunOutcome();
    listeners.call([](Listener& l) { l.viewChanged(); });
}

void UpdateSession::noteRunOutcome()
{
    const auto outcome = deviceCom.getRunOutcome();
    if (outcome == lastOutcome)
        return;
    lastOutcome = outcome;
    if (outcome == RunOutcome::finished || outcome == RunOutcome::brokenOff || outcome == RunOutcome::refused)
        listeners.call([this, outcome](Listener& l) { l.runEnded(outcome, updateIsRepair); });
}

void UpdateSession::markSteady()
{
    usbSteady = true;
    logStateChange();
}

void UpdateSession::pressUpdate()
{
    if (state == UpdaterState::Updating)
        return;

    listeners.call([&](Listener& l) { l.pagesClosed(); });
    const auto modelName = deviceCom.midiInterface.genericBoot ? chosenModel : deviceMidiName;
    view.updateEnabled = false;
    log(uiTexts::updatePressedLog + juce::String(deviceCom.getProgress(), 2));

    const auto key = deviceCom.getFirmwareKeyForName(modelName);
    lastOutcome = RunOutcome::none; // this press's own outcome is told, whatever the last one was
    if (!claimAmplifier())
    {
        showClaimedElsewhere();
        return;
    }
    updateIsRepair = false;
    if (deviceCom.startUpdate(key))
    {
        state = UpdaterState::Updating;
        const auto shownModel =
            deviceCom.midiInterface.genericBoot ? chosenModel : deviceCom.getConnectedDisplayName();
        listeners.call([&shownModel](Listener& l) { l.runStarted(shownModel); });
        announceOnce(uiTexts::updateStartedAnnouncement);
        view.barShowsPercentage = true;
        view.selectorVisible = false;
    }
    else
    {
        releaseAmplifier();
        if (deviceCom.getRunOutcome() == RunOutcome::refused)
            showNothingSent();
    }
    noteRunOutcome();
}

juce::String UpdateSession::claimPlace() const
{
    const auto& link = deviceCom.midiInterface;
    if (const auto place = link.getConnectedPlace(); place.isNotEmpty())
        return place;
    const auto productId =
        link.bootDetected ? link.bootProductId.load() : link.getConnectedDevice().appProductId;
    return "usb product " + juce::String::toHexString(productId).paddedLeft('0', 4);
}

bool UpdateSession::claimAmplifier()
{
    if (claim != nullptr)
        return true;
    claim = amplifierClaim::take(claimPlace());
    if (claim == nullptr)
        return false;
    deviceCom.midiInterface.keepToPlace(deviceCom.midiInterface.getConnectedPlace());
    return true;
}

void UpdateSession::releaseAmplifier()
{
    claim.reset();
    deviceCom.midiInterface.keepToPlace(std::nullopt);
    repairLoaderProductId = 0;
    ticksWithoutErasedAmplifier = 0;
}

bool UpdateSession::isClaimedElsewhere() const
{
    return claim == nullptr && amplifierClaim::isHeld(claimPlace());
}

void UpdateSession::showClaimedElsewhere()
{
    view.statusText = uiTexts::claimedElsewhere;
    showBarText({});
    view.updateVisible = false;
    view.updateEnabled = false;
    view.selectorVisible = false;
    announceOnce(uiTexts::claimedElsewhere);
    if (!claimNoticeGiven)
        listeners.call([&](Listener& l) { l.claimedElsewhere(); });
    claimNoticeGiven = true;
}

void UpdateSession::showNothingSent()
{
    releaseAmplifier();
    view.statusText = uiTexts::notSentStatus;
    announceOnce(uiTexts::notSentStatus);
    view.progress = 0.0;
    showBarText(uiTexts::notSentBar);
    view.selectorVisible = deviceCom.midiInterface.genericBoot;
    offerUpdateButton();
    state = UpdaterState::Idle;
}

bool UpdateSession::tick()
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
    {
        log(uiTexts::sleepNotHeldLog + failure);
        listeners.call([&](Listener& l) { l.sleepNotHeld(uiTexts::sleepNotHeldLog + failure); });
    }

    const bool factsChanged = deviceConnected != lastDeviceConnected || bootValid != lastBootValid ||
                              bootGeneric != lastBootGeneric;
    if (factsChanged)
    {
        usbSteady = false;
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

void UpdateSession::offerUpdateButton()
{
    claimNoticeGiven = false;
    offerIsForGenericBoot = bootGeneric;
    view.updateCaption = uiTexts::updateCaption;
    view.updateEnabled = true;
    view.updateVisible = true;
    listeners.call([&](Listener& l) { l.updateOffered(); });
}

void UpdateSession::onUnknown()
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

void UpdateSession::onBootValid()
{
    if (!usbSteady)
        return;
    if (isClaimedElsewhere())
    {
        showClaimedElsewhere();
        return;
    }
    view.statusText = helpTexts::instructionsText;
    showBarText(deviceMidiName + uiTexts::readyForUpdate);
    announceOnce(deviceMidiName + uiTexts::readyForUpdate);
    offerUpdateButton();
    state = UpdaterState::Idle;
}

void UpdateSession::onBootGeneric()
{
    if (!usbSteady)
        return;
    if (isClaimedElsewhere())
    {
        showClaimedElsewhere();
        chosenModel.clear();
        return;
    }
    view.statusText = helpTexts::brokenBootText;
    announceOnce(helpTexts::brokenBootText);
    if (!view.selectorVisible)
    {
        view.selectorVisible = true;
        listeners.call([&](Listener& l) { l.modelChoiceAsked(); });
    }
    view.updateEnabled = false;
    view.updateVisible = false;

    if (chosenModel.isNotEmpty())
    {
        offerUpdateButton();
        state = UpdaterState::Idle;
    }
}

void UpdateSession::onErasedForRepair()
{
    // The repair goes only to the erased amplifier's own generic boot loader, at the place it was erased at
    // (the link keeps to it); another amplifier's loader is left alone.
    const auto& link = deviceCom.midiInterface;
    const bool ownLoader =
        bootGeneric && (repairLoaderProductId == 0 || link.bootProductId == repairLoaderProductId);
    if (!ownLoader)
    {
        // Not back where it was (its cable moved to another port, say): the claim ends, and whatever loader
        // the window finds is treated as any amplifier found, never repaired unasked.
        if (++ticksWithoutErasedAmplifier * tickIntervalMs >= erasedReturnWaitMs)
        {
            releaseAmplifier();
            state = UpdaterState::Unknown;
        }
        return;
    }
    ticksWithoutErasedAmplifier = 0;
    if (!usbSteady)
        return;
    view.statusText = uiTexts::autoUpdating;
    showBarText(uiTexts::reprogramming + autoUpdateName);

    lastOutcome = RunOutcome::none;
    updateIsRepair = true;
    if (deviceCom.startRepair(autoUpdateName))
    {
        const auto shownModel = getDisplayNameForKey(deviceCom.midiInterface.knownDevices, autoUpdateName);
        listeners.call([&shownModel](Listener& l) { l.runStarted(shownModel); });
        announceOnce(juce::String(uiTexts::autoUpdating) + "\n" + uiTexts::reprogramming + autoUpdateName);
        view.barShowsPercentage = true;
        state = UpdaterState::Updating;
    }
}

void UpdateSession::onBadBootDetected()
{
    listeners.call([&](Listener& l) { l.pagesClosed(); });
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
    if (!claimAmplifier())
    {
        showClaimedElsewhere();
        state = UpdaterState::AppMode;
        return;
    }
    const auto* model = findKnownDeviceByKey(deviceCom.midiInterface.knownDevices, autoUpdateName);

    if (deviceCom.eraseDevice(deviceCom.getConnectedDeviceCode()))
    {
        erasedForRepair.addIfNotAlreadyThere(deviceMidiName);
        repairPending = true;
        repairLoaderProductId = model != nullptr ? model->genericBootProductId : 0;
        ticksWithoutErasedAmplifier = 0;
        showBarText(uiTexts::erased);
        const auto found = deviceMidiName + uiTexts::badFirmware;
        listeners.call([&found](Listener& l) { l.erased(found); });
        state = UpdaterState::ErasedForRepair;
    }
    else
    {
        releaseAmplifier();
        showBarText(uiTexts::eraseFailed);
    }
}

juce::String UpdateSession::reasonNotToErase() const
{
    if (!deviceCom.hasFirmware(deviceCom.getFirmwareKeyForAppPortName(deviceMidiName)))
        return uiTexts::noFirmwareToRestore;
    if (erasedForRepair.contains(deviceMidiName))
        return uiTexts::repairDidNotTake;
    return {};
}

void UpdateSession::breakOffUpdate()
{
    // The front end and the engine agree: once it is called broken off, nothing more is sent.
    deviceCom.stopUpdate();
    releaseAmplifier();
    state = UpdaterState::Aborted;
    log(uiTexts::brokenOffLog + juce::String(deviceCom.getProgress(), 2));
}

void UpdateSession::onUpdating()
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

void UpdateSession::onUpdated()
{
    view.statusText = uiTexts::updateFinishedStatus;
    announceOnce(uiTexts::updateFinishedStatus);
    view.progress = 0.0;
    showBarText(uiTexts::updateFinishedBar);
    appFirmwareVersion = 0; // the amplifier restarts: what it ran before tells nothing now
    // Only the amplifier at this place, as the image's model with the image's own version, confirms it.
    if (const auto* image = deviceCom.getRunFirmware())
        expectedBack = ExpectedBack{image->firmwareKey, image->versionNumber};
    state = UpdaterState::AppMode;
}

void UpdateSession::onAppMode()
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
    const bool withheldBefore = std::exchange(repairWithheld, false);

    if (appFirmwareVersion == 0)
    {
        if (expectedBack && expectedBack->judged)
            expectedBack.reset(); // the amplifier judged has gone; the next one is judged as any
        return;
    }
    repairPending = false; // an amplifier that reports a version runs firmware again
    judgeUpdate();
    if (const auto report = deviceMidiName + "\n" + juce::String(appFirmwareVersion);
        report != lastVersionReport)
    {
        lastVersionReport = report;
        listeners.call([this](Listener& l) { l.versionReported(deviceMidiName, appFirmwareVersion); });
    }

    showBarText(deviceMidiName + uiTexts::appModeFound + juce::String(appFirmwareVersion));
    const bool accepted = deviceCom.isAcceptedFirmwareVersion(appFirmwareVersion);
    if (accepted && expectedBack && !expectedBack->confirmed)
    {
        view.statusText = uiTexts::notConfirmedStatus;
        announceOnce(view.barText + "\n" + uiTexts::notConfirmedStatus);
    }
    else if (accepted)
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
        if (!withheldBefore)
            listeners.call([this](Listener& l) { l.repairWithheld(view.statusText); });
    }
    else
    {
        state = UpdaterState::BadBootDetected;
    }
}

void UpdateSession::judgeUpdate()
{
    if (!expectedBack || expectedBack->judged)
        return;
    expectedBack->judged = true;
    expectedBack->confirmed =
        deviceCom.midiInterface.getConnectedDevice().firmwareKey == expectedBack->firmwareKey &&
        appFirmwareVersion == expectedBack->version;
    releaseAmplifier();
    listeners.call([&](Listener& l) { l.updateJudged(expectedBack->confirmed, appFirmwareVersion); });
}

void UpdateSession::onIdle()
{
    // An offer is withdrawn the moment another program takes the amplifier.
    if (view.updateVisible && isClaimedElsewhere())
    {
        state = UpdaterState::Unknown;
        return;
    }
    // An offer made for one kind of boot loader is not left standing for another that took its place.
    if ((!deviceConnected && !bootValid) || (bootValid && bootGeneric != offerIsForGenericBoot))
        state = UpdaterState::Unknown;
}

void UpdateSession::onAborted()
{
    // Aborted is the state of a run broken off.
    view.statusText = helpTexts::recoveryText;
    announceOnce(juce::String(uiTexts::brokenOffBar) + "\n" + helpTexts::recoveryText);
    view.progress = 0.0;
    showBarText(uiTexts::brokenOffBar);
    if (deviceConnected && !bootValid)
        state = UpdaterState::Unknown;
}
