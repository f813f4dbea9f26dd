#include "device/PortOwner.h"
#include "device/UsbProbe.h"

// clang-format off
#include <windows.h>
#include <initguid.h> // defines the device class GUIDs of devguid.h in this file
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

// The present USB devices of the sound, video and game controllers class, through the Setup API.

namespace
{
/** The USB device itself: a function of a composite device ("USB\VID_2A5A&PID_0044&MI_00\...") sits below
    it, and only the device has a port of its own. */
DEVINST usbDeviceOf(DEVINST node, const char* instanceId)
{
    DEVINST parent = 0;
    if (juce::String(instanceId).containsIgnoreCase("&MI_") && CM_Get_Parent(&parent, node, 0) == CR_SUCCESS)
        return parent;
    return node;
}

/** The first string of a device's location paths ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)"), or else its
    location ("Port_#0004.Hub_#0001"); empty when Windows says neither. */
juce::String placeOfNode(DEVINST node)
{
    for (const ULONG property :
         {static_cast<ULONG>(CM_DRP_LOCATION_PATHS), static_cast<ULONG>(CM_DRP_LOCATION_INFORMATION)})
    {
        char text[1024] = {};
        ULONG size = sizeof(text) - 2;
        if (CM_Get_DevNode_Registry_PropertyA(node, property, nullptr, text, &size, 0) == CR_SUCCESS &&
            text[0] != '\0')
            return juce::String(text); // a multi-string's first string ends at its first null
    }
    return {};
}
} // namespace

juce::String placeOfDeviceInstance(const juce::String& instanceId)
{
    DEVINST node = 0;
    auto id = instanceId.toStdString();
    if (CM_Locate_DevNodeA(&node, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return {};
    return placeOfNode(usbDeviceOf(node, id.c_str()));
}

std::optional<std::vector<UsbIds>> enumeratePlatformUsbDevices()
{
    std::vector<UsbIds> found;
    const HDEVINFO deviceSet = SetupDiGetClassDevsA(&GUID_DEVCLASS_MEDIA, "USB", nullptr, DIGCF_PRESENT);
    if (deviceSet == INVALID_HANDLE_VALUE)
        return std::nullopt;

    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(deviceSet, index, &info); ++index)
    {
        char instanceId[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDA(info.DevInst, instanceId, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
            continue;
        if (auto ids = parseUsbInstanceId(instanceId))
        {
            ids->place = placeOfNode(usbDeviceOf(info.DevInst, instanceId));
            found.push_back(*ids);
        }
    }
    SetupDiDestroyDeviceInfoList(deviceSet);
    return found;
}
