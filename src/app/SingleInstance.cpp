#include "app/SingleInstance.h"

#include <array>

#if JUCE_WINDOWS
#include <windows.h>

// after windows.h, whose types it uses
#include <bcrypt.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace
{
constexpr const char* instanceNamePrefix = "LCLX_Software_Updater_";
constexpr const char* instanceClaimPrefix = "lclx-updater/instance/";
constexpr const char* bringToFrontMessage = "front";
/** How long a caller has to say its message, and a later instance to reach the first. */
constexpr int callerTimeoutMs = 1000;
/** How soon the listening thread notices that it is to stop. */
constexpr int acceptPollMs = 200;

/** Reads what a caller says, up to one byte more than any message may have (so that a longer one is told
    apart), until it closes its end or the time is up. `readSome(buffer, size, ms)` reads what is there
    within `ms`: the number of bytes, 0 at the caller's end or on time-out. */
template <typename ReadSome> std::string readBounded(ReadSome readSome)
{
    std::array<char, SingleInstance::longestMessage + 1> buffer{};
    std::size_t total = 0;
    const auto deadline = juce::Time::getMillisecondCounter() + callerTimeoutMs;
    while (total < buffer.size())
    {
        const auto now = juce::Time::getMillisecondCounter();
        if (now >= deadline)
            break;
        const auto got =
            readSome(buffer.data() + total, buffer.size() - total, static_cast<int>(deadline - now));
        if (got <= 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return std::string(buffer.data(), total);
}

#if JUCE_WINDOWS
/** The user's profile folder names the user; the current folder does not come into it. */
juce::String userKey()
{
    return juce::File::getSpecialLocation(juce::File::userHomeDirectory).getFullPathName().toLowerCase();
}

juce::File defaultChannelFolder()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory);
}

juce::String channelFileName(const juce::String& name)
{
    return "." + name + ".port";
}

/** A secret for one run of the first instance, from the system's random source. */
juce::String newSecret()
{
    std::array<juce::uint8, 16> bytes{};
    if (BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return {};
    return juce::String::toHexString(bytes.data(), static_cast<int>(bytes.size()), 0);
}
#else
juce::String userKey()
{
    return "uid" + juce::String(static_cast<juce::int64>(::getuid()));
}

/** The user's runtime folder, or a folder of the user's own under /tmp: never one another user could hold. */
juce::File defaultChannelFolder()
{
    const auto runtime = juce::SystemStats::getEnvironmentVariable("XDG_RUNTIME_DIR", {});
    juce::File folder = juce::File::isAbsolutePath(runtime)
                            ? juce::File(runtime)
                            : juce::File("/tmp").getChildFile("lclx-software-updater-" + userKey());
    ::mkdir(folder.getFullPathName().toRawUTF8(), 0700);
    struct stat info = {};
    if (::lstat(folder.getFullPathName().toRawUTF8(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 077) != 0)
        return {};
    return folder;
}

juce::String channelFileName(const juce::String& name)
{
    return name + ".socket";
}

/** The socket file's address; false where the path does not fit. */
bool addressOf(const juce::File& file, sockaddr_un& address)
{
    const auto path = file.getFullPathName();
    address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.getNumBytesAsUTF8() >= sizeof address.sun_path)
        return false;
    path.copyToUTF8(address.sun_path, sizeof address.sun_path);
    return true;
}

int readSomeFrom(int descriptor, char* buffer, std::size_t size, int ms)
{
    pollfd ready{descriptor, POLLIN, 0};
    if (::poll(&ready, 1, ms) <= 0)
        return 0;
    const auto got = ::read(descriptor, buffer, size);
    return got > 0 ? static_cast<int>(got) : 0;
}
#endif

juce::String instanceName()
{
    return instanceNamePrefix + juce::String::toHexString(userKey().hashCode64()).toUpperCase();
}
} // namespace

/** The first instance's end of the channel: a thread that takes one caller at a time. */
class SingleInstance::Listener final : private juce::Thread
{
public:
    Listener(juce::File file, std::function<void()> callback)
        : juce::Thread("other starts"), channelFile(std::move(file)),
          onAnotherStart(std::make_shared<std::function<void()>>(std::move(callback)))
    {
    }

    ~Listener() override
    {
        signalThreadShouldExit();
        stopThread(callerTimeoutMs * 4);
        close();
    }

    bool open()
    {
        if (!openChannel())
        {
            close();
            return false;
        }
        return startThread();
    }

private:
    void run() override
    {
        while (!threadShouldExit())
            serveOneCaller();
    }

    /** Tells the message thread of another start; called before the caller's end is closed, so that a caller
        who saw it closed knows its message has been judged. */
    void tellAnotherStart()
    {
        juce::MessageManager::callAsync(
            [weak = std::weak_ptr<std::function<void()>>(onAnotherStart)]
            {
                if (const auto callback = weak.lock())
                    (*callback)();
            });
    }

#if JUCE_WINDOWS
    bool openChannel()
    {
        secret = newSecret();
        if (secret.isEmpty() || !socket.createListener(0, "127.0.0.1"))
            return false;
        return channelFile.replaceWithText(juce::String(socket.getBoundPort()) + " " + secret);
    }

    /** Tells another start when a caller said the secret and the message. */
    void serveOneCaller()
    {
        if (socket.waitUntilReady(true, acceptPollMs) != 1)
            return;
        const std::unique_ptr<juce::StreamingSocket> caller(socket.waitForNextConnection());
        if (caller == nullptr)
            return;
        const auto said = readBounded(
            [&caller](char* buffer, std::size_t size, int ms)
            {
                if (caller->waitUntilReady(true, ms) != 1)
                    return 0;
                return juce::jmax(0, caller->read(buffer, static_cast<int>(size), false));
            });
        if (said == (secret + " " + bringToFrontMessage).toStdString())
            tellAnotherStart();
    }

    void close()
    {
        socket.close();
        channelFile.deleteFile();
    }

    juce::StreamingSocket socket;
    juce::String secret;
#else
    bool openChannel()
    {
        sockaddr_un address;
        if (!addressOf(channelFile, address))
            return false;
        descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A file left by an instance that ended without removing it goes: this one holds the lock.
        ::unlink(address.sun_path);
        return descriptor >= 0 &&
               ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
               ::chmod(address.sun_path, 0600) == 0 && ::listen(descriptor, 4) == 0;
    }

    /** Tells another start when a caller of this user said the message. */
    void serveOneCaller()
    {
        pollfd ready{descriptor, POLLIN, 0};
        if (::poll(&ready, 1, acceptPollMs) <= 0)
            return;
        const int caller = ::accept(descriptor, nullptr, nullptr);
        if (caller < 0)
            return;
        bool sameUser = true;
#ifdef SO_PEERCRED
        ucred credentials = {};
        socklen_t length = sizeof credentials;
        sameUser = ::getsockopt(caller, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
                   credentials.uid == ::getuid();
#endif
        const auto said = sameUser ? readBounded([caller](char* buffer, std::size_t size, int ms)
                                                 { return readSomeFrom(caller, buffer, size, ms); })
                                   : std::string();
        if (said == bringToFrontMessage)
            tellAnotherStart();
        ::close(caller);
    }

    void close()
    {
        if (descriptor >= 0)
        {
            ::close(descriptor);
            ::unlink(channelFile.getFullPathName().toRawUTF8());
        }
        descriptor = -1;
    }

    int descriptor = -1;
#endif

    const juce::File channelFile;
    const std::shared_ptr<std::function<void()>> onAnotherStart;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Listener)
};

SingleInstance::SingleInstance() : SingleInstance(instanceName(), defaultChannelFolder()) {}

SingleInstance::SingleInstance(const juce::String& instance, const juce::File& folder)
    : name(instance),
      channelFile(folder == juce::File() ? juce::File() : folder.getChildFile(channelFileName(instance))),
      lock(ExclusiveClaim::take(instanceClaimPrefix + instance, ExclusiveClaim::Scope::user))
{
    first = lock != nullptr;
#if !JUCE_WINDOWS
    // The name is known to every user: one that another user's process holds is a squatter, not this user's
    // instance. Amplifiers stay safe either way, each claimed on its own while it is updated.
    const auto holder = ExclusiveClaim::getHolderUserId(instanceClaimPrefix + instance);
    if (!first && holder && *holder != static_cast<juce::int64>(::getuid()))
        first = true;
#endif
}

SingleInstance::~SingleInstance()
{
    listener.reset();
}

bool SingleInstance::listen(std::function<void()> onAnotherStart)
{
    if (!first || channelFile == juce::File())
        return false;
    listener = std::make_unique<Listener>(channelFile, std::move(onAnotherStart));
    if (!listener->open())
        listener.reset();
    return listener != nullptr;
}

bool SingleInstance::notifyFirst()
{
    if (channelFile == juce::File())
        return false;
#if JUCE_WINDOWS
    const auto words = juce::StringArray::fromTokens(channelFile.loadFileAsString(), " ", "");
    if (words.size() != 2 || words[0].getIntValue() <= 0)
        return false;
    juce::StreamingSocket socket;
    if (!socket.connect("127.0.0.1", words[0].getIntValue(), callerTimeoutMs))
        return false;
    const auto message = words[1].trim() + " " + bringToFrontMessage;
    return socket.write(message.toRawUTF8(), static_cast<int>(message.getNumBytesAsUTF8())) ==
           static_cast<int>(message.getNumBytesAsUTF8());
#else
    sockaddr_un address;
    if (!addressOf(channelFile, address))
        return false;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return false;
    const juce::String message(bringToFrontMessage);
    const auto length = static_cast<ssize_t>(message.getNumBytesAsUTF8());
    const bool sent =
        ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::write(descriptor, message.toRawUTF8(), static_cast<std::size_t>(length)) == length;
    ::close(descriptor);
    return sent;
#endif
}
