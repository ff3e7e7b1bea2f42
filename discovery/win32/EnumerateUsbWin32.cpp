// The USB hub walk: for hubs in the hub table, reads each port's device descriptor, serial
// number and driver binding, and hands listed devices bound to WinUSB to the list.
#include <windows.h>
// windows.h first
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>
// the I/O control macros first
#include <usbioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include "discovery/DeviceIdParsing.h"
#include "discovery/ZelHidDisplayList.h"
#include "discovery/win32/SetupApiWin32.h"
#include "discovery/win32/Win32Walks.h"
#include "log/Log.h"
#include "platform/Text.h"

namespace discovery_win32 {

namespace {

// GUID_DEVINTERFACE_USB_HUB, spelled out so no translation unit has to instantiate it.
const GUID kUsbHubInterfaceGuid = {
    0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};

// Buffer sizes the hub driver is given: the fixed structures plus room for their tails.
constexpr size_t kMaxPipes = 30;
constexpr size_t kConnectionInfoSize =
    offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList) + kMaxPipes * sizeof(USB_PIPE_INFO);
constexpr size_t kDescriptorDataSize = 512;
constexpr size_t kDescriptorRequestSize =
    offsetof(USB_DESCRIPTOR_REQUEST, Data) + kDescriptorDataSize;
constexpr size_t kDriverKeyChars = 260;
constexpr size_t kDriverKeySize =
    offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) + kDriverKeyChars * sizeof(WCHAR);
static_assert(sizeof(USB_NODE_INFORMATION) == 76);
static_assert(IOCTL_USB_GET_NODE_INFORMATION == 0x220408);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX == 0x220448);
static_assert(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION == 0x220410);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME == 0x220420);
static_assert(kConnectionInfoSize == 365);
static_assert(kDescriptorRequestSize == 524);
static_assert(kDriverKeySize == 528);

// Longest serial number text kept, in characters.
constexpr size_t kMaxSerialChars = 255;

constexpr UCHAR kStringDescriptorType = 3;

bool HubRequest(HANDLE hub, DWORD code, void* buffer, DWORD size, DWORD* returned = nullptr) {
    DWORD bytes = 0;
    const BOOL ok = DeviceIoControl(hub, code, buffer, size, buffer, size, &bytes, nullptr);
    if (returned != nullptr) {
        *returned = bytes;
    }
    return ok != FALSE;
}

// Reads string descriptor `index` of the device on `port` into `out`; `out` is left as it
// was when the request fails.
bool getStringDescriptor(HANDLE hub, std::wstring& out, ULONG port, UCHAR index) {
    alignas(8) unsigned char buffer[kDescriptorRequestSize] = {};
    auto* request = reinterpret_cast<USB_DESCRIPTOR_REQUEST*>(buffer);
    request->ConnectionIndex = port;
    request->SetupPacket.bmRequest = 0;
    request->SetupPacket.bRequest = 0;
    request->SetupPacket.wValue = static_cast<USHORT>((kStringDescriptorType << 8) | index);
    request->SetupPacket.wIndex = 0;
    request->SetupPacket.wLength = static_cast<USHORT>(kDescriptorDataSize);
    DWORD returned = 0;
    if (!HubRequest(hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, buffer, sizeof(buffer),
                    &returned)) {
        return false;
    }
    // The text follows bLength and bDescriptorType as UTF-16LE; take no more than the
    // descriptor says it holds and the driver actually returned.
    const unsigned char* descriptor = buffer + offsetof(USB_DESCRIPTOR_REQUEST, Data);
    const size_t header = offsetof(USB_DESCRIPTOR_REQUEST, Data);
    size_t length = descriptor[0];
    if (returned > header) {
        length = std::min(length, static_cast<size_t>(returned - header));
    }
    const size_t textBytes = length > 2 ? length - 2 : 0;
    const size_t chars = std::min(textBytes / 2, kMaxSerialChars);
    std::wstring text;
    for (size_t i = 0; i < chars; ++i) {
        const wchar_t c =
            static_cast<wchar_t>(descriptor[2 + 2 * i] | (descriptor[2 + 2 * i + 1] << 8));
        if (c == L'\0') {
            break;
        }
        text.push_back(c);
    }
    out = std::move(text);
    return true;
}

