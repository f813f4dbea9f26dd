#include "device/ExclusiveClaim.h"

#if JUCE_WINDOWS
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#endif

namespace
{
constexpr const char* amplifierClaimPrefix = "lclx-updater/amplifier/";
/** A place longer than this is named by its hash, so that every name fits every system's limit. */
constexpr int longestPlaceInName = 64;

#if JUCE_WINDOWS
std::wstring mutexName(const juce::String& name, ExclusiveClaim::Scope scope)
{
    // A backslash is the one character a kernel object's name may not carry after its namespace.
    const auto space = scope == ExclusiveClaim::Scope::machine ? "Global\\" : "Local\\";
    return (space + name.replaceCharacter('\\', '_')).toWideCharPointer();
}
#else
/** The abstract-namespace address (a leading null byte) of a claim's socket. */
socklen_t addressOf(const juce::String& name, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const auto text = name.toStdString();
    const auto length = std::min(text.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, text.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

/** A socket connected to the claim's holder; -1 when nobody holds it. `held` tells a holder too busy to
    take the call apart from no holder. */
int callHolder(const juce::String& name, bool& held)
{
    held = false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address;
    const auto length = addressOf(name, address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
    {
        held = true;
        return fd;
    }
    // A holder whose queue of callers is full still holds the claim; only a name nobody listens on is free.
    held = errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return -1;
}
#endif
} // namespace

juce::String amplifierClaim::nameFor(const juce::String& place)
{
    auto shown = place.replaceCharacter('\\', '/');
    if (shown.length() > longestPlaceInName)
        shown = juce::String::toHexString(place.hashCode64());
    return amplifierClaimPrefix + shown;
}

#if JUCE_WINDOWS
std::unique_ptr<ExclusiveClaim> ExclusiveClaim::take(const juce::String& name, Scope scope)
{
    const auto systemName = mutexName(name, scope);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, systemName.c_str());
    if (mutex == nullptr)
        return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::unique_ptr<ExclusiveClaim>(new ExclusiveClaim(reinterpret_cast<juce::int64>(mutex)));
}

bool ExclusiveClaim::isHeld(const juce::String& name, Scope scope)
{
    const auto systemName = mutexName(name, scope);
    if (HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, systemName.c_str()))
    {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED; // there, but another user's
}

std::optional<juce::int64> ExclusiveClaim::getHolderUserId(const juce::String&)
{
    return std::nullopt;
}

ExclusiveClaim::~ExclusiveClaim()
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}
#else
// Both scopes share the abstract namespace: a user-scoped name carries the user, and its holder's user ID
// tells the user's own holder apart from another user's that took the name first.
std::unique_ptr<ExclusiveClaim> ExclusiveClaim::take(const juce::String& name, Scope)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    sockaddr_un address;
    const auto length = addressOf(name, address);
    // Only one socket can be bound to a name; listening lets others see that it is held, and by whom.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 1) != 0)
    {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<ExclusiveClaim>(new ExclusiveClaim(fd));
}

bool ExclusiveClaim::isHeld(const juce::String& name, Scope)
{
    bool held = false;
    if (const int fd = callHolder(name, held); fd >= 0)
        ::close(fd);
    return held;
}

std::optional<juce::int64> ExclusiveClaim::getHolderUserId(const juce::String& name)
{
    bool held = false;
    const int fd = callHolder(name, held);
    if (fd < 0)
        return std::nullopt;
    std::optional<juce::int64> user;
#ifdef SO_PEERCRED
    ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0)
        user = static_cast<juce::int64>(credentials.uid);
#endif
    ::close(fd);
    return user;
}

ExclusiveClaim::~ExclusiveClaim()
{
    ::close(static_cast<int>(handle));
}
#endif
