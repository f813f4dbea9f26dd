#include "cli/BenchCommand.h"

#include "device/UsbProbe.h"
#include "engine/HelpTexts.h"
#include "engine/KnownDeviceTable.h"
#include "engine/UiTexts.h"

namespace
{
constexpr int longestWaitSeconds = 24 * 60 * 60;
/** Without a terminal, progress is one line per this many percent. */
constexpr int plainProgressStep = 10;
/** Before this share of the image is out, no time left is guessed. */
constexpr double leastProgressForEstimate = 0.02;
/** With no known USB device at all after this long, `list` answers at once. */
constexpr int listEmptyAfterMs = 1000;

juce::String describeTimeLeft(int seconds)
{
    return juce::String(seconds / 60) + ":" + juce::String(seconds % 60).paddedLeft('0', 2) + " left";
}

/** A record that names a model, found by name or firmware key in any case; null when none. */
const KnownDevice* findModel(const KnownDevices& devices, const juce::String& name)
{
    return findKnownDevice(devices,
                           [&](const KnownDevice& d)
                           {
                               return !d.isGenericBootLoader() && (d.displayName.equalsIgnoreCase(name) ||
                                                                   d.firmwareKey.equalsIgnoreCase(name));
                           });
}
} // namespace

std::variant<BenchOptions, juce::String> parseBenchArguments(const juce::StringArray& arguments)
{
    BenchOptions options;
    if (arguments.isEmpty())
        return juce::String("No command given.");
    const auto& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help")
        return options;
    if (command == "list")
        options.command = BenchOptions::Command::list;
    else if (command == "update")
        options.command = BenchOptions::Command::update;
    else if (command == "export")
        options.command = BenchOptions::Command::exportImages;
    else
        return "Unknown command \"" + command + "\".";

    const bool isUpdate = options.command == BenchOptions::Command::update;
    for (int i = 1; i < arguments.size(); ++i)
    {
        const auto& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--help" || argument == "-h")
            return BenchOptions{};
        if (argument == "--json" && options.command != BenchOptions::Command::exportImages)
            options.json = true;
        else if (argument == "--repair" && isUpdate)
            options.repair = true;
        else if (argument == "--model" && isUpdate && hasValue)
            options.model = arguments[++i];
        else if (argument == "--wait" && isUpdate && hasValue)
        {
            const auto value = arguments[++i];
            if (!value.containsOnly("0123456789") || value.isEmpty() || value.length() > 6 ||
                value.getIntValue() > longestWaitSeconds)
                return "--wait takes whole seconds, 0 to " + juce::String(longestWaitSeconds) + ".";
            options.waitSeconds = value.getIntValue();
        }
        else if (options.command == BenchOptions::Command::exportImages && options.directory.isEmpty() &&
                 !argument.startsWith("-"))
            options.directory = argument;
        else
            return "\"" + argument + "\" is not an option of " + command + ".";
    }
    if (options.command == BenchOptions::Command::exportImages && options.directory.isEmpty())
        return juce::String("export needs the folder to write the images to.");
    return options;
}

juce::String getBenchHelpText()
{
    return R"(lclx-update: updates the firmware of LC and LX amplifiers from the command line.

  lclx-update list [--json]
      The amplifiers connected now: model, mode, firmware version, whether an update is available.
  lclx-update update [--model NAME] [--wait SECONDS] [--repair] [--json]
      Waits up to SECONDS (default 60) for an amplifier in update mode, sends its firmware, waits for it to
      come back and confirms its version. A generic boot loader needs --model. An amplifier whose firmware
      must not be kept is erased and re-programmed only with --repair.
  lclx-update export DIR
      Writes every firmware image the program carries to DIR as <key>.syx.

Ctrl-C during an update warns first; a second Ctrl-C within 5 s stops it, which leaves the amplifier
without working firmware until it is updated again.

Exit status:
  0    the update was delivered and the amplifier came back with an accepted version (list, export: done)
  1    an image could not be written
  2    bad arguments, or the amplifier cannot take the model named
  3    no amplifier found in time
  4    refused: nothing was sent (or a repair is needed and --repair was not given)
  5    broken off part-way: the amplifier has no working firmware; bring it into update mode and run again
  6    not confirmed: the image went out, but the amplifier did not come back where it was as the image's
       model with the image's version
  7    another program is updating the amplifier found: nothing was sent to it
  130  stopped by the user before anything was sent

A bench loop: while lclx-update update --wait 600; do :; done
)";
}

