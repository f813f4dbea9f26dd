#include "ui/MainContentComponent.h"

#include "BinaryData.h"
#include "ui/HelpTexts.h"
#include "ui/UiTexts.h"

namespace
{
/** An update that stops outside these bounds is not broken off: it had not begun, or it had already finished.
 */
constexpr double breakOffBelowProgress = 0.99;
constexpr double breakOffAboveProgress = 0.01;
constexpr float focusOutlineAlpha = 0.75f;

void writeLogLine(const juce::String& text)
{
    juce::Logger::writeToLog(text + uiTexts::logSeparator + uiTexts::timeStamp());
}
} // namespace

MainContentComponent::MainContentComponent(DeviceComSeams seams, Announcer announcer)
    : deviceCom(std::move(seams)), modelSelector(juce::String()),
      versionsView(uiTexts::versionsHeading + deviceCom.getSoftwareVersionsText()),
      voiceSlotInfoView(helpTexts::voiceSlotInfoText), bootInfoView(helpTexts::bootInfoText)
{
    logoImage = juce::ImageFileFormat::loadFrom(BinaryData::kestrellogowebblack_png,
                                                BinaryData::kestrellogowebblack_pngSize);
    sharpLogoImage = juce::ImageFileFormat::loadFrom(BinaryData::kestrellogowebblack2x_png,
                                                     BinaryData::kestrellogowebblack2x_pngSize);

    addAndMakeVisible(progressBar);
    progressBar.setTextToDisplay(uiTexts::searching);

    addAndMakeVisible(updateButton);
    updateButton.setConnectedEdges(juce::Button::ConnectedOnLeft);
    updateButton.addListener(this);
    updateButton.setEnabled(false);
    updateButton.setVisible(false);

    int itemId = 1;
    for (const auto& name : deviceCom.getFirmwareDisplayNames())
        modelSelector.addItem(name, itemId++);
    addChildComponent(modelSelector);
    modelSelector.setTextWhenNothingSelected(uiTexts::noModelChosen);

    addAndMakeVisible(bootInfoButton);
    bootInfoButton.addListener(this);
    addAndMakeVisible(voiceSlotInfoButton);
    voiceSlotInfoButton.addListener(this);
    addAndMakeVisible(versionsButton);
    versionsButton.addListener(this);

    statusLabel.setText(helpTexts::instructionsText, juce::dontSendNotification);
    addAndMakeVisible(statusLabel);

    addChildComponent(versionsView);
    versionsView.setVisible(showVersions);
    addChildComponent(voiceSlotInfoView);
    voiceSlotInfoView.setVisible(showVoiceSlotInfo);
    addChildComponent(bootInfoView);
    bootInfoView.setVisible(showBootInfo);

    announce = std::move(announcer);
    setUpAccessibility();

    setSize(600, 400);
    startTimer(tickTimerId, tickIntervalMs);
}

void MainContentComponent::setUpAccessibility()
{
    // Names where the caption does not say it, and the reading order for Tab and Shift-Tab; the framework
    // skips what is hidden or disabled.
    updateButton.setDescription(uiTexts::updateDescription);
    modelSelector.setTitle(uiTexts::modelSelectorTitle);
    modelSelector.setDescription(uiTexts::modelSelectorDescription);
    versionsButton.setTitle(uiTexts::versionsTitle);
    versionsButton.setDescription(uiTexts::versionsDescription);
    bootInfoButton.setTitle(uiTexts::bootInfoTitle);
    bootInfoButton.setDescription(uiTexts::bootInfoDescription);
    voiceSlotInfoButton.setTitle(uiTexts::voiceSlotInfoTitle);
    voiceSlotInfoButton.setDescription(uiTexts::voiceSlotInfoDescription);
    statusLabel.setTitle(uiTexts::statusTitle);
    progressBar.setTitle(uiTexts::progressTitle);

    int order = 1;
    for (juce::Component* control : std::initializer_list<juce::Component*>{
             &modelSelector, &updateButton, &versionsButton, &bootInfoButton, &voiceSlotInfoButton})
    {
        control->setExplicitFocusOrder(order++);
        control->setWantsKeyboardFocus(true);
    }
}

