#include "device/PortOwner.h"

// The framework names a Windows MIDI port by its device interface path, which carries the USB identity; the
// device instance it names tells where the device is plugged in.
PortOwnership findPortOwner(const juce::String& identifier)
{
    auto owner = portOwnerFromInterfacePath(identifier.toStdString());
    if (owner.usb)
        owner.usb->ids.place = placeOfDeviceInstance(deviceInstanceOfInterfacePath(identifier.toStdString()));
    return owner;
}
