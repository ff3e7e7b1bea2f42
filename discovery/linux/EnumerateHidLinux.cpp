// The HID interface walk over the kernel's device tree: every hidraw node, one logical
// interface per top-level collection of its report descriptor (as Windows makes one device
// per collection), matched against the list's table, with the hub placement rule applied
// through the node's USB parents. Everything the match needs comes from sysfs (the hid
// device's HID_ID and report_descriptor): a node is opened only when it matches, since
// opening a hidraw node powers the device up and starts polling it.
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "discovery/linux/LinuxWalks.h"
#include "discovery/linux/Udev.h"
#include "hid/linux/HidrawNode.h"
#include "hid/ReportDescriptor.h"
#include "log/Log.h"

namespace discovery_linux {

bool HidrawWalk::enumerate(ZelHidDisplayList& list) const {
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

        // The bus and ids, and the report descriptor, of the hid device above the node.
        udev_device* hid =
            udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
        std::string hidId;
        auto probe = std::make_unique<hidraw::HidrawNode>();
        if (hid == nullptr || !PropertyText(hid, "HID_ID", hidId) ||
            !ParseHidId(hidId, probe->bus, probe->vendor, probe->product)) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - HID_ID of %s not read, error=0x%08x - "
                       "continuing ...",
                       devnode, static_cast<unsigned>(ENOENT));
            continue;
        }
        std::vector<uint8_t> bytes;
        auto descriptor = std::make_shared<hidraw::ParsedDescriptor>();
        std::string why;
        int failure = 0;
        if (!SysAttrBytes(hid, "report_descriptor", hidraw::kMaxDescriptorBytes, bytes)) {
            failure = errno;
            LogMessage(LogDebug, "ZelHidDisplayList::enumerateHid - %s: report_descriptor not read",
                       devnode);
        } else if (!hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), *descriptor, why)) {
            failure = EINVAL;
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - %s: report descriptor refused, %s",
                       devnode, why.c_str());
        }
        if (failure != 0) {
            // What failed is logged above; this marks the node as passed over.
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - report descriptor of %s not read, "
                       "error=0x%08x - continuing ...",
                       devnode, static_cast<unsigned>(failure));
            continue;
        }
        probe->identityKnown = true;
        probe->openOnDemand = true;
        probe->devnode = devnode;
        probe->sysname = sysname;
        probe->descriptor = std::move(descriptor);
        // Only a USB device hangs below a hub: a Bluetooth or I2C device behind a USB dongle
        // or bridge is not placed by the dongle's hub.
        const bool onUsb = probe->bus == hidraw::kBusUsb;
        const auto findHub = [&node, onUsb](uint16_t& hubVid, uint16_t& hubPid) {
            return onUsb && FindHubAbove(node.get(), hubVid, hubPid);
        };
        const size_t collections = probe->descriptor->collections.size();
        for (size_t collection = 0; collection < collections; ++collection) {
            probe->collection = collection;
            list.considerHidInterface(hidraw::AsHidHandle(*probe),
                                      hidraw::CollectionPath(devnode, collection, collections),
                                      findHub);
        }
    }
    return true;
}

}  // namespace discovery_linux
