#pragma once

#include "engine/DeviceCom.h"
#include "ui/Accessibility.h"
#include "ui/CaptionButton.h"
#include "ui/InfoView.h"
#include "ui/TextProgressBar.h"
#include "ui/UpdaterState.h"
#include "ui/WholeTextLabel.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The content of the main window: status text, progress bar, Update button, model selector, help pages and
    logo, and the state machine that follows the amplifier every 100 ms and tells the user what it found. */
class MainContentComponent : public juce::Component, public juce::Button::Listener, public juce::MultiTimer
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
    /** Timer 0 is the 100 ms tick of the state machine, timer 1 the 2000 ms steadiness timer. */
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
    static constexpr int steadinessTimerId = 1;
    /** The state machine ticks this often, and acts on facts that have held still this long. */
    static constexpr int tickIntervalMs = 100;
    static constexpr int steadinessIntervalMs = 2000;

    DeviceCom deviceCom;
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

    bool usbSteady = false;
    bool showBootInfo = false;
    bool deviceConnected = false;
    bool bootValid = false;
    bool bootGeneric = false;
    bool lastDeviceConnected = false;
    bool lastBootValid = false;
    bool lastBootGeneric = false;
    juce::int32 appFirmwareVersion = 0;
    juce::String deviceMidiName;
    juce::String autoUpdateName;
    UpdaterState state = UpdaterState::Unknown;
    UpdaterState lastLoggedState = UpdaterState::Idle;
    /** The running or last update was the automatic repair, which retries by itself when refused. */
    bool updateIsRepair = false;
    /** Whether the Update button on offer is for a generic boot loader (with the model chosen) or for a
        model-specific one; when the loader connected is no longer of that kind, the offer is withdrawn. */
    bool offerIsForGenericBoot = false;
    /** Amplifiers (by port name) erased for a repair that has not yet been confirmed by an accepted
        version: none is erased a second time. */
    juce::StringArray erasedForRepair;
    /** An amplifier was erased and has not yet reported a firmware version again: it has no working
        firmware, and closing the program asks first. */
    bool repairPending = false;

private:
    void tick();
    void logStateChange();
    void onUnknown();
    void onBootValid();
    void onBootGeneric();
    void onErasedForRepair();
    void onBadBootDetected();
    void onUpdating();
    void onUpdated();
    void onAppMode();
    void onIdle();
    void onAborted();
    void updateClicked();
    void offerUpdateButton();
    void breakOffUpdate();
    void showNothingSent();
    /** Why the amplifier of `deviceMidiName` must not be erased for a repair; empty when it may. */
    juce::String reasonNotToErase() const;

    void answerQuitQuestion(bool close);
    /** Tells the screen reader what the user must not miss, once: a text said last is not said again. */
    void announceOnce(const juce::String& text);
    void setUpAccessibility();

    Announcer announce;
    juce::String lastAnnouncement;

    std::unique_ptr<juce::AlertWindow> quitQuestion, answeredQuestion;
    std::function<void()> pendingQuit;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainContentComponent)
};
