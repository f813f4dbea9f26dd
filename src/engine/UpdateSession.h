#pragma once

#include "device/ExclusiveClaim.h"
#include "engine/DeviceCom.h"
#include "engine/UpdaterState.h"

/** What a front end shows for the update: the window's status text, progress bar and Update button, or the
    command line's lines. */
struct UpdateView
{
    juce::String statusText;
    /** The bar's text; while barShowsPercentage, the bar shows `progress` as a percentage instead. */
    juce::String barText;
    bool barShowsPercentage = false;
    double progress = 0.0;
    juce::String updateCaption;
    bool updateVisible = false;
    bool updateEnabled = false;
    bool selectorVisible = false;
};

/** One amplifier's update, from its first message to its confirmation: owns the engine and its link, follows
    the facts the link records and the engine's runs through ten states, acts on facts only once they have
    held still (the steadiness rule), breaks off a run whose amplifier left, erases an amplifier with firmware
    it must not keep and re-programs it, claims the amplifier against every other updater meanwhile, and
    tells its listeners what happens and what to show. It keeps its own time: a step every tickIntervalMs,
    from its own clock in the program (startClock) or from a test's; a steadiness period of
    steadinessIntervalMs starts again whenever the facts change. Nothing here knows a widget or a terminal:
    the window and the command line turn its events into widgets or words. Message thread. */
class UpdateSession : private juce::Timer
{
public:
    /** Hears what happens; what to show at any moment is in getView(). */
    class Listener
    {
    public:
        virtual ~Listener() = default;
        /** A step is about to be taken: a front end hands over what its user chose (the model). */
        virtual void aboutToStep() {}
        /** A step was taken: what getView() says may have changed. */
        virtual void viewChanged() {}
        /** The state machine entered another state. */
        virtual void stateChanged(UpdaterState) {}
        /** A run began sending the image of this model (its display name). */
        virtual void runStarted(const juce::String& /*model*/) {}
        /** A run ended: finished, broken off, or refused with nothing sent; `repair` for the automatic
            repair of an erased amplifier, which the session tries again by itself when refused. */
        virtual void runEnded(RunOutcome, bool /*repair*/) {}
        /** An amplifier with firmware it must not keep was erased for its repair: what was found. */
        virtual void erased(const juce::String& /*found*/) {}
        /** The amplifier in application mode (by its port name) reports this version, after the facts held
            still; told again only when either changes. */
        virtual void versionReported(const juce::String& /*portName*/, juce::int32 /*version*/) {}
        /** The amplifier must be erased and re-programmed, and repairs are not allowed: why. */
        virtual void repairWithheld(const juce::String& /*why*/) {}
        /** A line for the log, with its time stamp. */
        virtual void logLine(const juce::String&) {}
        /** A text for the screen reader: said once, and never twice in a row. */
        virtual void announce(const juce::String&) {}
        /** The Update button has just been offered. */
        virtual void updateOffered() {}
        /** A generic boot loader waits for the user to choose a model. */
        virtual void modelChoiceAsked() {}
        /** Help pages must make way for what the update shows. */
        virtual void pagesClosed() {}
        /** Sleep could not be held off during a run: why, in a line of its own. */
        virtual void sleepNotHeld(const juce::String& /*reason*/) {}
        /** The amplifier found is being updated by another program: nothing is sent to it here. */
        virtual void claimedElsewhere() {}
        /** The amplifier updated here came back at its place in application mode: `confirmed` when it is the
            image's model and reports the image's own version. */
        virtual void updateJudged(bool /*confirmed*/, juce::int32 /*version*/) {}
    };

    explicit UpdateSession(DeviceComSeams seams = {});
    ~UpdateSession() override;

    void addListener(Listener* listener) { listeners.add(listener); }
    void removeListener(Listener* listener) { listeners.remove(listener); }

    /** Steps the session every tickIntervalMs from now on, on the message thread. */
    void startClock() { startTimer(tickIntervalMs); }
    /** One step of the program's time: a tick of the state machine, and the end of a steadiness period
        once the facts have held still that long (again every period while they hold). */
    void step();
    /** The model a generic boot loader is to be given; empty for none. */
    void chooseModel(const juce::String& displayName);
    /** Starts the update on offer (the Update button). */
    void pressUpdate();
    /** Only an amplifier with firmware it may keep is erased and re-programmed by itself; a front end that
        must not do so unasked turns it off, and the amplifier is then left in "App / Amp". */
    void setRepairsAllowed(bool allowed) { repairsAllowed = allowed; }

