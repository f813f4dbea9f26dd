#pragma once

#include "engine/DeviceCom.h"
#include "engine/UpdateSession.h"
#include "ui/Accessibility.h"
#include "ui/CaptionButton.h"
#include "ui/InfoView.h"
#include "ui/TextProgressBar.h"
#include "ui/WholeTextLabel.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The content of the main window: status text, progress bar, Update button, model selector, help pages and
    logo. It shows what the update session says after each of its steps, and passes on the user's choices. */
class MainContentComponent : public juce::Component,
                             public juce::Button::Listener,
                             private UpdateSession::Listener
{
public:
    explicit MainContentComponent(UpdateSession& session, Announcer announcer = announceToScreenReader);
    ~MainContentComponent() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void paintOverChildren(juce::Graphics& g) override;
    void buttonClicked(juce::Button* button) override;
    /** Escape closes an open help page. */
    bool keyPressed(const juce::KeyPress& key) override;
    void focusOfChildComponentChanged(FocusChangeType) override { repaint(); }

    /** Quits through `quit` at once unless an update is in progress or an amplifier erased for a repair has
        not yet come back with firmware. Then it asks first, without blocking the window: "keep updating" is
        the default; only on "close anyway" is an update stopped and `quit` called. */
    void requestQuit(std::function<void()> quit);
    /** The question asked by requestQuit while it is open; null otherwise. */
    juce::AlertWindow* getQuitQuestion() const { return quitQuestion.get(); }

    /** Opens and closes the help pages. */
    void setInfoPages(bool versionsOpen, bool voiceSlotOpen, bool bootOpen);

    UpdateSession& session;
    juce::Image logoImage;
    /** The same logo with twice the pixels each way, drawn into the logo's place so it stays sharp on a
        scaled desktop; null if it cannot be decoded, and then the logo itself is drawn. */
    juce::Image sharpLogoImage;
    // Declared before the bar that shows it, so the bar never reads it uninitialised.
    double progressValue = 0.0;
    TextProgressBar progressBar{progressValue};
    CaptionButton updateButton{"Update"};
    TitledComboBox modelSelector;
    CaptionButton voiceSlotInfoButton{"VS info >"};
    CaptionButton bootInfoButton{"BOOT info >"};
    CaptionButton versionsButton{"i"};
    bool showVersions = false;
    bool showVoiceSlotInfo = false;
    WholeTextLabel statusLabel;
    InfoView versionsView;
    InfoView voiceSlotInfoView;
    InfoView bootInfoView;

    bool showBootInfo = false;

private:
    /** Shows what the session says: texts, bar, Update button and selector. */
    void render();

    void aboutToStep() override;
    void viewChanged() override;
    void logLine(const juce::String& line) override;
    void announce(const juce::String& text) override;
    void updateOffered() override;
    void modelChoiceAsked() override;
    void pagesClosed() override { setInfoPages(false, false, false); }

    void answerQuitQuestion(bool close);
    void setUpAccessibility();

    Announcer announcer;

    std::unique_ptr<juce::AlertWindow> quitQuestion, answeredQuestion;
    std::function<void()> pendingQuit;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainContentComponent)
};