void MainContentComponent::announceOnce(const juce::String& text)
{
    if (text == lastAnnouncement)
        return;
    lastAnnouncement = text;
    if (announce)
        announce(text);
}

bool MainContentComponent::keyPressed(const juce::KeyPress& key)
{
    if (key.isKeyCode(juce::KeyPress::escapeKey) && (showVersions || showVoiceSlotInfo || showBootInfo))
    {
        setInfoPages(false, false, false);
        return true;
    }
    return false;
}

void MainContentComponent::paintOverChildren(juce::Graphics& g)
{
    // The control that has the keyboard focus is outlined in the text colour, which stands out against
    // every background of the window.
    for (auto* child : getChildren())
    {
        if (child->hasKeyboardFocus(true) && child->isShowing())
        {
            g.setColour(findColour(juce::Label::textColourId).withAlpha(focusOutlineAlpha));
            g.drawRect(child->getBounds().expanded(2), 2);
            return;
        }
    }
}

MainContentComponent::~MainContentComponent()
{
    stopTimer(tickTimerId);
    stopTimer(steadinessTimerId);
}

void MainContentComponent::requestQuit(std::function<void()> quit)
{
    if (deviceCom.getRunOutcome() != RunOutcome::running && !repairPending)
    {
        quit();
        return;
    }
    if (quitQuestion != nullptr)
    {
        quitQuestion->toFront(true);
        return;
    }

    pendingQuit = std::move(quit);
    quitQuestion = std::make_unique<juce::AlertWindow>(uiTexts::quitQuestionTitle, uiTexts::quitQuestionText,
                                                       juce::MessageBoxIconType::WarningIcon, this);
    // Return and Escape both keep updating: only a deliberate click closes.
    quitQuestion->addButton(uiTexts::keepUpdatingCaption, 0, juce::KeyPress(juce::KeyPress::returnKey),
                            juce::KeyPress(juce::KeyPress::escapeKey));
    quitQuestion->addButton(uiTexts::closeAnywayCaption, 1);
    for (auto* child : quitQuestion->getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*>(child))
            button->onClick = [this, close = button->getButtonText() == uiTexts::closeAnywayCaption]
            { answerQuitQuestion(close); };
    quitQuestion->enterModalState(true);
}

void MainContentComponent::answerQuitQuestion(bool close)
{
    // The worker is told first: putting a window away can take a while on some systems, and not one more
    // message of the run is sent once the user said to close.
    if (close)
        deviceCom.stopUpdate();
    // The question is called from its own button: it is put away now and deleted on the next tick.
    quitQuestion->exitModalState(0);
    quitQuestion->setVisible(false);
    answeredQuestion = std::move(quitQuestion);
    auto quit = std::exchange(pendingQuit, nullptr);
    if (close)
        quit();
}

void MainContentComponent::paint(juce::Graphics& g)
{
    g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
    if (!logoImage.isValid())
        return;
    const auto place =
        logoImage.getBounds().withPosition(20, getHeight() - logoImage.getHeight() - 20).toFloat();
    if (sharpLogoImage.isValid())
        g.drawImage(sharpLogoImage, place);
    else
        g.drawImageAt(logoImage, 20, getHeight() - logoImage.getHeight() - 20);
}

void MainContentComponent::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();
    const auto logoHeight = logoImage.isValid() ? logoImage.getHeight() : 0;
    const auto rowTop = h - logoHeight - 64;

    updateButton.setBounds(w - 100, rowTop, 80, 24);
    bootInfoButton.setBounds(w - 160, h - 40, 60, 20);
    voiceSlotInfoButton.setBounds(w - 80, h - 40, 60, 20);
    versionsButton.setBounds(w - 240, h - 40, 20, 20);
    progressBar.setBounds(20, rowTop, updateButton.getX() - 20, 24);
    modelSelector.setBounds(progressBar.getBounds());
    statusLabel.setBounds(20, 20, w - 40, rowTop - 40);
    for (auto* page : {&versionsView, &voiceSlotInfoView, &bootInfoView})
        page->setBounds(20, 20, w - 40, h - 80);
}

