// The virtual amplifier on a USB gadget: the same amplifier model as the tests' one, plugged into a Linux
// kernel's USB device side (a configfs gadget with one MIDI function on a UDC, such as dummy_hcd's) instead
// of the in-memory MIDI system. The same kernel, or another one across a cable, enumerates it as a USB-MIDI
// device, so whatever talks to it goes through a real USB-MIDI host stack.
//
//   lclx_gadget_amp --key LX40 --mode app|boot|generic --version N --record FILE
//                   [--unplug-after K] [--replug-after-ms MS] [--udc NAME]
//
// It writes every message it receives to FILE as it arrives ("<ms> <mode> <hex bytes>", the time being the
// kernel's arrival time of the message's first byte on the monotonic clock), and its plugging, mode changes
// and, at the end, the rules the sender broke as lines starting with "#". It runs until SIGTERM or SIGINT.

#include "VirtualAmplifier.h"
#include "device/MakerIds.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;
using Clock = VirtualAmplifier::Clock;

constexpr const char* gadgetDir = "/sys/kernel/config/usb_gadget/lclx_amp";
constexpr const char* cardId = "LCLXAmp"; // the ALSA card of the gadget's own side
constexpr const char* manufacturer = "Kestrel";
/** How long the device stays away per host look it should miss, as the in-memory system counts them. */
constexpr auto absenceParLook = std::chrono::milliseconds(300);
/** With arrival times the kernel keeps every few bytes (one USB-MIDI packet) in a frame of 32 bytes: room for
    far more than one block, so that nothing is dropped while the reader is late. */
constexpr std::size_t inputBufferBytes = 512 * 1024;

/** One frame of a raw MIDI device read with arrival times, as the kernel lays it out. */
struct [[gnu::packed]] ArrivalFrame
{
    std::uint8_t type; // 0: MIDI bytes; others are skipped
    std::uint8_t length;
    std::uint8_t reserved[2];
    std::uint32_t nanoseconds;
    std::uint64_t seconds;
    std::uint8_t data[16];
};
static_assert(sizeof(ArrivalFrame) == 32);

std::atomic<bool> stopRequested{false};

bool writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.close();
    if (!out)
    {
        std::fprintf(stderr, "lclx_gadget_amp: could not write '%s' to %s\n", text.c_str(), path.c_str());
        return false;
    }
    return true;
}

std::string hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

/** A message as the record writes it: two hex digits a byte, nothing between. */
std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char byteText[4];
    for (const auto b : bytes)
    {
        std::snprintf(byteText, sizeof byteText, "%02x", b);
        text += byteText;
    }
    return text;
}

