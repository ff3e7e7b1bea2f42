// The two walks of the display list over the simulated machine. They run the list's own
// table match, hub placement rule and factories, through the simulated HID library, and
// follow the Windows walks step by step where the simulated machine has the same step,
// with the same tests and log lines: an interface that cannot be read is passed over; a
// port counts only when connected, found in the tree by its driver key and bound to WinUSB.
#include "discovery/DeviceIdParsing.h"
#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"
#include "sim/SimBus.h"
#include "sim/SimWalks.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

// The query-only handle of the HID walk.
class Probe {
public:
    explicit Probe(int interfaceIndex) {
        sim::SimBus& bus = Bus();
        const sim::SimInterface& i = bus.interfaces[static_cast<size_t>(interfaceIndex)];
        if (i.monitor >= 0 && bus.monitors[static_cast<size_t>(i.monitor)].disconnected) {
            bus.lastError = kErrorFileNotFound;
            return;
        }
        handle = &bus.interfaces[static_cast<size_t>(interfaceIndex)];
        ++bus.openHandles;
    }
    ~Probe() {
        if (handle != nullptr) {
            --Bus().openHandles;
        }
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    HidHandle handle = nullptr;
};

// Serial number of a USB device node: the last field of its instance id, unless Windows
// made that field up (it then contains '&').
std::wstring NodeSerial(const std::wstring& instanceId) {
    const size_t slash = instanceId.rfind(L'\\');
    std::wstring serial = slash == std::wstring::npos ? L"" : instanceId.substr(slash + 1);
    return serial.find(L'&') == std::wstring::npos ? serial : L"";
}

constexpr int kDeviceConnected = 1;

// Does the device node have, among its first two functions, one bound to WinUSB?
bool HasWinUsbFunction(const sim::SimBus& bus, int node) {
    const int child = bus.firstChild(node);
    const int sibling = bus.nextSibling(child);
    if (child < 0 || sibling < 0) {
        return false;
    }
    const std::wstring& childService = bus.nodes[static_cast<size_t>(child)].service;
    const std::wstring& siblingService = bus.nodes[static_cast<size_t>(sibling)].service;
    if (childService.empty() || siblingService.empty()) {
        return false;  // a service that cannot be read fails the test
    }
    return childService == L"WinUSB" || siblingService == L"WinUSB";
}

// The port steps after the connection line, for a listed device that is connected: its
// serial number string, its driver key, its node in the tree and the WinUSB test.
void AddPortDevice(ZelHidDisplayList& list, sim::SimBus& bus, int device, uint16_t vid,
                   uint16_t pid, uint16_t bcdDevice) {
    const sim::SimNode& node = bus.nodes[static_cast<size_t>(device)];
    std::wstring serial = NodeSerial(node.instanceId);
    if (!serial.empty() && node.serialRequestFails) {
        // Requested only when the device names a serial number string.
        serial.clear();
        bus.lastError = kErrorGenFailure;
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerate - IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION "
                   "failed for Hub, error=0x%08x - policy is to carry on and use K52 if "
                   "available ...",
                   bus.lastError);
    }
    if (serial.empty()) {
        LogWriteText(LogDebug, "ZelHidDisplayList::enumerate - No USB iSerialNumber string found");
    }
    if (node.driverKeyRequestFails) {
        bus.lastError = kErrorGenFailure;
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerate - IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME "
                   "failed for Hub, error=0x%08x - continuing ...",
                   bus.lastError);
        return;
    }
    const int found = bus.findNodeByDriverKey(node.driverKey);
    if (found < 0 || !HasWinUsbFunction(bus, found)) {
        return;
    }
    if (serial.empty()) {
        serial = L"Unknown";
    }
    list.addZelUsbFlash(vid, pid, bcdDevice, serial, L"Not-Used");
}

}  // namespace

