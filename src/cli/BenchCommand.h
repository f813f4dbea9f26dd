#pragma once

#include "engine/UpdateSession.h"

#include <optional>
#include <ostream>
#include <variant>

/** How `lclx-update` ends; a script reads the outcome from it. */
enum class BenchExit : int
{
    confirmed = 0,    // the image was delivered and the amplifier came back with an accepted version
    failed = 1,       // something else went wrong (an image could not be written)
    badArguments = 2, // the command line was not understood, or the amplifier cannot take the model named
    noAmplifier = 3,  // no amplifier was found within the time given
    refused = 4,      // nothing was sent: the update was refused, or a repair is needed and was not allowed
    brokenOff = 5,    // a run was broken off part-way: the amplifier has no working firmware
    notConfirmed =
        6, // the image went out, but the amplifier did not come back as the image's model and version
    claimedElsewhere = 7, // the amplifier found is being updated by another program; nothing was sent to it
    interrupted = 130     // stopped by the user before anything was sent
};

/** What `lclx-update` was asked to do. */
struct BenchOptions
{
    enum class Command
    {
        help,
        list,
        update,
        exportImages
    };
    Command command = Command::help;
    bool json = false;
    juce::String model;
    int waitSeconds = 60;
    bool repair = false;
    juce::String directory;
};

/** The options of a command line (without the program's name), or what is wrong with it. */
std::variant<BenchOptions, juce::String> parseBenchArguments(const juce::StringArray& arguments);

/** The text of `--help`: commands, options and exit codes. */
juce::String getBenchHelpText();

/** Writes every embedded image as `<key>.syx` into `directory` (made if missing), one line each to `out`. */
BenchExit exportImages(const FirmwareCatalogue& catalogue, const juce::File& directory, std::ostream& out,
                       std::ostream& err);

/** One `list` or `update` of the command line: hears the update session as the window does after each of
    its steps, decides what the window leaves to its user (pressing Update, choosing a model), and tells what
    happens as plain lines, as one updating line on a terminal, or as JSON lines. */
class BenchSession : private UpdateSession::Listener
{
public:
    BenchSession(BenchOptions options, DeviceComSeams seams, std::ostream& out, std::ostream& err,
                 bool terminal);
    ~BenchSession() override;

    /** One step of the session, for a test's clock; the program runs the session's own. */
    void step() { session.step(); }
    /** Ctrl-C or SIGTERM. Outside a run it ends the session at once; during a run the first one warns, and a
        second within interruptWindowMs stops the run after its current message. */
    void interrupt();
    /** How the session ended; empty while it goes on. */
    std::optional<BenchExit> getExit() const { return exit; }

    UpdateSession session;

    static constexpr int interruptWindowMs = 5000;
    /** How long an amplifier has to come back in application mode after its image went out, and how long
        `list` looks before it answers. */
    static constexpr int confirmTimeoutMs = 60000;
    static constexpr int listLookMs = 8000;

private:
    /** After each step of the session: what the command says and decides. */
    void viewChanged() override;
    void sleepNotHeld(const juce::String& reason) override;
    // What the session tells, turned into the command's words and decisions.
    void updateOffered() override;
    void modelChoiceAsked() override;
    void repairWithheld(const juce::String& why) override;
    void erased(const juce::String& found) override;
    void versionReported(const juce::String& portName, juce::int32 version) override;
    void runStarted(const juce::String& model) override;
    void runEnded(RunOutcome outcome, bool repair) override;
    void claimedElsewhere() override;
    void updateJudged(bool confirmed, juce::int32 version) override;
    void tickList();
    void tickUpdate();
    void finish(BenchExit code, const juce::String& text);
    void report(const juce::String& event, const juce::String& text, juce::DynamicObject::Ptr fields = {});
    void reportProgress();
    /** Ends the updating progress line on a terminal, so that what follows starts on a line of its own. */
    void endProgressLine();
    /** The display name of the model `--model` names, when the connected generic boot loader can take it;
        empty otherwise, with the reason in `problem`. */
    juce::String modelForGenericLoader(juce::String& problem) const;
    bool isRunGoing() const;
    int elapsedMs() const { return ticks * UpdateSession::tickIntervalMs; }

    BenchOptions options;
    std::ostream& out;
    std::ostream& err;
    bool terminal;
    int ticks = 0;
    std::optional<BenchExit> exit;
    bool pressed = false;
    bool runSeen = false;
    bool delivered = false;
    int deliveredAtMs = 0;
    int runStartMs = 0;
    int lastPercent = -1;
    bool progressLineOpen = false;
    int lastInterruptMs = -interruptWindowMs;
    /** The session offered Update in its last step. */
    bool offerStanding = false;
    juce::String modelName;
    int erasedAtMs = -1;
    /** The amplifier found last is being updated by another program. */
    bool claimSeen = false;
    struct Judgement
    {
        bool confirmed;
        juce::int32 version;
    };
    std::optional<Judgement> judgement;
};
