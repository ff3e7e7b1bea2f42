// The USB hub walk over the kernel's device tree: every hub (a USB device of class 09), and
// for hubs in the hub table each port with what is attached to it. Devices in the USB
// device table that user space can drive are handed to the list.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "discovery/linux/LinuxWalks.h"
#include "discovery/linux/Udev.h"
#include "log/Log.h"
#include "platform/Text.h"

namespace discovery_linux {

namespace {

// The port of a USB device, from its kernel name.
int PortOf(udev_device* usbDevice) {
    const char* name = udev_device_get_sysname(usbDevice);
    return name != nullptr ? UsbPortOf(std::string(name, strnlen(name, kMaxUdevText))) : 0;
}

int ParseDecimal(const std::string& text) {
    if (text.empty() || text.size() > 3) {
        return -1;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// What Windows asks of a device bound to WinUSB: a function free for user space. Here: one of
// its first two interfaces has no kernel driver bound (or is claimed through usbfs).
bool HasUserSpaceFunction(udev* context, udev_device* usbDevice) {
    UdevEnumeratePtr enumerate(udev_enumerate_new(context));
    if (!enumerate || udev_enumerate_add_match_parent(enumerate.get(), usbDevice) < 0 ||
        udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "usb_interface") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return false;
    }
    std::vector<std::string> paths;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        paths.emplace_back(udev_list_entry_get_name(entry));
    }
    if (paths.size() < 2) {
        return false;  // as on Windows: the device's node must have two functions
    }
    for (size_t i = 0; i < 2; ++i) {
        UdevDevicePtr function(udev_device_new_from_syspath(context, paths[i].c_str()));
        if (!function) {
            return false;
        }
        const char* driver = udev_device_get_driver(function.get());
        if (driver == nullptr || std::string(driver) == "usbfs") {
            return true;
        }
    }
    return false;
}

}  // namespace

bool UsbHubWalk::enumerate(ZelHidDisplayList& list) const {
    DeviceScan scan;
    const char* failedCall = "";
    unsigned error = 0;
    if (!ScanDevices(scan, "usb", "usb_device", "bDeviceClass", "09", failedCall, error)) {
        LogMessage(LogError, "ZelHidDisplayList::enumerateUsb - %s failed, error=0x%08x",
                   failedCall, error);
        return false;
    }
    udev* context = scan.context.get();

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.enumerate.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        errno = 0;
        UdevDevicePtr hub(udev_device_new_from_syspath(context, syspath));
        if (!hub) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateUsb - udev_device_new_from_syspath(%s) "
                       "failed, error=0x%08x - continuing ...",
                       syspath != nullptr ? syspath : "", static_cast<unsigned>(errno));
            continue;
        }
        // A root hub is the host controller's own: Windows names it without ids, and it is
        // passed over here with the same line. Nothing failed, so no error is given.
        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        const bool rootHub = udev_device_get_parent_with_subsystem_devtype(hub.get(), "usb",
                                                                           "usb_device") == nullptr;
        if (rootHub || !UsbIds(hub.get(), hubVid, hubPid)) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateUsb - cannot parse dev path for device ids, "
                       "it may be a root hub anyway  error=0x%08x - continuing ...",
                       0u);
            continue;
        }
        if (!list.isSupportedHub(hubVid, hubPid)) {
            continue;
        }

        std::string portsText;
        const int ports = SysAttr(hub.get(), "maxchild", portsText) ? ParseDecimal(portsText) : -1;
        if (ports < 0) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerate - maxchild failed for Hub, error=0x%08x - "
                       "continuing ...",
                       static_cast<unsigned>(ENOENT));
            continue;
        }
        // What hangs on each port: the USB devices whose parent device is this hub.
        std::vector<UdevDevicePtr> attached(static_cast<size_t>(ports) + 1);
        UdevEnumeratePtr children(udev_enumerate_new(context));
        if (!children || udev_enumerate_add_match_parent(children.get(), hub.get()) < 0 ||
            udev_enumerate_add_match_property(children.get(), "DEVTYPE", "usb_device") < 0 ||
            udev_enumerate_scan_devices(children.get()) < 0) {
            LogMessage(LogError,
                       "ZelHidDisplayList::enumerate - udev_enumerate_scan_devices failed for "
                       "Hub, error=0x%08x - continuing ...",
                       static_cast<unsigned>(errno));
            continue;
        }
        const std::string hubPath = udev_device_get_syspath(hub.get());
        udev_list_entry* child = nullptr;
        udev_list_entry_foreach(child, udev_enumerate_get_list_entry(children.get())) {
            UdevDevicePtr device(
                udev_device_new_from_syspath(context, udev_list_entry_get_name(child)));
            if (!device) {
                continue;
            }
            udev_device* parent =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
            const char* parentPath = parent != nullptr ? udev_device_get_syspath(parent) : nullptr;
            const int port = PortOf(device.get());
            if (parentPath != nullptr && hubPath == parentPath && port >= 1 && port <= ports) {
                attached[static_cast<size_t>(port)] = std::move(device);
            }
        }

        for (int port = 1; port <= ports; ++port) {
            udev_device* device = attached[static_cast<size_t>(port)].get();
            uint16_t vid = 0;
            uint16_t pid = 0;
            uint16_t bcdDevice = 0;
            std::string release;
            const int connected = device != nullptr ? 1 : 0;
            if (device != nullptr &&
                (!UsbIds(device, vid, pid) || !SysAttr(device, "bcdDevice", release) ||
                 !ParseHex(release, 4, bcdDevice))) {
                LogMessage(LogError,
                           "ZelHidDisplayList::enumerate - idVendor/idProduct failed for Hub, "
                           "error=0x%08x - continuing ...",
                           static_cast<unsigned>(ENOENT));
                continue;
            }
            LogMessage(LogDebug, "  Port: %d - Device: %04x:%04x %04x - Connection Status = %d",
                       port, static_cast<unsigned>(vid), static_cast<unsigned>(pid),
                       static_cast<unsigned>(bcdDevice), connected);
            if (!list.isSupportedUsbDevice(vid, pid) || connected != 1) {
                continue;
            }
            std::wstring serial;
            UsbSerial(device, serial);
            if (serial.empty()) {
                LogWriteText(LogDebug,
                             "ZelHidDisplayList::enumerate - No USB iSerialNumber string found");
            }
            if (!HasUserSpaceFunction(context, device)) {
                continue;
            }
            if (serial.empty()) {
                serial = L"Unknown";
            }
            list.addZelUsbFlash(vid, pid, bcdDevice, serial, L"Not-Used");
        }
    }
    return true;
}

}  // namespace discovery_linux
