#include "app/LogFile.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
/** Points the user's home, where the log file lies, at a fresh folder for one test. */
class TemporaryHome
{
public:
    TemporaryHome() : previous(std::getenv("HOME") != nullptr ? std::getenv("HOME") : "")
    {
        folder.createDirectory();
        ::setenv("HOME", folder.getFullPathName().toRawUTF8(), 1);
    }
    ~TemporaryHome()
    {
        ::setenv("HOME", previous.toRawUTF8(), 1);
        folder.deleteRecursively();
    }
    juce::File logFile() const { return folder.getChildFile(".config/LCLX_Software_Updater.txt"); }

private:
    juce::String previous;
    juce::File folder = juce::File::createTempFile("home");
};
} // namespace

TEST(LogFile, StartsWithTheBannerInTheUsersConfigurationFolder)
{
    TemporaryHome home;
    {
        const auto logger = createLogFile();
        ASSERT_NE(logger, nullptr);
        EXPECT_EQ(logger->getLogFile(), home.logFile());
        logger->logMessage("State: Unknown State\t\t 9:05:07");
    }
    const auto lines = juce::StringArray::fromLines(home.logFile().loadFileAsString());
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], juce::String::repeatedString("*", 58));
    EXPECT_EQ(lines[2], "LC LX Software Updater");
    EXPECT_TRUE(lines[3].startsWith("Log started: "));
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "State: Unknown State\t\t 9:05:07");

    // A second start appends its banner; a small file is kept whole.
    createLogFile().reset();
    const auto text = home.logFile().loadFileAsString();
    EXPECT_TRUE(text.contains("9:05:07"));
    EXPECT_NE(text.indexOf("LC LX Software Updater"), text.lastIndexOf("LC LX Software Updater"))
        << "expected two banners";
}

TEST(LogFile, TrimsAFileOverTheLimitKeepingItsNewestContent)
{
    TemporaryHome home;
    home.logFile().getParentDirectory().createDirectory();
    juce::MemoryOutputStream old;
    for (int i = 0; i < 20000; ++i)
        old << "old line " << juce::String(i).paddedLeft('0', 5) << "\r\n"; // 20000 lines of 16 bytes
    ASSERT_TRUE(home.logFile().replaceWithText(old.toString()));
    ASSERT_GT(home.logFile().getSize(), 131072);

    createLogFile().reset();

    const auto text = home.logFile().loadFileAsString();
    EXPECT_FALSE(text.contains("old line 00000"));
    EXPECT_TRUE(text.contains("old line 19999"));
    EXPECT_TRUE(text.contains("LC LX Software Updater"));
    // The kept part is at most the limit; the banner comes after it.
    const auto banner = text.indexOf("\r\n****");
    EXPECT_LE(banner, 131072);
    EXPECT_GT(banner, 131072 - 100);
}