BenchExit exportImages(const FirmwareCatalogue& catalogue, const juce::File& directory, std::ostream& out,
                       std::ostream& err)
{
    if (!directory.createDirectory())
    {
        err << "Cannot make the folder " << directory.getFullPathName() << "\n";
        return BenchExit::failed;
    }
    for (const auto* entry : catalogue)
    {
        const auto file = directory.getChildFile(entry->firmwareKey + ".syx");
        if (!file.replaceWithData(entry->imageData, entry->imageSize))
        {
            err << "Cannot write " << file.getFullPathName() << "\n";
            return BenchExit::failed;
        }
        out << file.getFullPathName() << " " << static_cast<int>(entry->imageSize) << " bytes, firmware "
            << entry->versionText << "\n";
    }
    return BenchExit::confirmed;
}

BenchSession::BenchSession(BenchOptions chosen, DeviceComSeams seams, std::ostream& output,
                           std::ostream& errors, bool isTerminal)
    : session(std::move(seams)), options(std::move(chosen)), out(output), err(errors),
      terminal(isTerminal && !options.json)
{
    // Erasing is never done unasked from a script; listing never changes anything.
    session.setRepairsAllowed(options.command == BenchOptions::Command::update && options.repair);
    session.addListener(this);
}

BenchSession::~BenchSession()
{
    session.removeListener(this);
}

void BenchSession::sleepNotHeld(const juce::String& reason)
{
    endProgressLine();
    err << reason << "\n" << std::flush;
}

void BenchSession::claimedElsewhere()
{
    claimSeen = true;
    pressed = false; // pressed again once the other program is done
    report("claimed", uiTexts::claimedElsewhere);
}

void BenchSession::updateJudged(bool confirmed, juce::int32 version)
{
    judgement = Judgement{confirmed, version};
}

void BenchSession::viewChanged()
{
    ++ticks;
    if (!exit)
    {
        if (options.command == BenchOptions::Command::list)
            tickList();
        else
            tickUpdate();
    }
}

void BenchSession::report(const juce::String& event, const juce::String& text,
                          juce::DynamicObject::Ptr fields)
{
    if (options.json)
    {
        if (fields == nullptr)
            fields = new juce::DynamicObject();
        fields->setProperty("event", event);
        fields->setProperty("message", text);
        out << juce::JSON::toString(juce::var(fields.get()), true) << "\n" << std::flush;
        return;
    }
    endProgressLine();
    out << text << "\n" << std::flush;
}

void BenchSession::endProgressLine()
{
    if (progressLineOpen)
        out << "\n" << std::flush;
    progressLineOpen = false;
}

void BenchSession::finish(BenchExit code, const juce::String& text)
{
    if (exit)
        return;
    exit = code;
    auto fields = juce::DynamicObject::Ptr(new juce::DynamicObject());
    fields->setProperty("exitCode", static_cast<int>(code));
    if (code == BenchExit::confirmed || options.json)
    {
        report("result", text, fields);
        return;
    }
    endProgressLine();
    err << text << "\n" << std::flush;
}