void MainContentComponent::setInfoPages(bool versionsOpen, bool voiceSlotOpen, bool bootOpen)
{
    showVersions = versionsOpen;
    showVoiceSlotInfo = voiceSlotOpen;
    showBootInfo = bootOpen;

    voiceSlotInfoButton.setButtonText(showVoiceSlotInfo ? uiTexts::pageOpen : uiTexts::voiceSlotPageClosed);
    bootInfoButton.setButtonText(showBootInfo ? uiTexts::pageOpen : uiTexts::bootPageClosed);
    versionsButton.setButtonText(showVersions ? uiTexts::versionsPageOpen : uiTexts::versionsPageClosed);

    versionsView.setVisible(showVersions);
    voiceSlotInfoView.setVisible(showVoiceSlotInfo);
    bootInfoView.setVisible(showBootInfo);

    // An open page covers the progress row: what the mouse cannot reach there, the keyboard cannot either.
    const bool rowCovered = showVersions || showVoiceSlotInfo || showBootInfo;
    for (juce::Component* control : std::initializer_list<juce::Component*>{&modelSelector, &updateButton})
    {
        if (rowCovered && control->hasKeyboardFocus(true))
            control->giveAwayKeyboardFocus();
        control->setWantsKeyboardFocus(!rowCovered);
    }
}

void MainContentComponent::buttonClicked(juce::Button* button)
{
    if (button == &updateButton)
        updateClicked();
    else if (button == &voiceSlotInfoButton)
        setInfoPages(false, !showVoiceSlotInfo, false);
    else if (button == &bootInfoButton)
        setInfoPages(false, false, !showBootInfo);
    else if (button == &versionsButton)
        setInfoPages(!showVersions, false, false);
}

void MainContentComponent::updateClicked()
{
    if (state == UpdaterState::Updating)
        return;

    setInfoPages(false, false, false);
    const auto modelName = deviceCom.midiInterface.genericBoot ? modelSelector.getText() : deviceMidiName;
    updateButton.setEnabled(false);
    writeLogLine(uiTexts::updatePressedLog + juce::String(deviceCom.getProgress(), 2));

    const auto key = deviceCom.getFirmwareKeyForName(modelName);
    if (deviceCom.startUpdate(key))
    {
        state = UpdaterState::Updating;
        updateIsRepair = false;
        announceOnce(uiTexts::updateStartedAnnouncement);
        progressBar.setPercentageDisplay(true);
        modelSelector.setVisible(false);
    }
    else if (deviceCom.getRunOutcome() == RunOutcome::refused)
    {
        showNothingSent();
    }
}

void MainContentComponent::showNothingSent()
{
    statusLabel.setText(uiTexts::notSentStatus, juce::dontSendNotification);
    announceOnce(uiTexts::notSentStatus);
    progressValue = 0.0;
    progressBar.setPercentageDisplay(false);
    progressBar.setTextToDisplay(uiTexts::notSentBar);
    modelSelector.setVisible(deviceCom.midiInterface.genericBoot);
    offerUpdateButton();
    state = UpdaterState::Idle;
}

void MainContentComponent::timerCallback(int timerID)
{
    if (timerID == steadinessTimerId)
        usbSteady = true;
    else if (timerID == tickTimerId)
        tick();
    logStateChange();
}

void MainContentComponent::logStateChange()
{
    if (state == lastLoggedState)
        return;
    writeLogLine(uiTexts::stateLog + getStateName(state));
    lastLoggedState = state;
}

