#include "support/LinkHelpers.h"
#include "support/ProgramClock.h"
#include "support/SmallImages.h"
#include "ui/HelpTexts.h"
#include "ui/UiTexts.h"

using Mode = VirtualAmplifier::Mode;

namespace
{
/** The controller's owner with no window: records what it is told. */
struct Owner : UpdateController::Listener
{
    void logLine(const juce::String& line) override { lines.add(line); }
    void announce(const juce::String& text) override { said.add(text); }
    void updateOffered() override { ++offers; }
    void modelChoiceAsked() override { ++modelQuestions; }

    /** The states the log named, in order, without their padding. */
    juce::StringArray states() const
    {
        juce::StringArray names;
        for (const auto& line : lines)
            if (line.startsWith(uiTexts::stateLog))
                names.add(line.fromFirstOccurrenceOf(uiTexts::stateLog, false, false)
                              .upToFirstOccurrenceOf(uiTexts::logSeparator, false, false)
                              .trimEnd());
        return names;
    }

    juce::StringArray lines, said;
    int offers = 0, modelQuestions = 0;
};

struct Rig
{
    void step()
    {
        clock.step(
            deviceCom.midiInterface, midi, [this] { return controller.tick(); },
            [this] { controller.markSteady(); });
    }
    template <typename Predicate> bool runUntil(Predicate done)
    {
        return ProgramClock::runUntil([this] { step(); }, done, 300000);
    }

    VirtualMidiSystem midi;
    CountingSleepInhibitor sleep;
    DeviceCom deviceCom{DeviceComSeams{.ports = &midi,
                                       .enumerateUsb = midi.usbEnumerator(),
                                       .fillCatalogue = smallImageCatalogue(3),
                                       .holdOffSleep = sleep.inhibitor()}};
    Owner owner;
    UpdateController controller{deviceCom, owner};
    ProgramClock clock;
};
} // namespace

TEST(UpdateController, RunsEachRoadWithoutAWindowAndSaysWhatToShow)
{
    struct Road
    {
        const char* name;
        const char* key;
        Mode mode;
        juce::int32 version;
        const char* model; // chosen for a generic boot loader
        std::size_t unplugAfter;
        juce::StringArray states;
        juce::String status;
    };
    const Road roads[] = {
        {"model boot",
         "LX40",
         Mode::boot,
         0,
         "",
         0,
         {"Boot Valid", "Idle State", "Updating...", "Updated!", "App / Amp"},
         uiTexts::allFine},
        {"generic boot",
         "LC20-D_MKII",
         Mode::genericBoot,
         0,
         "LC20-D MKII",
         0,
         {"Boot Generic", "Idle State", "Updating...", "Updated!", "App / Amp"},
         uiTexts::allFine},
        {"bad firmware",
         "LX20",
         Mode::application,
         1000,
         "",
         0,
         {"App / Amp", "Bad Boot Det.", "Erased 4 Rpr.", "Updating...", "Updated!", "App / Amp"},
         uiTexts::allFine},
        {"cable pulled",
         "LX40",
         Mode::boot,
         0,
         "",
         2,
         {"Boot Valid", "Idle State", "Updating...", "??????????"},
         helpTexts::recoveryText}};
    for (const auto& road : roads)
    {
        SCOPED_TRACE(road.name);
        Rig rig;
        VirtualAmplifier amp(rig.midi, road.key, road.mode, road.version);
        if (road.unplugAfter > 0)
            amp.unplugAfter(road.unplugAfter);
        auto& c = rig.controller;
        const auto& view = c.getView();
        ASSERT_TRUE(rig.runUntil(
            [&]
            {
                if (c.getState() == UpdaterState::BootGeneric && view.selectorVisible)
                    c.chooseModel(road.model);
                if (c.getState() == UpdaterState::Idle && view.updateVisible && view.updateEnabled)
                {
                    EXPECT_EQ(view.updateCaption, uiTexts::updateCaption);
                    c.pressUpdate();
                    EXPECT_EQ(c.getState(), UpdaterState::Updating);
                    EXPECT_TRUE(view.barShowsPercentage);
                    EXPECT_TRUE(c.isQuitUnsafe());
                }
                // The worker of a broken-off run ends after the message under way.
                return rig.owner.states().size() > road.states.size() && c.isSteady() &&
                       view.statusText == road.status && !c.isQuitUnsafe();
            }))
            << rig.owner.states().joinIntoString(" / ") << " | " << view.statusText;
        EXPECT_EQ(rig.owner.states().joinIntoString(" / "),
                  "Unknown State / " + road.states.joinIntoString(" / "));
        EXPECT_FALSE(view.barShowsPercentage);
        EXPECT_EQ(amp.getCompletedImages(), road.unplugAfter == 0 ? 1 : 0);
        EXPECT_EQ(rig.owner.modelQuestions, road.mode == Mode::genericBoot ? 1 : 0);
        if (road.unplugAfter == 0)
        {
            EXPECT_EQ(view.barText,
                      amp.getPortName() + uiTexts::appModeFound + juce::String(amp.getFirmwareVersion()));
            EXPECT_EQ(rig.owner.said.strings.getLast(), view.barText + "\n" + uiTexts::allFine);
        }
        else
        {
            EXPECT_EQ(view.barText, uiTexts::brokenOffBar);
        }
    }
}
