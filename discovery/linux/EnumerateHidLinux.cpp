// The HID interface walk over the kernel's device tree: every hidraw node, one logical
// interface per top-level collection of its report descriptor (as Windows makes one device
// per collection), matched against the list's table, with the hub placement rule applied
// through the node's USB parents.
#include <cerrno>
#include <memory>
#include <string>

#include "discovery/ZelHidDisplayList.h"
#include "discovery/linux/Udev.h"
#include "hid/HidLib.h"
#include "hid/linux/HidrawHandle.h"
#include "log/Log.h"
#include "platform/Text.h"

using namespace discovery_linux;

bool ZelHidDisplayList::enumerateHid() {
    if (!HidLib::isInitialised()) {
        return false;  // the driver binds the library first; without it there is no walk
    }
    DeviceScan scan;
    const char* failedCall = "";
    unsigned error = 0;
    if (!ScanDevices(scan, "hidraw", nullptr, nullptr, nullptr, failedCall, error)) {
        LogMessage(LogError, "ZelHidDisplayList::enumerateHid - %s failed, error=0x%08x",
                   failedCall, error);
        return false;
    }

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.enumerate.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        errno = 0;
        UdevDevicePtr node(udev_device_new_from_syspath(scan.context.get(), syspath));
        if (!node) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - udev_device_new_from_syspath(%s) "
                       "failed, error=0x%08x - continuing ...",
                       syspath != nullptr ? syspath : "", static_cast<unsigned>(errno));
            continue;
        }
        const char* devnode = udev_device_get_devnode(node.get());
        const char* sysname = udev_device_get_sysname(node.get());
        if (devnode == nullptr || sysname == nullptr) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - udev_device_get_devnode(%s) failed, "
                       "error=0x%08x - continuing ...",
                       syspath != nullptr ? syspath : "", static_cast<unsigned>(ENODEV));
            continue;
        }

        std::unique_ptr<hidraw::ProbeHandle> probe = hidraw::OpenProbe(devnode);
        if (!probe) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - open(%s) failed, error=0x%08x - "
                       "continuing ...",
                       devnode, static_cast<unsigned>(errno));
            continue;
        }
        probe->sysname = sysname;
        size_t collections = 0;
        if (!hidraw::CollectionCount(*probe, collections)) {
            // What failed is logged where it failed; this marks the node as passed over.
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - report descriptor of %s not read, "
                       "error=0x%08x - continuing ...",
                       devnode, static_cast<unsigned>(errno));
            continue;
        }
        const std::wstring path = Widen(devnode);
        const auto findHub = [&node](uint16_t& hubVid, uint16_t& hubPid) {
            return FindHubAbove(node.get(), hubVid, hubPid);
        };
        for (size_t collection = 0; collection < collections; ++collection) {
            probe->collection = collection;
            considerHidInterface(hidraw::AsHidHandle(*probe), path, findHub);
        }
    }
    return true;
}
