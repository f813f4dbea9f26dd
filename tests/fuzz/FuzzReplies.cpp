// Any MIDI message, as the input callback would receive it, through the link's reply handling; what the link
// records must agree with an independent reading of the bytes.
#include "device/MidiInterfaceClass.h"
#include "engine/KnownDeviceTable.h"

#include <algorithm>
#include <cstdlib>

namespace
{
struct NoPorts final : MidiPorts
{
    std::vector<MidiPortInfo> listInputs() override { return {}; }
    std::vector<MidiPortInfo> listOutputs() override { return {}; }
    std::unique_ptr<MidiOutputPort> openOutput(const MidiPortInfo&) override { return {}; }
    std::unique_ptr<MidiInputPort> openInput(const MidiPortInfo&, juce::MidiInputCallback&) override
    {
        return {};
    }
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    static NoPorts ports;
    static MidiInterfaceClass link(ports, [] { return std::optional(std::vector<UsbIds>{}); });
    if (link.knownDevices.isEmpty())
        appendKnownDevices(link.knownDevices);
    link.resetConnection();

    link.handleIncomingMidiMessage(nullptr, juce::MidiMessage(data, static_cast<int>(size), 0.0));

    // The reading the link must agree with: at least 12 bytes, F0 00 21 5A 00, a known device code, then
    // command 04 (version, in the next five bytes: a header of top bits and four bytes, least significant
    // first) or 06 (information).
    const bool framed = size >= 12 && data[0] == 0xF0 && data[1] == 0x00 && data[2] == 0x21 &&
                        data[3] == 0x5A && data[4] == 0x00;
    bool known = false;
    for (const auto* device : link.knownDevices)
        known |= framed && device->deviceCode == data[5];
    const bool versionReply = known && data[6] == 0x04;
    const bool infoReply = known && data[6] == 0x06;
    check(link.versionReplied == versionReply);
    check(link.infoReplied == infoReply);
    check(!link.isDeviceIdentified());
    if (versionReply)
    {
        std::uint32_t version = 0;
        for (int k = 0; k < 4; ++k)
        {
            const auto byte =
                static_cast<std::uint32_t>((data[8 + k] & 0x7F) | (((data[7] >> (6 - k)) & 1) << 7));
            version |= byte << (8 * k);
        }
        check(link.firmwareVersion == static_cast<juce::int32>(version));
    }
    else
    {
        check(link.firmwareVersion == 0);
    }
    return 0;
}