void MainContentComponent::tick()
{
    answeredQuestion.reset();

    deviceConnected = deviceCom.midiInterface.isDeviceIdentified();
    bootValid = deviceCom.midiInterface.bootDetected;
    bootGeneric = deviceCom.midiInterface.genericBoot;
    deviceMidiName = deviceCom.getConnectedAppPortName();

    // The model choice belongs to the generic boot loader it was made for: once none is connected, the
    // selector goes and forgets it, so that nothing on screen names another model than the one sent.
    if (!bootGeneric)
    {
        modelSelector.setVisible(false);
        modelSelector.setSelectedId(0, juce::dontSendNotification);
    }

    if (const auto failure = deviceCom.takeSleepHoldFailure(); failure.isNotEmpty())
        writeLogLine(uiTexts::sleepNotHeldLog + failure);

    if (deviceConnected != lastDeviceConnected || bootValid != lastBootValid ||
        bootGeneric != lastBootGeneric)
    {
        usbSteady = false;
        startTimer(steadinessTimerId, steadinessIntervalMs);
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
    progressBar.follow();
}

void MainContentComponent::offerUpdateButton()
{
    offerIsForGenericBoot = bootGeneric;
    updateButton.setButtonText(uiTexts::updateCaption);
    updateButton.setEnabled(true);
    updateButton.setVisible(true);
    if (updateButton.isShowing() && updateButton.getWantsKeyboardFocus())
        updateButton.grabKeyboardFocus();
}

void MainContentComponent::onUnknown()
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

    updateButton.setVisible(false);
    updateButton.setEnabled(false);
    progressBar.setTextToDisplay({});
}

void MainContentComponent::onBootValid()
{
    if (!usbSteady)
        return;
    statusLabel.setText(helpTexts::instructionsText, juce::dontSendNotification);
    progressBar.setTextToDisplay(deviceMidiName + uiTexts::readyForUpdate);
    announceOnce(deviceMidiName + uiTexts::readyForUpdate);
    offerUpdateButton();
    state = UpdaterState::Idle;
}

void MainContentComponent::onBootGeneric()
{
    if (!usbSteady)
        return;
    statusLabel.setText(helpTexts::brokenBootText, juce::dontSendNotification);
    announceOnce(helpTexts::brokenBootText);
    if (!modelSelector.isVisible())
    {
        modelSelector.setVisible(true);
        if (modelSelector.isShowing() && modelSelector.getWantsKeyboardFocus())
            modelSelector.grabKeyboardFocus();
    }
    updateButton.setEnabled(false);
    updateButton.setVisible(false);

    if (modelSelector.getText().isNotEmpty())
    {
        offerUpdateButton();
        state = UpdaterState::Idle;
    }
}

void MainContentComponent::onErasedForRepair()
{
    if (!usbSteady || !bootGeneric)
        return;
    statusLabel.setText(uiTexts::autoUpdating, juce::dontSendNotification);
    progressBar.setTextToDisplay(uiTexts::reprogramming + autoUpdateName);

    if (deviceCom.startRepair(autoUpdateName))
    {
        announceOnce(juce::String(uiTexts::autoUpdating) + "\n" + uiTexts::reprogramming + autoUpdateName);
        progressBar.setPercentageDisplay(true);
        updateIsRepair = true;
        state = UpdaterState::Updating;
    }
}

void MainContentComponent::onBadBootDetected()
{
    setInfoPages(false, false, false);
    statusLabel.setText(deviceMidiName + uiTexts::badFirmware, juce::dontSendNotification);
    progressBar.setTextToDisplay(uiTexts::erasing);

    if (deviceMidiName.isEmpty())
        return;

    // Only an amplifier whose firmware can be put back is erased, and only once.
    const auto reason = reasonNotToErase();
    announceOnce(deviceMidiName + uiTexts::badFirmware + reason);
    if (reason.isNotEmpty())
    {
        statusLabel.setText(deviceMidiName + uiTexts::badFirmware + reason, juce::dontSendNotification);
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
        progressBar.setTextToDisplay(uiTexts::erased);
        state = UpdaterState::ErasedForRepair;
    }
    else
    {
        progressBar.setTextToDisplay(uiTexts::eraseFailed);
    }
}

