// The HID interface walk over SetupAPI: finds the monitors' video controllers among the
// present HID interfaces and hands each accepted one to the list.
#include <windows.h>
// windows.h first
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "discovery/DeviceIdParsing.h"
#include "discovery/ZelHidDisplayList.h"
#include "discovery/win32/SetupApiWin32.h"
#include "discovery/win32/Win32Walks.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace discovery_win32 {

namespace {

// Walks up the device tree from devInst to the first ancestor whose description names a
// hub, and reads that hub's ids from its instance id.
bool findHubAncestor(DEVINST devInst, uint16_t& hubVid, uint16_t& hubPid) {
    DEVINST current = devInst;
    std::wstring hubId;
    for (;;) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, current, 0) != CR_SUCCESS) {
            return false;
        }
        wchar_t instanceId[MAX_PATH] = {};
        if (CM_Get_Device_IDW(parent, instanceId, MAX_PATH, 0) != CR_SUCCESS) {
            return false;
        }
        DevInfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        if (!set.valid()) {
            return false;
        }
        SP_DEVINFO_DATA devInfo{};
        devInfo.cbSize = sizeof(devInfo);
        if (!SetupDiOpenDeviceInfoW(set.get(), instanceId, nullptr, 0, &devInfo)) {
            return false;
        }
        wchar_t description[MAX_PATH] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set.get(), &devInfo, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<PBYTE>(description),
                                               sizeof(description), nullptr)) {
            return false;
        }
        const std::wstring text(description, wcsnlen(description, MAX_PATH));
        if (text.size() >= 3 && text.find(L"Hub") != std::wstring::npos) {
            hubId.assign(instanceId, wcsnlen(instanceId, MAX_PATH));
            break;
        }
        ULONG depth = 0;  // stays 0, and ends the climb, if the depth cannot be read
        CM_Get_Depth(&depth, parent, 0);
        if (depth <= 1) {
            return false;
        }
        current = parent;
    }
    return parseInstanceIdVidPid(hubId, hubVid, hubPid);
}

// The hub above the interface at index of the set.
bool findInterfaceHub(HDEVINFO set, DWORD index, uint16_t& hubVid, uint16_t& hubPid) {
    SP_DEVINFO_DATA devInfo{};
    devInfo.cbSize = sizeof(devInfo);
    if (!SetupDiEnumDeviceInfo(set, index, &devInfo)) {
        return false;
    }
    return findHubAncestor(devInfo.DevInst, hubVid, hubPid);
}

}  // namespace

bool SetupApiHidWalk::enumerate(ZelHidDisplayList& list) const {
    HidGuid hidGuid{};
    HidLib::functions().HidD_GetHidGuid(&hidGuid);
    GUID guid;
    static_assert(sizeof(guid) == sizeof(hidGuid));
    std::memcpy(&guid, &hidGuid, sizeof(guid));

    DevInfoSet set(
        SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerateHid - SetupDiGetClassDevs failed, error=0x%08x",
                   static_cast<unsigned>(GetLastError()));
        return false;
    }

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, index, &interfaceData); ++index) {
        InterfaceDetail detail;
        if (!ReadInterfaceDetail(detail, set.get(), interfaceData, "enumerateHid")) {
            continue;
        }
        const std::wstring path = detail.devicePath();

        // Query-only open: enough for attributes and capabilities, even on devices that
        // others hold open.
        FileHandle probe(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        if (!probe.valid()) {
            // Taken before the path is converted, which may touch the last error.
            const DWORD error = GetLastError();
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - CreateFile(%s) failed, "
                       "error=0x%08x - continuing ...",
                       Narrow(path).c_str(), static_cast<unsigned>(error));
            continue;
        }

        list.considerHidInterface(probe.get(), path,
                                  [&set, index](uint16_t& hubVid, uint16_t& hubPid) {
                                      return findInterfaceHub(set.get(), index, hubVid, hubPid);
                                  });
    }

    const DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) {
        return true;
    }
    LogMessage(LogError,
               "ZelHidDisplayList::enumerateHid - SetupDiEnumDeviceInterfaces failed, "
               "error=0x%08x",
               static_cast<unsigned>(error));
    ConsolePrintf(
        "ZelHidDisplayList::enumerateHid - SetupDiEnumDeviceInterfaces failed, error=0x%08x\n",
        static_cast<unsigned>(error));
    return false;
}

}  // namespace discovery_win32