    const UpdateView& getView() const { return view; }
    UpdaterState getState() const { return state; }
    bool isSteady() const { return usbSteady; }
    const juce::String& getChosenModel() const { return chosenModel; }
    /** The firmware key the last repair was started with. */
    const juce::String& getRepairKey() const { return autoUpdateName; }
    /** An update is running, or an amplifier was erased and has not reported a firmware version again:
        quitting now would leave it without working firmware. */
    bool isQuitUnsafe() const;

    /** Puts the machine in `newState` with `shownProgress` on the bar, for tests of a rule that depends on a
        progress no real run stops at. */
    void enterStateForTesting(UpdaterState newState, double shownProgress);

    /** An amplifier being updated here, or erased, is claimed against every other updater. */
    bool holdsClaim() const { return claim != nullptr; }

    static constexpr int tickIntervalMs = 100;
    static constexpr int steadinessIntervalMs = 2000;
    /** How long an erased amplifier's own generic boot loader is waited for at its place before the window
        turns to whatever it finds, as to any amplifier. */
    static constexpr int erasedReturnWaitMs = 60000;

    /** The engine and its link to the amplifier. */
    DeviceCom deviceCom;

private:
    void timerCallback() override { step(); }
    /** Tells the listeners of a run that has ended since the last look. */
    void noteRunOutcome();
    /** True when the facts changed, and a steadiness period starts again. */
    bool tick();
    /** The facts have held still for a steadiness period. */
    void markSteady();
    void log(const juce::String& text);
    void logStateChange();
    void announceOnce(const juce::String& text);
    void showBarText(const juce::String& text);
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
    void offerUpdateButton();
    void breakOffUpdate();
    void showNothingSent();
    /** Why the amplifier of `deviceMidiName` must not be erased for a repair; empty when it may. */
    juce::String reasonNotToErase() const;
    /** Takes the claim on the amplifier found and keeps the link to its place; false when another program
        holds it. */
    bool claimAmplifier();
    /** Ends the claim: the link again takes whatever it finds. */
    void releaseAmplifier();
    /** The name the claim on the amplifier found goes by: its place, or where the system does not tell it,
        its product ID. */
    juce::String claimPlace() const;
    /** Another program holds the amplifier found; it is then shown so, and offered nothing. */
    bool isClaimedElsewhere() const;
    void showClaimedElsewhere();
    /** Judges the amplifier back from this controller's update once it reports its version. */
    void judgeUpdate();

    juce::ListenerList<Listener> listeners;
    UpdateView view;
    RunOutcome lastOutcome = RunOutcome::none;
    juce::String lastVersionReport;

    bool usbSteady = false;
    juce::int64 elapsedMs = 0;
    std::optional<juce::int64> steadyAtMs;
    bool deviceConnected = false;
    bool bootValid = false;
    bool bootGeneric = false;
    bool lastDeviceConnected = false;
    bool lastBootValid = false;
    bool lastBootGeneric = false;
    juce::int32 appFirmwareVersion = 0;
    juce::String deviceMidiName;
    juce::String autoUpdateName;
    juce::String chosenModel;
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
    /** An amplifier was erased and has not yet reported a firmware version again. */
    bool repairPending = false;
    bool repairsAllowed = true;
    std::unique_ptr<ExclusiveClaim> claim;
    bool claimNoticeGiven = false;
    /** The product ID of the erased model's own generic boot loader: no other loader takes its repair. */
    int repairLoaderProductId = 0;
    int ticksWithoutErasedAmplifier = 0;
    /** What the amplifier updated here must report once back: its image's model and version. */
    struct ExpectedBack
    {
        juce::String firmwareKey;
        juce::int32 version = 0;
        bool judged = false;
        bool confirmed = false;
    };
    std::optional<ExpectedBack> expectedBack;
    bool repairWithheld = false;
    juce::String lastAnnouncement;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(UpdateSession)
};
