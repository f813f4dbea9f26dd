#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <thread>

// The real application in a real X server (run under xvfb-run): its window, its first view and its quitting.

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

    std::optional<WindowGeometry> window;
    for (int i = 0; i < 100 && !window; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        window = findWindow("LC/LX Software Updater 3");
    }
    ASSERT_TRUE(window) << "no window titled \"LC/LX Software Updater 3\"";
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // a few ticks of the state machine

    // The 600 x 400 content lies under the title bar, inside a one-pixel frame.
    const auto& b = window->bounds;
    ASSERT_EQ(b.getWidth(), 602);
    const auto content = juce::Rectangle<int>(b.getX() + 1, b.getBottom() - 401, 600, 400);

    const auto shot = juce::File::getCurrentWorkingDirectory().getChildFile("app_window_initial.png");
    shell("import -window root " + shot.getFullPathName().quoted());
    const auto image = juce::ImageFileFormat::loadFrom(shot).getClippedImage(content);
    ASSERT_TRUE(image.isValid());

    const juce::Colour background(0xFFF5F5F5), barBackground(0xFFCCCCCC);
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

    // The close button at the right end of the title bar quits without a question.
    const auto closeX = afterDrag->bounds.getRight() - 18, closeY = afterDrag->bounds.getY() + 13;
    shell("xdotool mousemove " + juce::String(closeX) + " " + juce::String(closeY) + " click 1");
    EXPECT_TRUE(app.waitForProcessToFinish(5000)) << "still running after the close button";
    EXPECT_EQ(app.getExitCode(), 0u);

    const auto log = home.getChildFile(".config/LCLX_Software_Updater.txt").loadFileAsString();
    EXPECT_TRUE(log.contains("LC LX Software Updater\r\nLog started: ")) << log;
    EXPECT_TRUE(log.contains("State: Unknown State\t\t ")) << log;
    home.deleteRecursively();
}