void BenchSession::tickList()
{
    const auto& devices = session.deviceCom.midiInterface.knownDevices;
    const bool identified = session.deviceCom.midiInterface.isDeviceIdentified();
    const auto connected = session.deviceCom.midiInterface.getConnectedDevice();

    bool anyPresent = false, appModePresent = false;
    for (const auto* device : devices)
    {
        anyPresent |= isUsbDevicePresent(device->bootProductId);
        if (!device->isGenericBootLoader() && isUsbDevicePresent(device->appProductId))
            anyPresent = appModePresent = true;
    }
    const bool settled = session.isSteady() && (identified || !appModePresent);
    if (!settled && !(elapsedMs() >= listEmptyAfterMs && !anyPresent) && elapsedMs() < listLookMs)
        return;

    juce::Array<int> listed;
    int count = 0;
    auto line = [&](const juce::String& model, const juce::String& mode, juce::int32 version,
                    const juce::String& available)
    {
        ++count;
        auto fields = juce::DynamicObject::Ptr(new juce::DynamicObject());
        fields->setProperty("model", model);
        fields->setProperty("mode", mode);
        fields->setProperty("firmware", version != 0 ? juce::var(version) : juce::var());
        fields->setProperty("updateAvailable",
                            available == "unknown" ? juce::var() : juce::var(available == "yes"));
        const auto firmware =
            version != 0 ? "firmware " + juce::String(version) : juce::String("firmware unknown");
        report("amplifier", model + "  " + mode + "  " + firmware + "  update available: " + available,
               fields);
    };
    for (const auto* device : devices)
    {
        if (!device->isGenericBootLoader() && device->appProductId != 0 &&
            isUsbDevicePresent(device->appProductId) && !listed.contains(device->appProductId))
        {
            listed.add(device->appProductId);
            const bool known = identified && connected.appProductId == device->appProductId;
            const auto& record = known ? connected : *device;
            const auto version = known ? session.deviceCom.midiInterface.firmwareVersion.load() : 0;
            const auto* image = findFirmware(session.deviceCom.getFirmwareCatalogue(), record.firmwareKey);
            const juce::String available = version == 0 || image == nullptr
                                               ? "unknown"
                                               : (image->versionNumber != version ? "yes" : "no");
            line(record.displayName, "application", version, available);
        }
        if (device->bootProductId != 0 && isUsbDevicePresent(device->bootProductId) &&
            !listed.contains(-device->bootProductId))
        {
            listed.add(-device->bootProductId);
            if (device->isGenericBootLoader())
                line(device->displayName, "generic boot loader", 0, "yes");
            else
                line(device->displayName, "update", 0,
                     session.deviceCom.hasFirmware(device->firmwareKey) ? "yes" : "no");
        }
    }
    if (count == 0)
        finish(BenchExit::noAmplifier, "No amplifier is connected.");
    else
        exit = BenchExit::confirmed;
}

juce::String BenchSession::modelForGenericLoader(juce::String& problem) const
{
    const auto& devices = session.deviceCom.midiInterface.knownDevices;
    const auto loaderId = session.deviceCom.midiInterface.bootProductId.load();
    juce::StringArray takes;
    for (const auto* device : devices)
        if (!device->isGenericBootLoader() && device->genericBootProductId == loaderId &&
            session.deviceCom.hasFirmware(device->firmwareKey))
            takes.addIfNotAlreadyThere(device->displayName);

    const auto* model = findModel(devices, options.model);
    if (options.model.isEmpty())
        problem = "A generic boot loader is connected: name the model with --model (one of " +
                  takes.joinIntoString(", ") + ").";
    else if (model == nullptr || !takes.contains(model->displayName))
        problem = "This boot loader cannot take \"" + options.model + "\"; it takes " +
                  takes.joinIntoString(", ") + ".";
    else
        return model->displayName;
    return {};
}

bool BenchSession::isRunGoing() const
{
    return session.deviceCom.getRunOutcome() == RunOutcome::running;
}

void BenchSession::updateOffered()
{
    offerStanding = true;
}

void BenchSession::modelChoiceAsked()
{
    if (exit || options.command != BenchOptions::Command::update)
        return;
    juce::String problem;
    const auto model = modelForGenericLoader(problem);
    if (model.isEmpty())
        finish(BenchExit::badArguments, problem);
    else
        session.chooseModel(model);
}

void BenchSession::repairWithheld(const juce::String& why)
{
    if (options.command == BenchOptions::Command::update && !runSeen)
        finish(BenchExit::refused, why + " Run again with --repair to erase and re-program it.");
}

void BenchSession::erased(const juce::String& found)
{
    if (exit)
        return;
    erasedAtMs = elapsedMs();
    report("erased", found + " Erased; re-programming it.");
}

void BenchSession::versionReported(const juce::String& portName, juce::int32 version)
{
    if (exit || options.command != BenchOptions::Command::update || runSeen)
        return;
    claimSeen = false; // what was claimed has been given back
    report("waiting", portName + uiTexts::appModeFound + juce::String(version) +
                          ": nothing to do; waiting for an amplifier in update mode.");
}

void BenchSession::runStarted(const juce::String& model)
{
    if (exit)
        return;
    runSeen = true;
    runStartMs = elapsedMs();
    lastPercent = -1;
    modelName = model;
    report("started", "Updating " + model + ". Do not unplug or turn off the amplifier.");
}

void BenchSession::runEnded(RunOutcome outcome, bool repair)
{
    if (exit)
        return;
    if (outcome == RunOutcome::brokenOff)
    {
        finish(BenchExit::brokenOff, juce::String(uiTexts::brokenOffBar) + "\n" + helpTexts::recoveryText);
    }
    else if (outcome == RunOutcome::refused)
    {
        // A repair that was refused is tried again by the session; an update on offer is not.
        if (repair)
            runSeen = false;
        else
            finish(BenchExit::refused, uiTexts::notSentStatus);
    }
    else if (outcome == RunOutcome::finished && !delivered)
    {
        delivered = true;
        deliveredAtMs = elapsedMs();
        report("delivered",
               "Image delivered; waiting for the " + modelName + " to come back with its firmware.");
    }
}

