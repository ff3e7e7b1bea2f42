// The two walks of the display list over the simulated machine. They run the list's own
// table match, hub placement rule and factories, through the simulated HID library, and
// log the lines of the Windows walks where the simulated machine has the same step.
#include "discovery/DeviceIdParsing.h"
#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"
#include "sim/SimBus.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

// The query-only handle of the HID walk, and the preparsed data read on it.
class Probe {
public:
    explicit Probe(int interfaceIndex) {
        sim::SimBus& bus = Bus();
        const sim::SimInterface& i = bus.interfaces[static_cast<size_t>(interfaceIndex)];
        if (i.monitor >= 0 && bus.monitors[static_cast<size_t>(i.monitor)].disconnected) {
            bus.lastError = sim::kErrorFileNotFound;
            return;
        }
        handle = &bus.interfaces[static_cast<size_t>(interfaceIndex)];
        ++bus.openHandles;
    }
    ~Probe() {
        if (preparsed != nullptr) {
            HidLib::functions().HidD_FreePreparsedData(preparsed);
        }
        if (handle != nullptr) {
            --Bus().openHandles;
        }
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    HidHandle handle = nullptr;
    HidPreparsedData preparsed = nullptr;
};

// Serial number of a USB device node: the last field of its instance id, unless Windows
// made that field up (it then contains '&').
std::wstring NodeSerial(const std::wstring& instanceId) {
    const size_t slash = instanceId.rfind(L'\\');
    std::wstring serial = slash == std::wstring::npos ? L"" : instanceId.substr(slash + 1);
    return serial.find(L'&') == std::wstring::npos ? serial : L"";
}

}  // namespace

bool ZelHidDisplayList::enumerateHid() {
    sim::SimBus& bus = Bus();
    if (!HidLib::isInitialised()) {
        return false;  // the driver binds the library first; without it there is no walk
    }
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
        bus.lastError = sim::kErrorInsufficientBuffer;
        const std::wstring path = bus.interfaces[index].path;
        Probe probe(static_cast<int>(index));
        if (probe.handle == nullptr) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - CreateFile(%s) failed, error=0x%08x - "
                       "continuing ...",
                       Narrow(path).c_str(), bus.lastError);
            continue;
        }
        HidAttributes attributes{};
        attributes.Size = sizeof attributes;
        HidCaps caps{};
        hid.HidD_GetPreparsedData(probe.handle, &probe.preparsed);
        hid.HidD_GetAttributes(probe.handle, &attributes);
        if (probe.preparsed == nullptr) {
            continue;  // nothing to read the collection from
        }
        hid.HidP_GetCaps(probe.preparsed, &caps);
        if (!matchHidInterface(attributes.VendorID, attributes.ProductID, caps.UsagePage,
                               caps.Usage)) {
            continue;
        }
        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        const bool hubFound = bus.findHubAncestor(bus.interfaces[index].parentNode, hubVid, hubPid);
        if (!hubPlacementAccepts(attributes.VendorID, attributes.ProductID, hubFound, hubVid,
                                 hubPid)) {
            continue;
        }
        addZelHidFlash(probe.handle, probe.preparsed, path);
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
    bus.lastError = sim::kErrorNoMoreItems;
    return true;
}

bool ZelHidDisplayList::enumerateUsb() {
    sim::SimBus& bus = Bus();
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
        bus.lastError = sim::kErrorInsufficientBuffer;
        uint16_t vid = 0;
        uint16_t pid = 0;
        if (!parseDevicePathVidPid(bus.nodes[hub].interfacePath, vid, pid)) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateUsb - cannot parse dev path for device ids, "
                       "it may be a root hub anyway  error=0x%08x - continuing ...",
                       bus.lastError);
            continue;
        }
        if (!isSupportedHub(vid, pid)) {
            continue;
        }
        // Ports: the USB devices directly below the hub, numbered from 1 in tree order. The
        // simulated machine has no driver keys or WinUSB functions; every device counts as
        // connected, with release 0x0100.
        int port = 0;
        for (size_t child = 0; child < bus.nodes.size(); ++child) {
            const sim::SimNode& node = bus.nodes[child];
            if (node.parent != static_cast<int>(hub) || node.instanceId.rfind(L"USB\\", 0) != 0) {
                continue;
            }
            ++port;
            uint16_t deviceVid = 0;
            uint16_t devicePid = 0;
            if (!parseInstanceIdVidPid(node.instanceId, deviceVid, devicePid)) {
                continue;
            }
            const uint16_t bcdDevice = 0x0100;
            LogMessage(LogDebug, "  Port: %d - Device: %04x:%04x %04x - Connection Status = %d",
                       port, deviceVid, devicePid, bcdDevice, 1);
            if (!isSupportedUsbDevice(deviceVid, devicePid)) {
                continue;
            }
            std::wstring serial = NodeSerial(node.instanceId);
            if (serial.empty()) {
                LogWriteText(LogDebug,
                             "ZelHidDisplayList::enumerate - No USB iSerialNumber string found");
                serial = L"Unknown";
            }
            addZelUsbFlash(deviceVid, devicePid, bcdDevice, serial, L"Not-Used");
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
    bus.lastError = sim::kErrorNoMoreItems;
    return true;
}
