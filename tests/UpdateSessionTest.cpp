#include "engine/HelpTexts.h"
#include "engine/UiTexts.h"
#include "support/LinkHelpers.h"
#include "support/ProgramClock.h"
#include "support/SmallImages.h"

using Mode = VirtualAmplifier::Mode;

namespace
{
/** A front end with no window: records what the session tells it. */
struct Owner : UpdateSession::Listener
{
    void logLine(const juce::String& line) override { lines.add(line); }
    void announce(const juce::String& text) override { said.add(text); }
    void updateOffered() override { ++offers; }
    void modelChoiceAsked() override { ++modelQuestions; }
    void updateJudged(bool confirmed, juce::int32) override { judgements.push_back(confirmed); }

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
    std::vector<bool> judgements;
};

struct Rig
{
    Rig() { session.addListener(&owner); }
    ~Rig() { session.removeListener(&owner); }

    void step()
    {
        clock.step(session.deviceCom.midiInterface, midi, [this] { session.step(); });
    }
    template <typename Predicate> bool runUntil(Predicate done)
    {
        return ProgramClock::runUntil([this] { step(); }, done, 300000);
    }

    VirtualMidiSystem midi;
    CountingSleepInhibitor sleep;
    UpdateSession session{DeviceComSeams{.ports = &midi,
                                         .enumerateUsb = midi.usbEnumerator(),
                                         .fillCatalogue = smallImageCatalogue(3),
                                         .holdOffSleep = sleep.inhibitor()}};
    Owner owner;
    ProgramClock clock;
};
} // namespace

TEST(UpdateSession, RunsEachRoadWithoutAWindowAndSaysWhatToShow)
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
        auto& c = rig.session;
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

TEST(UpdateSession, RepairsOnlyTheErasedAmplifierWhereItIsPluggedIn)
{
    Rig rig;
    VirtualAmplifier lx40(rig.midi, "LX40", Mode::application, 99);
    auto& c = rig.session;
    ASSERT_TRUE(rig.runUntil([&] { return c.getState() == UpdaterState::ErasedForRepair; }));
    ASSERT_TRUE(lx40.wasFirmwareErased());
    EXPECT_TRUE(c.holdsClaim()) << "an erased amplifier is claimed until its repair has ended";

    // The erased LX40 takes its time to come back; meanwhile another amplifier's broken boot shows up as a
    // generic loader at another port.
    lx40.unplug();
    VirtualAmplifier other(rig.midi, "LC20", Mode::genericBoot, 0);
    const auto until = rig.clock.now + 10000;
    ASSERT_TRUE(rig.runUntil([&] { return rig.clock.now >= until; }));
    EXPECT_EQ(c.getState(), UpdaterState::ErasedForRepair);
    EXPECT_TRUE(other.getReceived().empty()) << "another amplifier's loader receives nothing";

    lx40.plugIn();
    ASSERT_TRUE(rig.runUntil([&] { return c.getView().statusText == uiTexts::allFine; }))
        << rig.owner.states().joinIntoString(" / ");
    EXPECT_EQ(lx40.getCompletedImages(), 1);
    EXPECT_EQ(lx40.getFirmwareVersion(), 131);
    EXPECT_TRUE(other.getReceived().empty());
    EXPECT_FALSE(c.holdsClaim());
}

TEST(UpdateSession, OnlyTheImagesModelAndVersionAtItsPlaceConfirmAnUpdate)
{
    struct Case
    {
        const char* name;
        juce::int32 versionAfterUpdate; // 0: the image's own
        const char* replacement;        // another amplifier plugged in at the same port instead; null: none
        bool confirmed;
    };
    const Case cases[] = {
        {"the image's own version", 0, nullptr, true},
        {"another version the catalogue carries", 2282, nullptr, false},
        {"another amplifier at the same port", 0, "LX60", false},
    };
    for (const auto& test : cases)
    {
        SCOPED_TRACE(test.name);
        Rig rig;
        auto& c = rig.session;
        auto& owner = rig.owner;
        auto runUntil = [&](auto done) { return rig.runUntil(done); };

        auto amp = std::make_unique<VirtualAmplifier>(rig.midi, "LX40", Mode::boot, 0);
        const auto place = rig.midi.getPlace(*amp);
        if (test.versionAfterUpdate != 0)
            amp->setVersionAfterUpdate(test.versionAfterUpdate);
        if (test.replacement != nullptr)
            amp->setRestartDelay(std::chrono::hours(1));
        ASSERT_TRUE(
            runUntil([&] { return c.getState() == UpdaterState::Idle && c.getView().updateEnabled; }));
        c.pressUpdate();
        ASSERT_TRUE(runUntil([&] { return amp->getCompletedImages() == 1; }));

        std::unique_ptr<VirtualAmplifier> replacement;
        if (test.replacement != nullptr)
        {
            amp.reset();
            replacement =
                std::make_unique<VirtualAmplifier>(rig.midi, test.replacement, Mode::application, 131);
            replacement->unplug();
            rig.midi.setPlace(*replacement, place);
            replacement->plugIn();
        }
        ASSERT_TRUE(runUntil([&] { return !owner.judgements.empty() && c.isSteady(); }))
            << owner.states().joinIntoString(" / ");
        EXPECT_EQ(owner.judgements, std::vector<bool>{test.confirmed});
        EXPECT_EQ(c.getView().statusText, test.confirmed ? uiTexts::allFine : uiTexts::notConfirmedStatus);
        EXPECT_FALSE(c.holdsClaim());
    }
}

TEST(UpdateSession, AnErasedAmplifierThatDoesNotComeBackWhereItWasIsNotRepairedElsewhere)
{
    Rig rig;
    auto lx40 = std::make_unique<VirtualAmplifier>(rig.midi, "LX40", Mode::application, 99);
    auto& c = rig.session;
    ASSERT_TRUE(rig.runUntil([&] { return c.getState() == UpdaterState::ErasedForRepair; }));
    // Its cable moves to another port: there it shows up as a generic loader like any other amplifier's.
    lx40.reset();
    VirtualAmplifier elsewhere(rig.midi, "LX40", Mode::genericBoot, 0);
    ASSERT_TRUE(rig.runUntil([&] { return rig.owner.modelQuestions > 0; })) << "the user chooses the model";
    EXPECT_GE(rig.clock.now, UpdateSession::erasedReturnWaitMs);
    EXPECT_EQ(c.getState(), UpdaterState::BootGeneric);
    EXPECT_FALSE(c.holdsClaim());
    EXPECT_TRUE(c.isQuitUnsafe()) << "an erased amplifier is still without firmware";
    EXPECT_TRUE(elsewhere.getReceived().empty()) << "nothing is sent without the user's choice";
}