void BenchSession::tickUpdate()
{
    if (!runSeen)
    {
        // Update is pressed after the step that offered it, never within it.
        if (std::exchange(offerStanding, false) && !pressed)
        {
            pressed = true;
            claimSeen = false;
            session.pressUpdate();
            return;
        }
        if (erasedAtMs >= 0)
        {
            // Erased for a repair: the amplifier has no firmware until the repair runs.
            if (elapsedMs() - erasedAtMs > confirmTimeoutMs)
                finish(BenchExit::brokenOff,
                       "The erased amplifier did not come back for its repair.\n" + helpTexts::recoveryText);
            return;
        }
        if (elapsedMs() >= options.waitSeconds * 1000 && claimSeen)
            finish(BenchExit::claimedElsewhere, juce::String(uiTexts::claimedElsewhere) +
                                                    " Nothing was sent to it within " +
                                                    juce::String(options.waitSeconds) + " s.");
        else if (elapsedMs() >= options.waitSeconds * 1000)
            finish(BenchExit::noAmplifier,
                   "No amplifier in update mode within " + juce::String(options.waitSeconds) + " s.");
        return;
    }

    if (!delivered)
    {
        reportProgress();
        return;
    }
    if (judgement)
    {
        const auto runs = modelName + " runs firmware " + juce::String(judgement->version);
        if (judgement->confirmed)
            finish(BenchExit::confirmed, runs + ": update confirmed.");
        else if (!session.deviceCom.isAcceptedFirmwareVersion(judgement->version))
            finish(BenchExit::notConfirmed, runs + ", which it must not keep: update not confirmed.");
        else
            finish(BenchExit::notConfirmed,
                   runs + ", not the model and version just sent: update not confirmed.");
        return;
    }
    if (elapsedMs() - deliveredAtMs > confirmTimeoutMs)
        finish(BenchExit::notConfirmed, "The amplifier did not come back in application mode within " +
                                            juce::String(confirmTimeoutMs / 1000) + " s.");
}

void BenchSession::reportProgress()
{
    const auto progress = std::clamp(static_cast<double>(session.deviceCom.getProgress()), 0.0, 1.0);
    const int percent = juce::roundToInt(progress * 100.0);
    if (percent == lastPercent)
        return;
    const bool plainLineDue =
        percent / plainProgressStep != lastPercent / plainProgressStep || lastPercent < 0;
    lastPercent = percent;
    const int secondsLeft =
        progress < leastProgressForEstimate
            ? -1
            : juce::roundToInt((elapsedMs() - runStartMs) * (1.0 - progress) / progress / 1000.0);
    const auto text = modelName + ": " + juce::String(percent) + "%" +
                      (secondsLeft >= 0 ? " (" + describeTimeLeft(secondsLeft) + ")" : juce::String());
    if (options.json)
    {
        auto fields = juce::DynamicObject::Ptr(new juce::DynamicObject());
        fields->setProperty("percent", percent);
        fields->setProperty("secondsLeft", secondsLeft >= 0 ? juce::var(secondsLeft) : juce::var());
        report("progress", text, fields);
    }
    else if (terminal)
    {
        out << "\r" << text << "   " << std::flush;
        progressLineOpen = true;
    }
    else if (plainLineDue)
    {
        report("progress", text);
    }
}

void BenchSession::interrupt()
{
    if (exit)
        return;
    const bool atRisk = isRunGoing() || session.isQuitUnsafe();
    if (!atRisk)
    {
        finish(BenchExit::interrupted, runSeen ? "Stopped." : "Stopped; nothing was sent.");
        return;
    }
    if (elapsedMs() - lastInterruptMs <= interruptWindowMs)
    {
        if (isRunGoing())
            session.deviceCom.stopUpdate(); // ends as broken off once the message under way is out
        else
            finish(BenchExit::brokenOff,
                   juce::String(uiTexts::brokenOffBar) + "\n" + helpTexts::recoveryText);
        return;
    }
    lastInterruptMs = elapsedMs();
    endProgressLine();
    err << "Stopping now leaves the amplifier without working firmware. Press Ctrl-C again within "
        << interruptWindowMs / 1000 << " s to stop anyway.\n"
        << std::flush;
}
