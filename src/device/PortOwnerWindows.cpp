#include "device/PortOwner.h"

// The framework names a Windows MIDI port by its device interface path, which carries the USB identity.
PortOwnership findPortOwner(const juce::String& identifier)
{
    return portOwnerFromInterfacePath(identifier.toStdString());
}
