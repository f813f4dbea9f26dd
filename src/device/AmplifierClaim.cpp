#include "device/AmplifierClaim.h"

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
constexpr const char* claimPrefix = "lclx-updater/amplifier/";
/** A place longer than this is named by its hash, so that every name fits every system's limit. */
constexpr int longestPlaceInName = 64;

#if !JUCE_WINDOWS
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
#endif
} // namespace

juce::String AmplifierClaim::nameFor(const juce::String& place)
{
    auto shown = place.replaceCharacter('\\', '/');
    if (shown.length() > longestPlaceInName)
        shown = juce::String::toHexString(place.hashCode64());
    return claimPrefix + shown;
}

#if JUCE_WINDOWS
namespace
{
std::wstring mutexName(const juce::String& place)
{
    // A backslash is the one character a kernel object's name may not carry after its namespace.
    return ("Global\\" + AmplifierClaim::nameFor(place).replaceCharacter('/', '_')).toWideCharPointer();
}
} // namespace

std::unique_ptr<AmplifierClaim> AmplifierClaim::take(const juce::String& place)
{
    const auto name = mutexName(place);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr)
        return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::unique_ptr<AmplifierClaim>(new AmplifierClaim(reinterpret_cast<juce::int64>(mutex)));
}

bool AmplifierClaim::isHeld(const juce::String& place)
{
    const auto name = mutexName(place);
    if (HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()))
    {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED; // there, but another user's
}

AmplifierClaim::~AmplifierClaim()
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}
#else
std::unique_ptr<AmplifierClaim> AmplifierClaim::take(const juce::String& place)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    sockaddr_un address;
    const auto length = addressOf(nameFor(place), address);
    // Only one socket can be bound to a name; listening lets others see that it is held.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 1) != 0)
    {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<AmplifierClaim>(new AmplifierClaim(fd));
}

bool AmplifierClaim::isHeld(const juce::String& place)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_un address;
    const auto length = addressOf(nameFor(place), address);
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    // A holder whose queue of callers is full still holds the claim; only a name nobody listens on is free.
    const bool held = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return held;
}

AmplifierClaim::~AmplifierClaim()
{
    ::close(static_cast<int>(handle));
}
#endif
