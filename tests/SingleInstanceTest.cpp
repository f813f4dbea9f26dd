#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace juce
{
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
/** Handles posted messages until `done` holds or half a minute has passed. */
template <typename Predicate> bool dispatchUntil(Predicate done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

/** A caller of our own making: says `bytes` on the socket, then waits (for at most half a minute) until the
    first instance has closed its end, by when it has judged what was said. */
void say(const juce::File& socketFile, const std::string& bytes)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    socketFile.getFullPathName().copyToUTF8(address.sun_path, sizeof address.sun_path);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // A caller that says too much finds the other end closed: what it could not write is of no account.
    std::size_t written = 0;
    while (written < bytes.size())
    {
        const auto n = ::send(descriptor, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    ::shutdown(descriptor, SHUT_WR);
    pollfd ready{descriptor, POLLIN, 0};
    char byte = 0;
    while (::poll(&ready, 1, 30000) > 0 && ::read(descriptor, &byte, 1) > 0)
        ;
    ::close(descriptor);
}

/** Handles every message already posted. */
void dispatchPending()
{
    while (juce::dispatchNextMessageOnSystemQueue(true))
        ;
}
} // namespace

// The first instance comes to the front for a later one and for nothing else: not for a caller that says
// other words or far too much (of which no more than the bound is read), and its socket is the user's alone.
TEST(SingleInstance, OnlyALaterInstanceOfTheSameUserBringsTheFirstForward)
{
    const auto folder = juce::File::createTempFile("instance");
    ASSERT_TRUE(folder.createDirectory());
    const auto name = "LCLX_test_" + juce::String::toHexString(juce::Random::getSystemRandom().nextInt64());
    int starts = 0;
    {
        SingleInstance first(name, folder);
        ASSERT_TRUE(first.isFirst());
        ASSERT_TRUE(first.listen([&starts] { ++starts; }));
        struct stat info = {};
        ASSERT_EQ(::stat(first.getChannelFile().getFullPathName().toRawUTF8(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        SingleInstance later(name, folder);
        EXPECT_FALSE(later.isFirst()) << "the first instance's claim holds in its own process too";

        // Each caller is judged before its end is closed: a wrong one would have told by the time say()
        // returns. A later instance after each is still heard.
        const std::string wrong[] = {"back", std::string(1 << 20, 'f'),
                                     "front" + std::string(SingleInstance::longestMessage, ' '), "", "fron"};
        for (const auto& words : wrong)
        {
            SCOPED_TRACE(words.substr(0, 16) + " (" + std::to_string(words.size()) + " bytes)");
            const auto before = starts;
            say(first.getChannelFile(), words);
            dispatchPending();
            EXPECT_EQ(starts, before) << "a caller that said other words brought the window forward";
            EXPECT_TRUE(later.notifyFirst());
            EXPECT_TRUE(dispatchUntil([&] { return starts > before; }));
            dispatchPending();
            EXPECT_EQ(starts, before + 1);
        }
    }
    EXPECT_FALSE(folder.getChildFile(name + ".socket").exists()) << "the socket file goes with the instance";
    EXPECT_TRUE(SingleInstance(name, folder).isFirst()) << "the claim goes with the instance";
    folder.deleteRecursively();
}