double millisecondsOf(Clock::time_point time)
{
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

/** A USB gadget with one MIDI function, shown and hidden as the amplifier asks. Every change of the
    hardware (binding, unbinding, opening the raw MIDI device) is done on its one loop thread, in order, so a
    device that unplugs itself on a message it receives stops receiving at once. */
class GadgetHost final : public AmplifierHost
{
public:
    GadgetHost(std::string udcName, FILE* recordFile) : udc(std::move(udcName)), record(recordFile) {}

    ~GadgetHost() override { stop(); }

    bool create()
    {
        const fs::path dir = gadgetDir;
        std::error_code error;
        fs::create_directories(dir / "strings/0x409", error);
        fs::create_directories(dir / "functions/midi.usb0", error);
        fs::create_directories(dir / "configs/c.1/strings/0x409", error);
        if (error)
        {
            std::fprintf(stderr, "lclx_gadget_amp: no configfs gadget at %s: %s\n", gadgetDir,
                         error.message().c_str());
            return false;
        }
        bool ok = writeFile(dir / "idVendor", hex(maker::usbVendorId, 4)) &&
                  writeFile(dir / "bcdUSB", "0x0200") &&
                  writeFile(dir / "strings/0x409/manufacturer", manufacturer) &&
                  writeFile(dir / "strings/0x409/serialnumber", "0001") &&
                  writeFile(dir / "configs/c.1/strings/0x409/configuration", "MIDI") &&
                  writeFile(dir / "functions/midi.usb0/id", cardId) &&
                  writeFile(dir / "functions/midi.usb0/in_ports", "1") &&
                  writeFile(dir / "functions/midi.usb0/out_ports", "1");
        if (ok && !fs::exists(dir / "configs/c.1/midi.usb0"))
            fs::create_directory_symlink(dir / "functions/midi.usb0", dir / "configs/c.1/midi.usb0", error);
        return ok && !error;
    }

    void start(AmplifierHost::Device& d)
    {
        device = &d;
        loop = std::thread([this] { run(); });
    }

    void stop()
    {
        if (!loop.joinable())
            return;
        stopping = true;
        loop.join();
        closeRawMidi();
        bindTo("");
    }

    std::recursive_mutex& worldLock() override { return lock; }

    void attach(Device&, const juce::String& portName, UsbIds usb) override
    {
        const std::lock_guard guard(lock);
        actions.clear();
        actions.push_back({Clock::now(), Action::attach, portName.toStdString(), usb});
    }

    void detach(Device&) override
    {
        const std::lock_guard guard(lock);
        actions.clear();
        actions.push_back({Clock::now(), Action::detach, {}, {}});
        acceptInput = false; // nothing after this moment reaches the device
    }

    void reenumerate(Device&, std::chrono::milliseconds leaveAfter, const juce::String& portName, UsbIds usb,
                     int absentListings) override
    {
        const std::lock_guard guard(lock);
        actions.clear();
        const auto leaveAt = Clock::now() + leaveAfter;
        actions.push_back({leaveAt, Action::detach, {}, {}});
        actions.push_back(
            {leaveAt + absentListings * absenceParLook, Action::attach, portName.toStdString(), usb});
    }

    void sendToHost(Device&, const std::vector<std::uint8_t>& bytes) override
    {
        // Called by the device on the loop thread, where the output is opened and closed.
        if (output == nullptr)
            return;
        const auto written = snd_rawmidi_write(output, bytes.data(), bytes.size());
        note("# reply " + hexBytes(bytes) + (written < 0 ? " could not be written" : "") + " at " +
             std::to_string(millisecondsOf(Clock::now())));
    }

    void note(const std::string& line)
    {
        const std::lock_guard guard(lock);
        std::fprintf(record, "%s\n", line.c_str());
        std::fflush(record);
    }

private:
    struct Action
    {
        enum Kind
        {
            attach,
            detach
        };
        Clock::time_point due;
        Kind kind;
        std::string portName;
        UsbIds usb;
    };

    void run()
    {
        while (!stopping)
        {
            std::optional<Action> action;
            {
                const std::lock_guard guard(lock);
                if (!actions.empty() && actions.front().due <= Clock::now())
                {
                    action = actions.front();
                    actions.pop_front();
                }
            }
            if (action)
            {
                perform(*action);
                continue;
            }
            if (input == nullptr)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            readInput();
        }
    }

    void perform(const Action& action)
    {
        closeRawMidi();
        bindTo("");
        if (action.kind == Action::detach)
        {
            note("# detach at " + std::to_string(millisecondsOf(Clock::now())));
            return;
        }
        const fs::path dir = gadgetDir;
        writeFile(dir / "idProduct", hex(action.usb.productId, 4));
        writeFile(dir / "strings/0x409/product", action.portName);
        if (!bindTo(udc))
            return;
        openRawMidi();
        {
            const std::lock_guard guard(lock);
            acceptInput = true;
        }
        note("# attach " + hex(action.usb.productId, 4) + " \"" + action.portName + "\" at " +
             std::to_string(millisecondsOf(Clock::now())));
    }

    bool bindTo(const std::string& name)
    {
        const fs::path file = fs::path(gadgetDir) / "UDC";
        std::ifstream in(file);
        std::string bound;
        std::getline(in, bound);
        if (bound == name)
            return true;
        return writeFile(file, name.empty() ? "\n" : name);
    }

    void openRawMidi()
    {
        const auto name = std::string("hw:CARD=") + cardId + ",DEV=0";
        for (int attempt = 0; attempt < 200 && input == nullptr; ++attempt)
        {
            if (snd_rawmidi_open(&input, nullptr, name.c_str(), SND_RAWMIDI_NONBLOCK) < 0)
            {
                input = nullptr;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (input == nullptr || snd_rawmidi_open(nullptr, &output, name.c_str(), 0) < 0)
        {
            output = nullptr;
            note("# the gadget's raw MIDI device " + name + " could not be opened");
            return;
        }
        // The kernel stamps what arrives; without that, the time it is read is the next best.
        snd_rawmidi_params_t* params = nullptr;
        snd_rawmidi_params_alloca(&params);
        kernelTimes = snd_rawmidi_params_current(input, params) == 0 &&
                      snd_rawmidi_params_set_read_mode(input, params, SND_RAWMIDI_READ_TSTAMP) == 0 &&
                      snd_rawmidi_params_set_clock_type(input, params, SND_RAWMIDI_CLOCK_MONOTONIC) == 0 &&
                      snd_rawmidi_params_set_buffer_size(input, params, inputBufferBytes) == 0 &&
                      snd_rawmidi_params(input, params) == 0;
        if (!kernelTimes)
        {
            note("# the kernel gives no arrival times: the time of reading is recorded");
            snd_rawmidi_params_current(input, params);
            snd_rawmidi_params_set_buffer_size(input, params, inputBufferBytes);
            snd_rawmidi_params(input, params);
        }
    }

    void closeRawMidi()
    {
        if (input != nullptr)
            snd_rawmidi_close(input);
        if (output != nullptr)
            snd_rawmidi_close(output);
        input = output = nullptr;
        message.clear();
    }

    void readInput()
    {
        pollfd fds[4];
        const auto count = snd_rawmidi_poll_descriptors(input, fds, 4);
        if (poll(fds, static_cast<nfds_t>(count), 5) <= 0)
            return;
        // With arrival times the device gives frames of up to 16 bytes, each stamped with the kernel's time
        // of its arrival; they are read from the device itself, frame by frame, until none is left.
        while (input != nullptr)
        {
            if (!kernelTimes)
            {
                std::uint8_t buffer[1024];
                const auto got = snd_rawmidi_read(input, buffer, sizeof buffer);
                if (got <= 0)
                    return;
                const auto time = Clock::now();
                for (ssize_t i = 0; i < got && input != nullptr; ++i)
                    take(buffer[i], time);
                continue;
            }
            ArrivalFrame frames[64];
            const auto got = ::read(fds[0].fd, frames, sizeof frames);
            if (got <= 0)
                return;
            for (std::size_t f = 0; f < static_cast<std::size_t>(got) / sizeof(frames[0]); ++f)
            {
                const auto& frame = frames[f];
                if (frame.type != 0)
                    continue;
                const Clock::time_point time(std::chrono::duration_cast<Clock::duration>(
                    std::chrono::seconds(frame.seconds) + std::chrono::nanoseconds(frame.nanoseconds)));
                const auto length = std::min<std::size_t>(frame.length, sizeof frame.data);
                for (std::size_t i = 0; i < length && input != nullptr; ++i)
                    take(frame.data[i], time);
            }
        }
    }

    /** Collects one system exclusive message; any other status byte ends one without delivering it. */
    void take(std::uint8_t byte, Clock::time_point time)
    {
        if (byte >= 0xF8)
            return; // real-time bytes may come between any two
        if (byte == 0xF0)
        {
            message.assign(1, byte);
            messageStart = time;
            return;
        }
        if (message.empty())
            return;
        if (byte >= 0x80 && byte != 0xF7)
        {
            note("# a message broken off by status byte " + hex(byte, 2));
            message.clear();
            return;
        }
        message.push_back(byte);
        if (byte == 0xF7)
            deliver();
    }

    void deliver()
    {
        const std::lock_guard guard(lock);
        const auto bytes = std::move(message);
        message.clear();
        if (!acceptInput)
            return;
        auto& amplifier = static_cast<VirtualAmplifier&>(*device);
        const auto mode = amplifier.getMode();
        std::string line = std::to_string(millisecondsOf(messageStart));
        line += mode == VirtualAmplifier::Mode::application ? " app "
                : mode == VirtualAmplifier::Mode::boot      ? " boot "
                                                            : " generic ";
        line += hexBytes(bytes);
        std::fprintf(record, "%s\n", line.c_str());
        std::fflush(record);
        amplifier.receiveFromHostAt(bytes, messageStart);
    }

    const std::string udc;
    FILE* const record;
    std::recursive_mutex lock;
    std::deque<Action> actions;
    bool acceptInput = false;
    std::atomic<bool> stopping{false};
    std::thread loop;
    AmplifierHost::Device* device = nullptr;

    snd_rawmidi_t* input = nullptr;
    snd_rawmidi_t* output = nullptr;
    bool kernelTimes = false;
    std::vector<std::uint8_t> message;
    Clock::time_point messageStart;
};

/** The UDC whose name sorts first (dummy_udc.0 before dummy_udc.1), so the choice never depends on the
    order in which the system lists them. */
std::string firstUdc()
{
    std::error_code error;
    std::string first;
    for (const auto& entry : fs::directory_iterator("/sys/class/udc", error))
        if (const auto name = entry.path().filename().string(); first.empty() || name < first)
            first = name;
    return first;
}
} // namespace

int main(int argc, char** argv)
{
    std::string key, modeName, recordPath, udc;
    int version = 0, unplugAfter = 0, replugAfterMs = -1;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--key")
            key = value;
        else if (option == "--mode")
            modeName = value;
        else if (option == "--version")
            version = std::atoi(value.c_str());
        else if (option == "--record")
            recordPath = value;
        else if (option == "--unplug-after")
            unplugAfter = std::atoi(value.c_str());
        else if (option == "--replug-after-ms")
            replugAfterMs = std::atoi(value.c_str());
        else if (option == "--udc")
            udc = value;
    }
    if (udc.empty())
        udc = firstUdc();
    const auto mode = modeName == "app"       ? VirtualAmplifier::Mode::application
                      : modeName == "boot"    ? VirtualAmplifier::Mode::boot
                      : modeName == "generic" ? VirtualAmplifier::Mode::genericBoot
                                              : std::optional<VirtualAmplifier::Mode>();
    if (key.empty() || !mode || recordPath.empty() || udc.empty())
    {
        std::fprintf(stderr,
                     "usage: lclx_gadget_amp --key KEY --mode app|boot|generic --version N --record FILE "
                     "[--unplug-after K] [--replug-after-ms MS] [--udc NAME]\n");
        return 2;
    }
    FILE* record = std::fopen(recordPath.c_str(), "w");
    if (record == nullptr)
    {
        std::perror(recordPath.c_str());
        return 1;
    }

    GadgetHost host(udc, record);
    if (!host.create())
        return 1;
    std::signal(SIGTERM, [](int) { stopRequested = true; });
    std::signal(SIGINT, [](int) { stopRequested = true; });

    std::unique_ptr<VirtualAmplifier> amplifier;
    {
        const std::lock_guard guard(host.worldLock());
        amplifier = std::make_unique<VirtualAmplifier>(host, key, *mode, version);
        // The kernel delivers a message late now and then under emulation, which shortens the gap after it:
        // the sender's pacing is judged from the record, not by the amplifier itself.
        amplifier->setPacingChecked(false);
        if (unplugAfter > 0)
            amplifier->unplugAfter(static_cast<std::size_t>(unplugAfter));
    }
    host.start(*amplifier);

    std::optional<Clock::time_point> unpluggedAt;
    while (!stopRequested)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (replugAfterMs < 0 || amplifier->isPluggedIn())
            continue;
        if (!unpluggedAt)
            unpluggedAt = Clock::now();
        else if (Clock::now() - *unpluggedAt >= std::chrono::milliseconds(replugAfterMs))
        {
            host.note("# plugged in again");
            amplifier->plugIn();
            replugAfterMs = -1;
        }
    }

    host.stop();
    for (const auto& violation : amplifier->getViolations())
        host.note("# violation: " + violation.toStdString());
    host.note("# end: " + std::to_string(amplifier->getCompletedImages()) + " image(s), version " +
              std::to_string(amplifier->getFirmwareVersion()) +
              (amplifier->wasFirmwareErased() ? ", erased" : ""));
    amplifier.reset();
    std::fclose(record);
    return 0;
}
