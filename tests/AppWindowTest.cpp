#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <thread>

// The real application in a real X server (the tests' shared one, or xvfb-run): its window, its first view
// and its quitting.

namespace
{
juce::String shell(const juce::String& command)
{
    juce::ChildProcess process;
    if (!process.start(juce::StringArray{"sh", "-c", command}))
        return {};
    return process.readAllProcessOutput().trim();
}

struct WindowGeometry
{
    juce::String id;
    juce::Rectangle<int> bounds;
};

std::optional<WindowGeometry> findWindow(const juce::String& title)
{
    for (const auto& line : juce::StringArray::fromLines(shell("xwininfo -root -tree")))
    {
        if (!line.contains("\"" + title + "\""))
            continue;
        const auto id = line.trim().upToFirstOccurrenceOf(" ", false, false);
        const auto info = shell("xwininfo -id " + id);
        auto value = [&info](const juce::String& key)
        { return info.fromFirstOccurrenceOf(key, false, false).trim().getIntValue(); };
        return WindowGeometry{id,
                              {value("Absolute upper-left X:"), value("Absolute upper-left Y:"),
                               value("Width:"), value("Height:")}};
    }
    return std::nullopt;
}

/** The share of pixels in an area close to a colour, and whether any is dark like text. */
struct AreaLook
{
    float share = 0;
    bool hasDark = false;
};

AreaLook look(const juce::Image& image, juce::Rectangle<int> area, juce::Colour colour)
{
    int close = 0, dark = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto p = image.getPixelAt(x, y);
            close += std::abs(p.getRed() - colour.getRed()) + std::abs(p.getGreen() - colour.getGreen()) +
                                 std::abs(p.getBlue() - colour.getBlue()) <
                             12
                         ? 1
                         : 0;
            dark += p.getBrightness() < 0.4f ? 1 : 0;
        }
    return {static_cast<float>(close) / static_cast<float>(area.getWidth() * area.getHeight()), dark > 0};
}

juce::Image screenArea(juce::Rectangle<int> area)
{
    const auto shot = juce::File::createTempFile(".png");
    shell("import -window root " + shot.getFullPathName().quoted());
    auto image = juce::ImageFileFormat::loadFrom(shot).getClippedImage(area);
    shot.deleteFile();
    return image.createCopy();
}

/** Waits, with a generous deadline for a busy machine, until `done` holds; false if it never does. */
template <typename Predicate> bool waitUntil(Predicate done, int ms = 30000)
{
    for (int t = 0; t < ms && !done(); t += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done();
}

bool samePixels(const juce::Image& a, const juce::Image& b)
{
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt(x, y) != b.getPixelAt(x, y))
                return false;
    return true;
}

/** Waits, with a generous deadline, for a window of that title. */
std::optional<WindowGeometry> waitForWindow(const juce::String& title)
{
    std::optional<WindowGeometry> window;
    waitUntil([&] { return (window = findWindow(title)).has_value(); });
    return window;
}

void clickAt(int x, int y)
{
    shell("xdotool mousemove " + juce::String(x) + " " + juce::String(y) + " click 1");
}

void clickCloseButton(const WindowGeometry& w)
{
    clickAt(w.bounds.getRight() - 18, w.bounds.getY() + 13);
}

/** A program the test started, stopped when the test ends however it ends: the display is shared. */
struct Started
{
    juce::ChildProcess process;
    ~Started()
    {
        if (process.isRunning())
            process.kill();
    }
};
} // namespace