namespace sim {

bool SimHidWalk::enumerate(ZelHidDisplayList& list) const {
    SimBus& bus = Bus();
    const HidFunctions& hid = HidLib::functions();
    HidGuid guid{};
    hid.HidD_GetHidGuid(&guid);
    if (bus.hidSetError != 0) {
        bus.lastError = bus.hidSetError;
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerateHid - SetupDiGetClassDevs failed, error=0x%08x",
                   bus.lastError);
        return false;
    }
    for (size_t index = 0; index < bus.interfaces.size(); ++index) {
        // The detail size query leaves ERROR_INSUFFICIENT_BUFFER behind, as on Windows.
        bus.lastError = kErrorInsufficientBuffer;
        const std::wstring path = bus.interfaces[index].path;
        Probe probe(static_cast<int>(index));
        if (probe.handle == nullptr) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - CreateFile(%s) failed, error=0x%08x - "
                       "continuing ...",
                       Narrow(path).c_str(), bus.lastError);
            continue;
        }
        list.considerHidInterface(
            probe.handle, path, [&bus, index](uint16_t& hubVid, uint16_t& hubPid) {
                return bus.findHubAncestor(bus.interfaces[index].parentNode, hubVid, hubPid);
            });
    }
    if (bus.hidWalkError != 0) {
        bus.lastError = bus.hidWalkError;
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerateHid - SetupDiEnumDeviceInterfaces failed, "
                   "error=0x%08x",
                   bus.lastError);
        ConsolePrintf(
            "ZelHidDisplayList::enumerateHid - SetupDiEnumDeviceInterfaces failed, "
            "error=0x%08x\n",
            bus.lastError);
        return false;
    }
    bus.lastError = kErrorNoMoreItems;
    return true;
}

bool SimUsbWalk::enumerate(ZelHidDisplayList& list) const {
    SimBus& bus = Bus();
    if (bus.usbSetError != 0) {
        bus.lastError = bus.usbSetError;
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerateUsb - SetupDiGetClassDevs failed, error=0x%08x",
                   bus.lastError);
        return false;
    }
    for (size_t hub = 0; hub < bus.nodes.size(); ++hub) {
        if (!bus.nodes[hub].isHubInterface) {
            continue;
        }
        bus.lastError = kErrorInsufficientBuffer;
        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        if (!parseDevicePathVidPid(bus.nodes[hub].interfacePath, hubVid, hubPid)) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateUsb - cannot parse dev path for device ids, "
                       "it may be a root hub anyway  error=0x%08x - continuing ...",
                       bus.lastError);
            continue;
        }
        if (!list.isSupportedHub(hubVid, hubPid)) {
            continue;
        }
        // Ports from 1: the USB devices below the hub in tree order, then empty ports.
        int ports = bus.nodes[hub].ports;
        while (bus.portDevice(static_cast<int>(hub), ports + 1) >= 0) {
            ++ports;
        }
        for (int port = 1; port <= ports; ++port) {
            const int device = bus.portDevice(static_cast<int>(hub), port);
            uint16_t vid = 0;
            uint16_t pid = 0;
            uint16_t bcdDevice = 0;
            int status = 0;  // NoDeviceConnected: an empty port answers a zeroed descriptor
            if (device >= 0) {
                const sim::SimNode& node = bus.nodes[static_cast<size_t>(device)];
                if (!parseInstanceIdVidPid(node.instanceId, vid, pid)) {
                    vid = pid = 0;
                }
                bcdDevice = node.bcdDevice;
                status = node.connectionStatus;
            }
            LogMessage(LogDebug, "  Port: %d - Device: %04x:%04x %04x - Connection Status = %d",
                       port, vid, pid, bcdDevice, status);
            if (device < 0 || !list.isSupportedUsbDevice(vid, pid) || status != kDeviceConnected) {
                continue;
            }
            AddPortDevice(list, bus, device, vid, pid, bcdDevice);
        }
    }
    if (bus.usbWalkError != 0) {
        bus.lastError = bus.usbWalkError;
        LogMessage(LogError,
                   "ZelHidDisplayList::enumerateUsb - SetupDiEnumDeviceInterfaces failed, "
                   "error=0x%08x",
                   bus.lastError);
        return false;
    }
    bus.lastError = kErrorNoMoreItems;
    return true;
}

}  // namespace sim
