#include "ui/MainContentComponent.h"

#include "BinaryData.h"
#include "engine/HelpTexts.h"
#include "engine/UiTexts.h"

namespace
{
constexpr float focusOutlineAlpha = 0.75f;
} // namespace

MainContentComponent::MainContentComponent(UpdateSession& updateSession, Announcer announceTo)
    : session(updateSession), modelSelector(juce::String()),
      versionsView(uiTexts::versionsHeading + session.deviceCom.getSoftwareVersionsText()),
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
    for (const auto& name : session.deviceCom.getFirmwareDisplayNames())
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

    announcer = std::move(announceTo);
    setUpAccessibility();

    setSize(600, 400);
    session.addListener(this);
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

void MainContentComponent::logLine(const juce::String& line)
{
    juce::Logger::writeToLog(line);
}

void MainContentComponent::announce(const juce::String& text)
{
    if (announcer)
        announcer(text);
}

void MainContentComponent::updateOffered()
{
    render();
    if (updateButton.isShowing() && updateButton.getWantsKeyboardFocus())
        updateButton.grabKeyboardFocus();
}

void MainContentComponent::modelChoiceAsked()
{
    render();
    if (modelSelector.isShowing() && modelSelector.getWantsKeyboardFocus())
        modelSelector.grabKeyboardFocus();
}

void MainContentComponent::render()
{
    const auto& view = session.getView();
    statusLabel.setText(view.statusText, juce::dontSendNotification);
    progressValue = view.progress;
    if (progressBar.getTextToDisplay() != view.barText ||
        (progressBar.isShowingPercentage() && !view.barShowsPercentage))
        progressBar.setTextToDisplay(view.barText);
    if (progressBar.isShowingPercentage() != view.barShowsPercentage)
        progressBar.setPercentageDisplay(view.barShowsPercentage);
    updateButton.setButtonText(view.updateCaption);
    updateButton.setEnabled(view.updateEnabled);
    updateButton.setVisible(view.updateVisible);
    modelSelector.setVisible(view.selectorVisible);
    // A choice the session forgot is not left on screen.
    if (session.getChosenModel().isEmpty() && modelSelector.getSelectedId() != 0)
        modelSelector.setSelectedId(0, juce::dontSendNotification);
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
    session.removeListener(this);
}

void MainContentComponent::requestQuit(std::function<void()> quit)
{
    if (!session.isQuitUnsafe())
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
        session.deviceCom.stopUpdate();
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
    {
        session.chooseModel(modelSelector.getText());
        session.pressUpdate();
        render();
    }
    else if (button == &voiceSlotInfoButton)
        setInfoPages(false, !showVoiceSlotInfo, false);
    else if (button == &bootInfoButton)
        setInfoPages(false, false, !showBootInfo);
    else if (button == &versionsButton)
        setInfoPages(!showVersions, false, false);
}

void MainContentComponent::aboutToStep()
{
    answeredQuestion.reset();
    session.chooseModel(modelSelector.getText());
}

void MainContentComponent::viewChanged()
{
    render();
    progressBar.follow();
}
