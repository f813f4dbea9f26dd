#include "device/UsbProbe.h"

// clang-format off
#include <windows.h>
#include <initguid.h> // defines the device class GUIDs of devguid.h in this file
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

// The present USB devices of the sound, video and game controllers class, through the Setup API.

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
        if (const auto ids = parseUsbInstanceId(instanceId))
            found.push_back(*ids);
    }
    SetupDiDestroyDeviceInfoList(deviceSet);
    return found;
}