juce::String MainContentComponent::reasonNotToErase() const
{
    if (!deviceCom.hasFirmware(deviceCom.getFirmwareKeyForAppPortName(deviceMidiName)))
        return uiTexts::noFirmwareToRestore;
    if (erasedForRepair.contains(deviceMidiName))
        return uiTexts::repairDidNotTake;
    return {};
}

void MainContentComponent::breakOffUpdate()
{
    // The window and the engine agree: once the window calls it broken off, nothing more is sent.
    deviceCom.stopUpdate();
    state = UpdaterState::Aborted;
    writeLogLine(uiTexts::brokenOffLog + juce::String(deviceCom.getProgress(), 2));
}

void MainContentComponent::onUpdating()
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
        modelSelector.setVisible(false);
        progressValue = deviceCom.getProgress();
        updateButton.setButtonText(uiTexts::updatingCaption);
        updateButton.setEnabled(false);
        if (outcome == RunOutcome::finished)
        {
            state = UpdaterState::Updated;
            updateButton.setButtonText(uiTexts::doneCaption);
        }
    }
    else if (outcome != RunOutcome::finished && progressValue > breakOffAboveProgress &&
             progressValue < breakOffBelowProgress)
    {
        // A run that delivered its whole image is not broken off: it waits for the
        // amplifier, which restarts after the closing record, to be steady again (the value shown may
        // still be one read before the last messages went out).
        breakOffUpdate();
    }
}

void MainContentComponent::onUpdated()
{
    statusLabel.setText(uiTexts::updateFinishedStatus, juce::dontSendNotification);
    announceOnce(uiTexts::updateFinishedStatus);
    progressValue = 0.0;
    progressBar.setTextToDisplay(uiTexts::updateFinishedBar);
    state = UpdaterState::AppMode;
}

void MainContentComponent::onAppMode()
{
    if (!usbSteady)
    {
        progressValue = 0.0;
        statusLabel.setText(helpTexts::instructionsText, juce::dontSendNotification);
        progressBar.setTextToDisplay(uiTexts::pleaseWait);
        updateButton.setVisible(false);
        return;
    }

    appFirmwareVersion =
        deviceCom.midiInterface.isDeviceIdentified() ? deviceCom.midiInterface.firmwareVersion.load() : 0;
    modelSelector.setVisible(false);
    progressBar.setPercentageDisplay(false);

    if (appFirmwareVersion == 0)
        return;
    repairPending = false; // an amplifier that reports a version runs firmware again

    progressBar.setTextToDisplay(deviceMidiName + uiTexts::appModeFound + juce::String(appFirmwareVersion));
    if (deviceCom.isAcceptedFirmwareVersion(appFirmwareVersion))
    {
        statusLabel.setText(uiTexts::allFine, juce::dontSendNotification);
        announceOnce(progressBar.getTextToDisplay() + "\n" + uiTexts::allFine);
        erasedForRepair.removeString(deviceMidiName);
    }
    else if (const auto reason = reasonNotToErase(); reason.isNotEmpty())
    {
        statusLabel.setText(deviceMidiName + uiTexts::badFirmware + reason, juce::dontSendNotification);
        announceOnce(deviceMidiName + uiTexts::badFirmware + reason);
    }
    else
    {
        state = UpdaterState::BadBootDetected;
    }
}

void MainContentComponent::onIdle()
{
    // An offer made for one kind of boot loader is not left standing for another that took its place.
    if ((!deviceConnected && !bootValid) || (bootValid && bootGeneric != offerIsForGenericBoot))
        state = UpdaterState::Unknown;
}

void MainContentComponent::onAborted()
{
    // Aborted is the state of a run broken off.
    statusLabel.setText(helpTexts::recoveryText, juce::dontSendNotification);
    announceOnce(juce::String(uiTexts::brokenOffBar) + "\n" + helpTexts::recoveryText);
    progressValue = 0.0;
    progressBar.setTextToDisplay(uiTexts::brokenOffBar);
    if (deviceConnected && !bootValid)
        state = UpdaterState::Unknown;
}