// A device node property as text, read into a zeroed buffer of `bytes` bytes.
bool ReadNodeText(DEVINST node, ULONG property, size_t bytes, std::wstring& text) {
    std::wstring buffer(bytes / sizeof(wchar_t), L'\0');
    ULONG length = static_cast<ULONG>(buffer.size() * sizeof(wchar_t));
    if (CM_Get_DevNode_Registry_PropertyW(node, property, nullptr, buffer.data(), &length, 0) !=
        CR_SUCCESS) {
        return false;
    }
    text.assign(buffer.c_str(), wcsnlen(buffer.c_str(), buffer.size()));
    return true;
}

// Pre-order walk of the device tree from `start` for the node whose driver key is `name`.
bool findDevNodeByDriverKey(const std::wstring& name, DEVINST start, DEVINST& found) {
    DEVINST current = start;
    for (;;) {
        std::wstring driver;
        if (ReadNodeText(current, CM_DRP_DRIVER, 200 * sizeof(wchar_t), driver) && driver == name) {
            found = current;
            return true;
        }
        DEVINST next = 0;
        if (CM_Get_Child(&next, current, 0) == CR_SUCCESS ||
            CM_Get_Sibling(&next, current, 0) == CR_SUCCESS) {
            current = next;
            continue;
        }
        for (;;) {
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, current, 0) != CR_SUCCESS) {
                return false;  // climbed above the root
            }
            current = parent;
            if (CM_Get_Sibling(&next, current, 0) == CR_SUCCESS) {
                current = next;
                break;
            }
        }
    }
}

// The device counts only when one of its first two functions is bound to WinUSB.
bool findWinUsbFunction(DEVINST child) {
    DEVINST sibling = 0;
    if (CM_Get_Sibling(&sibling, child, 0) != CR_SUCCESS) {
        return false;
    }
    std::wstring childService;
    std::wstring siblingService;
    if (!ReadNodeText(child, CM_DRP_SERVICE, 256, childService) ||
        !ReadNodeText(sibling, CM_DRP_SERVICE, 256, siblingService)) {
        return false;
    }
    return childService == L"WinUSB" || siblingService == L"WinUSB";
}

}  // namespace