TEST(ApplicationWindow, ShowsItsFirstViewAndQuitsFromTheCloseButton)
{
    ASSERT_TRUE(juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isNotEmpty())
        << "run under xvfb-run";
    const auto home = juce::File::createTempFile("home");
    home.createDirectory();

    juce::ChildProcess app;
    ASSERT_TRUE(
        app.start(juce::StringArray{"env", "HOME=" + home.getFullPathName(), UPDATER_APP, "--ignored"}));

    const auto window = waitForWindow("LC/LX Software Updater 3");
    ASSERT_TRUE(window) << "no window titled \"LC/LX Software Updater 3\"";

    // The 600 x 400 content lies under the title bar, inside a one-pixel frame.
    const auto& b = window->bounds;
    ASSERT_EQ(b.getWidth(), 602);
    const auto content = juce::Rectangle<int>(b.getX() + 1, b.getBottom() - 401, 600, 400);

    // Once the window has painted its first view: the bar's text on the bar's background.
    const juce::Colour background(0xFFF5F5F5), barBackground(0xFFCCCCCC);
    const auto shot = juce::File::getCurrentWorkingDirectory().getChildFile("app_window_initial.png");
    juce::Image image;
    waitUntil(
        [&]
        {
            shell("import -window root " + shot.getFullPathName().quoted());
            image = juce::ImageFileFormat::loadFrom(shot).getClippedImage(content);
            return image.isValid() && look(image, {20, 316, 480, 24}, barBackground).hasDark;
        });
    ASSERT_TRUE(image.isValid());

    EXPECT_GT(look(image, {0, 0, 600, 16}, background).share, 0.98f) << "the background fills the top margin";
    const auto status = look(image, {20, 20, 560, 276}, background);
    EXPECT_TRUE(status.hasDark) << "the instructions";
    EXPECT_GT(status.share, 0.6f);
    const auto bar = look(image, {20, 316, 480, 24}, barBackground);
    EXPECT_GT(bar.share, 0.5f) << "the progress bar";
    EXPECT_TRUE(bar.hasDark) << "\"Searching for amplifier...\"";
    EXPECT_GT(look(image, {500, 316, 80, 24}, background).share, 0.98f) << "the Update button is hidden";
    for (const auto area : {juce::Rectangle<int>(440, 360, 60, 20), juce::Rectangle<int>(520, 360, 60, 20)})
    {
        const auto pageButton = look(image, area.reduced(3), background);
        EXPECT_LT(pageButton.share, 0.5f) << "a page button's face";
        EXPECT_TRUE(pageButton.hasDark) << "its caption";
    }
    EXPECT_TRUE(look(image, {20, 360, 148, 20}, background).hasDark) << "the logo";
    EXPECT_GT(look(image, {170, 355, 180, 30}, background).share, 0.98f) << "nothing beside the logo";

    // Not resizable: dragging the bottom-right corner leaves the size alone.
    shell("xdotool mousemove " + juce::String(b.getRight() - 2) + " " + juce::String(b.getBottom() - 2) +
          " mousedown 1 mousemove " + juce::String(b.getRight() + 80) + " " +
          juce::String(b.getBottom() + 80) + " mouseup 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto afterDrag = findWindow("LC/LX Software Updater 3");
    ASSERT_TRUE(afterDrag);
    EXPECT_EQ(afterDrag->bounds.getWidth(), b.getWidth());
    EXPECT_EQ(afterDrag->bounds.getHeight(), b.getHeight());

    // The first state line comes with the update session's first step, which a busy machine may hold back.
    const auto logFile = home.getChildFile(".config/LCLX_Software_Updater.txt");
    const auto logDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!logFile.loadFileAsString().contains("State: Unknown State\t\t ") &&
           std::chrono::steady_clock::now() < logDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // The close button at the right end of the title bar quits without a question.
    const auto closeX = afterDrag->bounds.getRight() - 18, closeY = afterDrag->bounds.getY() + 13;
    shell("xdotool mousemove " + juce::String(closeX) + " " + juce::String(closeY) + " click 1");
    EXPECT_TRUE(app.waitForProcessToFinish(30000)) << "still running after the close button";
    EXPECT_EQ(app.getExitCode(), 0u);

    const auto log = logFile.loadFileAsString();
    EXPECT_TRUE(log.contains("LC LX Software Updater\r\nLog started: ")) << log;
    EXPECT_TRUE(log.contains("State: Unknown State\t\t ")) << log;
    home.deleteRecursively();
}

TEST(ApplicationWindow, ClosingDuringAnUpdateAsksAndTheWindowGoesOnUntilTheUserConfirms)
{
    juce::ChildProcess app;
    ASSERT_TRUE(app.start(juce::StringArray{UPDATER_VIRTUAL_APP, "LX40", "boot"}));
    const auto window = waitForWindow("LC/LX Software Updater 3");
    ASSERT_TRUE(window);
    const auto content =
        juce::Rectangle<int>(window->bounds.getX() + 1, window->bounds.getBottom() - 401, 600, 400);
    // Found and steady: the Update button is offered, with its caption, where the window's background was
    // (once the window has painted at all).
    const juce::Rectangle<int> updateButton(content.getX() + 503, content.getY() + 319, 74, 18);
    const juce::Colour background(0xFFF5F5F5);
    ASSERT_TRUE(waitUntil(
        [&] {
            return look(screenArea(content), {0, 0, 600, 16}, background).share > 0.98f;
        }))
        << "the window never painted";
    auto buttonShown = [&]
    {
        const auto seen = look(screenArea(updateButton), {0, 0, 74, 18}, background);
        return seen.share < 0.5f && seen.hasDark;
    };
    ASSERT_TRUE(waitUntil(buttonShown)) << "the Update button was never offered";
    const auto offered = screenArea(updateButton);
    clickAt(content.getX() + 540, content.getY() + 328);
    // Once the update runs, the button reads "Updating" and is disabled.
    ASSERT_TRUE(waitUntil([&] { return !samePixels(offered, screenArea(updateButton)); }))
        << "the update never started";
    const auto bar = content.getX() + 20, barTop = content.getY() + 316;
    clickCloseButton(*window);
    const auto question = waitForWindow("An update is in progress");
    ASSERT_TRUE(question) << "no question before closing during an update";
    const auto before = screenArea({bar, barTop, 480, 24});
    EXPECT_TRUE(waitUntil(
        [&] {
            return !samePixels(before, screenArea({bar, barTop, 480, 24}));
        }))
        << "the progress bar goes on moving while the question is open";
    EXPECT_TRUE(app.isRunning());

    shell("xdotool key Return"); // the default: keep updating
    EXPECT_TRUE(waitUntil([] { return !findWindow("An update is in progress"); }))
        << "Return keeps updating and puts the question away";
    EXPECT_TRUE(app.isRunning());

    clickCloseButton(*window);
    const auto again = waitForWindow("An update is in progress");
    ASSERT_TRUE(again);
    const auto shot = juce::File::getCurrentWorkingDirectory().getChildFile("app_window_quit_question.png");
    shell("import -window root " + shot.getFullPathName().quoted());
    // "Close anyway" is the right-hand one of the two buttons centred at the question's foot.
    clickAt(again->bounds.getCentreX() + 60, again->bounds.getBottom() - 26);
    const auto t0 = juce::Time::getMillisecondCounter();
    EXPECT_TRUE(app.waitForProcessToFinish(30000)) << "still running after \"Close anyway\"";
    // It stops after the message under way, not after the image: far sooner than this, even on a busy
    // machine.
    EXPECT_LT(juce::Time::getMillisecondCounter() - t0, 10000u) << "the program ends at once";
    EXPECT_EQ(app.getExitCode(), 0u);
    if (app.isRunning())
        app.kill();
}

// Coming to the front is a window manager's business: this test runs one on the shared display for its
// own length.
TEST(ApplicationWindowManaged, ASecondStartBringsTheFirstWindowForwardAndEnds)
{
    Started manager;
    ASSERT_TRUE(manager.process.start(juce::StringArray{"openbox", "--replace"}));
    ASSERT_TRUE(waitUntil(
        []
        {
            const auto check =
                shell("xprop -root _NET_SUPPORTING_WM_CHECK").fromLastOccurrenceOf(" ", false, false);
            return check.startsWith("0x") &&
                   shell("xprop -id " + check + " _NET_WM_NAME").contains("Openbox");
        }))
        << "the window manager did not start";

    const auto home = juce::File::createTempFile("home");
    home.createDirectory();
    const auto env = "HOME=" + home.getFullPathName();
    Started first, cover;
    juce::ChildProcess second;
    ASSERT_TRUE(first.process.start(juce::StringArray{"env", env, UPDATER_APP}));
    ASSERT_TRUE(waitForWindow("LC/LX Software Updater 3"));
    const auto active = [] { return shell("xdotool getactivewindow getwindowname"); };

    ASSERT_TRUE(cover.process.start(
        juce::StringArray{"xmessage", "-title", "cover", "-geometry", "900x700+0+0", "cover"}));
    ASSERT_TRUE(waitUntil([&] { return active() == "cover"; }));

    // Started from another folder, as from a shortcut rather than a download folder: still the same user's.
    ASSERT_TRUE(
        second.start(juce::StringArray{"sh", "-c", "cd / && exec env \"$0\" \"$1\"", env, UPDATER_APP}));
    EXPECT_TRUE(second.waitForProcessToFinish(30000)) << "the second start did not end";
    EXPECT_EQ(second.getExitCode(), 0u);
    EXPECT_TRUE(waitUntil([&] { return active() == "LC/LX Software Updater 3"; }))
        << "the first window came to the front";
    EXPECT_TRUE(first.process.isRunning());
    EXPECT_EQ(juce::StringArray::fromLines(shell("xdotool search --name 'LC/LX Software Updater 3'")).size(),
              1)
        << "one window";

    home.deleteRecursively();
}
