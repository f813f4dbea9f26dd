#pragma once

#include "engine/DeviceCom.h"
#include "ui/Accessibility.h"
#include "ui/CaptionButton.h"
#include "ui/InfoView.h"
#include "ui/TextProgressBar.h"
#include "ui/UpdateController.h"
#include "ui/WholeTextLabel.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The content of the main window: status text, progress bar, Update button, model selector, help pages and
    logo. It ticks the update controller every 100 ms and shows what the controller says. */
class MainContentComponent : public juce::Component,
                             public juce::Button::Listener,
                             public juce::MultiTimer,
                             private UpdateController::Listener
{
public:
    explicit MainContentComponent(DeviceComSeams seams = {}, Announcer announcer = announceToScreenReader);
    ~MainContentComponent() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void paintOverChildren(juce::Graphics& g) override;
    void buttonClicked(juce::Button* button) override;
    /** Escape closes an open help page. */
    bool keyPressed(const juce::KeyPress& key) override;
    void focusOfChildComponentChanged(FocusChangeType) override { repaint(); }
    /** Timer 0 steps the update controller every 100 ms, and shows what it says. */
    void timerCallback(int timerID) override;

    /** Quits through `quit` at once unless an update is in progress or an amplifier erased for a repair has
        not yet come back with firmware. Then it asks first, without blocking the window: "keep updating" is
        the default; only on "close anyway" is an update stopped and `quit` called. */
    void requestQuit(std::function<void()> quit);
    /** The question asked by requestQuit while it is open; null otherwise. */
    juce::AlertWindow* getQuitQuestion() const { return quitQuestion.get(); }

    /** Opens and closes the help pages. */
    void setInfoPages(bool versionsOpen, bool voiceSlotOpen, bool bootOpen);

    static constexpr int tickTimerId = 0;

    DeviceCom deviceCom;
    UpdateController controller{deviceCom, *this};
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
    /** Shows what the controller says: texts, bar, Update button and selector. */
    void render();

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