bool SetupApiUsbWalk::enumerate(ZelHidDisplayList& list) const {
    DevInfoSet set(SetupDiGetClassDevsW(&kUsbHubInterfaceGuid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerateUsb - SetupDiGetClassDevs failed, error=0x%08x",
                   static_cast<unsigned>(GetLastError()));
        return false;
    }

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kUsbHubInterfaceGuid,
                                                      index, &interfaceData);
         ++index) {
        InterfaceDetail detail;
        if (!ReadInterfaceDetail(detail, set.get(), interfaceData, "enumerateUsb")) {
            continue;
        }
        const std::wstring path = detail.devicePath();

        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        if (!parseDevicePathVidPid(path, hubVid, hubPid)) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateUsb - cannot parse dev path for device ids, "
                       "it may be a root hub anyway  error=0x%08x - continuing ...",
                       static_cast<unsigned>(GetLastError()));
            continue;
        }
        if (!list.isSupportedHub(hubVid, hubPid)) {
            continue;
        }

        FileHandle hub(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        if (!hub.valid()) {
            // Taken before the path is converted, which may touch the last error.
            const DWORD error = GetLastError();
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateUsb - CreateFile(%s) failed, "
                       "error=0x%08x - continuing ...",
                       Narrow(path).c_str(), static_cast<unsigned>(error));
            continue;
        }

        USB_NODE_INFORMATION nodeInfo{};
        if (!HubRequest(hub.get(), IOCTL_USB_GET_NODE_INFORMATION, &nodeInfo, sizeof(nodeInfo))) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerate - IOCTL_USB_GET_NODE_INFORMATION failed "
                       "for Hub, error=0x%08x - continuing ...",
                       static_cast<unsigned>(GetLastError()));
            continue;
        }

        const ULONG ports = nodeInfo.u.HubInformation.HubDescriptor.bNumberOfPorts;
        for (ULONG port = 1; port <= ports; ++port) {
            alignas(8) unsigned char connectionBuffer[kConnectionInfoSize] = {};
            auto* connection =
                reinterpret_cast<USB_NODE_CONNECTION_INFORMATION_EX*>(connectionBuffer);
            connection->ConnectionIndex = port;
            if (!HubRequest(hub.get(), IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX,
                            connectionBuffer, sizeof(connectionBuffer))) {
                LogMessage(LogError,
                           "ZelHidDisplayList::enumerate - IOCTL_USB_GET_NODE_INFORMATION failed "
                           "for Hub, error=0x%08x - continuing ...",
                           static_cast<unsigned>(GetLastError()));
                continue;
            }
            const USB_DEVICE_DESCRIPTOR& device = connection->DeviceDescriptor;
            const uint16_t vid = device.idVendor;
            const uint16_t pid = device.idProduct;
            const uint16_t bcdDevice = device.bcdDevice;
            LogMessage(LogDebug, "  Port: %d - Device: %04x:%04x %04x - Connection Status = %d",
                       static_cast<int>(port), static_cast<unsigned>(vid),
                       static_cast<unsigned>(pid), static_cast<unsigned>(bcdDevice),
                       static_cast<int>(connection->ConnectionStatus));
            if (!list.isSupportedUsbDevice(vid, pid) ||
                connection->ConnectionStatus != DeviceConnected) {
                continue;
            }

            // A device without a serial number string (index 0) keeps an empty serial:
            // descriptor 0 is the language list, not text.
            std::wstring serial;
            if (device.iSerialNumber != 0 &&
                !getStringDescriptor(hub.get(), serial, port, device.iSerialNumber)) {
                LogMessage(LogError,
                           "ZelHidDisplayList::enumerate - "
                           "IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION failed for Hub, "
                           "error=0x%08x - policy is to carry on and use K52 if available ...",
                           static_cast<unsigned>(GetLastError()));
            }
            if (serial.empty()) {
                LogWriteText(LogDebug,
                             "ZelHidDisplayList::enumerate - No USB iSerialNumber string found");
            }

            alignas(8) unsigned char keyBuffer[kDriverKeySize] = {};
            auto* key = reinterpret_cast<USB_NODE_CONNECTION_DRIVERKEY_NAME*>(keyBuffer);
            key->ConnectionIndex = port;
            if (!HubRequest(hub.get(), IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, keyBuffer,
                            sizeof(keyBuffer))) {
                LogMessage(LogError,
                           "ZelHidDisplayList::enumerate - "
                           "IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME failed for Hub, "
                           "error=0x%08x - continuing ...",
                           static_cast<unsigned>(GetLastError()));
                continue;
            }
            const WCHAR* keyText = reinterpret_cast<const WCHAR*>(
                keyBuffer + offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName));
            const std::wstring driverKey(keyText, wcsnlen(keyText, kDriverKeyChars));

            DEVINST root = 0;
            DEVINST node = 0;
            DEVINST child = 0;
            if (CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
                !findDevNodeByDriverKey(driverKey, root, node) ||
                CM_Get_Child(&child, node, 0) != CR_SUCCESS || !findWinUsbFunction(child)) {
                continue;
            }

            if (serial.empty()) {
                serial = L"Unknown";
            }
            list.addZelUsbFlash(vid, pid, bcdDevice, serial, L"Not-Used");
        }
    }

    const DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) {
        return true;
    }
    LogMessage(LogError,
               "ZelHidDisplayList::enumerateUsb - SetupDiEnumDeviceInterfaces failed, "
               "error=0x%08x",
               static_cast<unsigned>(error));
    return false;
}

}  // namespace discovery_win32
