// Lists the system's MIDI ports as the updater sees them, one per line, with the USB device each belongs to:
//   out<TAB>name<TAB>identifier<TAB>vvvv:pppp device at PLACE | none | unknown
// "none": the system says the port belongs to no USB device; "unknown": the system does not say.
#include "device/MidiPorts.h"

#include <cstdio>

namespace
{
void print(const char* direction, const std::vector<MidiPortInfo>& ports)
{
    for (const auto& port : ports)
    {
        juce::String owner = "unknown";
        if (port.owner.usb)
            owner = juce::String::toHexString(port.owner.usb->ids.vendorId).paddedLeft('0', 4) + ":" +
                    juce::String::toHexString(port.owner.usb->ids.productId).paddedLeft('0', 4) + " " +
                    port.owner.usb->device + " at " + port.owner.usb->ids.place;
        else if (port.owner.known)
            owner = "none";
        std::printf("%s\t%s\t%s\t%s\n", direction, port.name.toRawUTF8(), port.identifier.toRawUTF8(),
                    owner.toRawUTF8());
    }
}
} // namespace

int main()
{
    auto& ports = getSystemMidiPorts();
    print("out", ports.listOutputs());
    print("in", ports.listInputs());
    return 0;
}
