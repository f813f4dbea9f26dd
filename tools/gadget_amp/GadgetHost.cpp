#include "GadgetHost.h"

#include "VirtualAmplifier.h"
#include "device/MakerIds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

static_assert(std::is_same_v<VirtualAmplifier::Clock, SysExCollector::Clock> &&
                  std::is_same_v<AmplifierRecord::Clock, SysExCollector::Clock>,
              "the kernel's arrival times are on the monotonic clock, as every time here");

constexpr const char* gadgetDirPrefix = "/sys/kernel/config/usb_gadget/lclx_amp";
constexpr const char* cardIdPrefix = "LCLXAmp"; // the ALSA card of the gadget's own side
constexpr const char* manufacturer = "Kestrel";
/** How long the device stays away per host look it should miss, as the in-memory system counts them. */
constexpr auto absencePerLook = std::chrono::milliseconds(300);
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
} // namespace

/** Each UDC's amplifier is a gadget and a card of its own: none for the first ("dummy_udc.0"), else the
    UDC's number. */
static std::string suffixFor(const std::string& udc)
{
    const auto number = udc.substr(udc.find_last_of('.') + 1);
    const bool numbered = !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
    return numbered && number != "0" ? number : std::string();
}

GadgetHost::GadgetHost(std::string udcName, AmplifierRecord& r)
    : udc(std::move(udcName)), gadgetDir(gadgetDirPrefix + suffixFor(udc)),
      cardId(cardIdPrefix + suffixFor(udc)), record(r)
{
}

GadgetHost::~GadgetHost()
{
    stop();
}

bool GadgetHost::create()
{
    const fs::path dir = gadgetDir;
    std::error_code error;
    fs::create_directories(dir / "strings/0x409", error);
    fs::create_directories(dir / "functions/midi.usb0", error);
    fs::create_directories(dir / "configs/c.1/strings/0x409", error);
    if (error)
    {
        std::fprintf(stderr, "lclx_gadget_amp: no configfs gadget at %s: %s\n", gadgetDir.c_str(),
                     error.message().c_str());
        return false;
    }
    bool ok = writeFile(dir / "idVendor", AmplifierRecord::hex(maker::usbVendorId, 4)) &&
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

void GadgetHost::start(AmplifierHost::Device& d)
{
    device = &d;
    loop = std::thread([this] { run(); });
}

void GadgetHost::stop()
{
    if (!loop.joinable())
        return;
    stopping = true;
    loop.join();
    closeRawMidi();
    bindTo("");
}

void GadgetHost::attach(Device&, const juce::String& portName, UsbIds usb)
{
    const std::lock_guard guard(lock);
    actions.clear();
    actions.push_back({Clock::now(), Action::attach, portName.toStdString(), usb});
}

void GadgetHost::detach(Device&)
{
    const std::lock_guard guard(lock);
    actions.clear();
    actions.push_back({Clock::now(), Action::detach, {}, {}});
    acceptInput = false; // nothing after this moment reaches the device
}

void GadgetHost::reenumerate(Device&, std::chrono::milliseconds leaveAfter, const juce::String& portName,
                             UsbIds usb, int absentListings)
{
    const std::lock_guard guard(lock);
    actions.clear();
    const auto leaveAt = Clock::now() + leaveAfter;
    actions.push_back({leaveAt, Action::detach, {}, {}});
    const auto absence = std::max<std::chrono::milliseconds>(absentListings * absencePerLook, restartAbsence);
    actions.push_back({leaveAt + absence, Action::attach, portName.toStdString(), usb});
}

void GadgetHost::setRestartAbsence(std::chrono::milliseconds absence)
{
    const std::lock_guard guard(lock);
    restartAbsence = absence;
}

void GadgetHost::sendToHost(Device&, const std::vector<std::uint8_t>& bytes)
{
    // Called by the device on the loop thread, where the output is opened and closed.
    if (output == nullptr)
        return;
    const auto written = snd_rawmidi_write(output, bytes.data(), bytes.size());
    record.replied(bytes, written >= 0, Clock::now());
}

void GadgetHost::run()
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

void GadgetHost::perform(const Action& action)
{
    closeRawMidi();
    bindTo("");
    if (action.kind == Action::detach)
    {
        record.detached(Clock::now());
        return;
    }
    const fs::path dir = gadgetDir;
    writeFile(dir / "idProduct", AmplifierRecord::hex(action.usb.productId, 4));
    writeFile(dir / "strings/0x409/product", action.portName);
    if (!bindTo(udc))
        return;
    openRawMidi();
    {
        const std::lock_guard guard(lock);
        acceptInput = true;
    }
    record.attached(action.usb.productId, action.portName, Clock::now());
}

bool GadgetHost::bindTo(const std::string& name)
{
    const fs::path file = gadgetDir / "UDC";
    std::ifstream in(file);
    std::string bound;
    std::getline(in, bound);
    if (bound == name)
        return true;
    return writeFile(file, name.empty() ? "\n" : name);
}

void GadgetHost::openRawMidi()
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
        record.remark("the gadget's raw MIDI device " + name + " could not be opened");
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
        record.remark("the kernel gives no arrival times: the time of reading is recorded");
        snd_rawmidi_params_current(input, params);
        snd_rawmidi_params_set_buffer_size(input, params, inputBufferBytes);
        snd_rawmidi_params(input, params);
    }
}

void GadgetHost::closeRawMidi()
{
    if (input != nullptr)
        snd_rawmidi_close(input);
    if (output != nullptr)
        snd_rawmidi_close(output);
    input = output = nullptr;
    collector.clear();
}

void GadgetHost::readInput()
{
    pollfd fds[4];
    const auto count = snd_rawmidi_poll_descriptors(input, fds, 4);
    if (poll(fds, static_cast<nfds_t>(count), 5) <= 0)
        return;
    // With arrival times the device gives frames of up to 16 bytes, each stamped with the kernel's time of
    // its arrival; they are read from the device itself, frame by frame, until none is left.
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

void GadgetHost::take(std::uint8_t byte, Clock::time_point time)
{
    auto taken = collector.take(byte, time);
    if (taken.kind == SysExCollector::Taken::Kind::brokenOff)
    {
        record.remark(taken.breakingByte != 0 ? "a message broken off by status byte " +
                                                    AmplifierRecord::hex(taken.breakingByte, 2)
                                              : "a message broken off: longer than any the amplifier takes");
        return;
    }
    if (taken.kind != SysExCollector::Taken::Kind::message)
        return;

    const std::lock_guard guard(lock);
    if (!acceptInput)
        return;
    auto& amplifier = static_cast<VirtualAmplifier&>(*device);
    const auto mode = amplifier.getMode();
    record.received(taken.start,
                    mode == VirtualAmplifier::Mode::application ? "app"
                    : mode == VirtualAmplifier::Mode::boot      ? "boot"
                                                                : "generic",
                    taken.message);
    amplifier.receiveFromHostAt(taken.message, taken.start);
}
