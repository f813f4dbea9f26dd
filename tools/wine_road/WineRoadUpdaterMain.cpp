// The Windows program for the roads through a real kernel under Wine, and only for them: the real window and
// engine, given what Wine lacks. Wine's Setup API lists no USB devices, so the USB list is read from the
// guest kernel's sysfs through Wine's Z: drive; Wine names a USB-MIDI port as ALSA does ("KW LX40 Boot MIDI
// 1") where Windows gives the device's own name ("KW LX40 Boot"), so the names are given as Windows gives
// them. Never part of the product.
#include "app/UpdaterApplication.h"

namespace
{
/** "KW LX40 Boot MIDI 1" as Windows names it: "KW LX40 Boot". */
juce::String windowsPortName(const juce::String& wineName)
{
    const auto cut = wineName.lastIndexOf(" MIDI ");
    if (cut > 0 && wineName.substring(cut + 6).containsOnly("0123456789") &&
        wineName.substring(cut + 6).isNotEmpty())
        return wineName.substring(0, cut);
    return wineName;
}

class RenamedInput final : public MidiInputPort
{
public:
    explicit RenamedInput(std::unique_ptr<MidiInputPort> p) : port(std::move(p)) {}
    void start() override { port->start(); }
    void stop() override { port->stop(); }
    juce::String getName() const override { return windowsPortName(port->getName()); }

private:
    std::unique_ptr<MidiInputPort> port;
};

/** The system's ports under the names Windows gives them; opened through the system's own listing. */
class WindowsNamedPorts final : public MidiPorts
{
public:
    std::vector<MidiPortInfo> listInputs() override { return renamed(system.listInputs()); }
    std::vector<MidiPortInfo> listOutputs() override { return renamed(system.listOutputs()); }
    std::unique_ptr<MidiOutputPort> openOutput(const MidiPortInfo& port) override
    {
        const auto original = find(system.listOutputs(), port);
        return original ? system.openOutput(*original) : nullptr;
    }
    std::unique_ptr<MidiInputPort> openInput(const MidiPortInfo& port,
                                             juce::MidiInputCallback& callback) override
    {
        const auto original = find(system.listInputs(), port);
        if (!original)
            return nullptr;
        auto opened = system.openInput(*original, callback);
        return opened ? std::make_unique<RenamedInput>(std::move(opened)) : nullptr;
    }

private:
    static std::vector<MidiPortInfo> renamed(std::vector<MidiPortInfo> ports)
    {
        for (auto& port : ports)
            port.name = windowsPortName(port.name);
        return ports;
    }
    static std::optional<MidiPortInfo> find(const std::vector<MidiPortInfo>& ports,
                                            const MidiPortInfo& wanted)
    {
        for (const auto& port : ports)
            if (port.identifier == wanted.identifier)
                return port;
        return std::nullopt;
    }

    MidiPorts& system = getSystemMidiPorts();
};

/** The USB devices the guest kernel lists, from sysfs through Wine's Z: drive. */
std::optional<std::vector<UsbIds>> sysfsUsbDevices()
{
    const juce::File devices("Z:\\sys\\bus\\usb\\devices");
    if (!devices.isDirectory())
        return std::nullopt;
    std::vector<UsbIds> found;
    for (const auto& device : devices.findChildFiles(juce::File::findDirectories, false))
    {
        const auto vendor = device.getChildFile("idVendor").loadFileAsString().trim();
        const auto product = device.getChildFile("idProduct").loadFileAsString().trim();
        if (vendor.isNotEmpty() && product.isNotEmpty())
            found.push_back({static_cast<juce::uint16>(vendor.getHexValue32()),
                             static_cast<juce::uint16>(product.getHexValue32())});
    }
    return found;
}

class WineRoadApplication : public SoftwareUpdaterApplication
{
public:
    WineRoadApplication()
        : SoftwareUpdaterApplication(
              [this] { return DeviceComSeams{.ports = &ports, .enumerateUsb = sysfsUsbDevices}; })
    {
    }

private:
    WindowsNamedPorts ports;
};
} // namespace

START_JUCE_APPLICATION(WineRoadApplication)
