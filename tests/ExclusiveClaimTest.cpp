#include "device/ExclusiveClaim.h"

#include <gtest/gtest.h>

#if !JUCE_WINDOWS
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

TEST(ExclusiveClaim, IsHeldByOneAtATimeAndFreedWhenItsHolderEndsHoweverItEnds)
{
    const auto place = "claim test " + juce::Uuid().toString();
    {
        auto held = amplifierClaim::take(place);
        ASSERT_NE(held, nullptr);
        EXPECT_TRUE(amplifierClaim::isHeld(place));
        EXPECT_EQ(amplifierClaim::take(place), nullptr) << "a second holder, even in the same process";
        EXPECT_FALSE(amplifierClaim::isHeld(place + " other")) << "another place is another claim";
    }
    EXPECT_FALSE(amplifierClaim::isHeld(place));
    EXPECT_NE(amplifierClaim::take(place), nullptr) << "a claim given back can be taken again";

#if !JUCE_WINDOWS
    // A holder killed outright leaves nothing behind.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        auto claim = amplifierClaim::take(place);
        const char taken = claim != nullptr ? 'y' : 'n';
        [[maybe_unused]] const auto written = write(ready[1], &taken, 1);
        for (;;)
            pause();
    }
    char taken = 0;
    ASSERT_EQ(read(ready[0], &taken, 1), 1);
    EXPECT_EQ(taken, 'y');
    EXPECT_TRUE(amplifierClaim::isHeld(place));
    EXPECT_EQ(amplifierClaim::take(place), nullptr);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_FALSE(amplifierClaim::isHeld(place)) << "free the moment its holder is gone";
    EXPECT_NE(amplifierClaim::take(place), nullptr);
#endif
}
