// Looks at the machine as a hidraw program does (libudev, then the nodes themselves) and
// prints one line per node, so the bed's own tests can check what it emulates without the
// product in between.
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "discovery/linux/Udev.h"

namespace {

std::string Attr(udev_device* d, const char* name) {
    const char* v = d != nullptr ? udev_device_get_sysattr_value(d, name) : nullptr;
    return v != nullptr ? v : "-";
}

std::string Prop(udev_device* d, const char* name) {
    const char* v = d != nullptr ? udev_device_get_property_value(d, name) : nullptr;
    return v != nullptr ? v : "-";
}

}  // namespace

int main() {
    udev* context = udev_new();
    udev_enumerate* e = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* node = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
        udev_device* hub = udev_device_get_parent_with_subsystem_devtype(usb, "usb", "usb_device");
        const char* devnode = udev_device_get_devnode(node);
        std::printf("%s hid=%s uniq=%s usb=%s:%s v%s serial=%s hub=%s:%s class=%s", devnode,
                    Prop(hid, "HID_ID").c_str(), Prop(hid, "HID_UNIQ").c_str(),
                    Attr(usb, "idVendor").c_str(), Attr(usb, "idProduct").c_str(),
                    Attr(usb, "bcdDevice").c_str(), Attr(usb, "serial").c_str(),
                    Attr(hub, "idVendor").c_str(), Attr(hub, "idProduct").c_str(),
                    Attr(hub, "bDeviceClass").c_str());
        // The hub the walk's placement rule would ask about.
        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        if (discovery_linux::FindHubAbove(node, hubVid, hubPid)) {
            std::printf(" placed=%04x:%04x", hubVid, hubPid);
        } else {
            std::printf(" placed=none");
        }
        const int fd = devnode != nullptr ? open(devnode, O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
        if (fd >= 0) {
            hidraw_devinfo info{};
            int size = 0;
            hidraw_report_descriptor descriptor{};
            char uniq[64] = {};
            unsigned char report[16] = {};
            const int infoResult = ioctl(fd, HIDIOCGRAWINFO, &info);
            const int sizeResult = ioctl(fd, HIDIOCGRDESCSIZE, &size);
            descriptor.size = static_cast<uint32_t>(size);
            const int descResult = ioctl(fd, HIDIOCGRDESC, &descriptor);
            const int uniqResult = ioctl(fd, HIDIOCGRAWUNIQ(sizeof uniq), uniq);
            errno = 0;
            const ssize_t got = read(fd, report, sizeof report);
            std::printf(" info=%d:%04x:%04x rdesc=%d/%d:%02x..%02x uniq=%d:%s read=%zd/%s",
                        infoResult, static_cast<unsigned>(info.vendor) & 0xFFFF,
                        static_cast<unsigned>(info.product) & 0xFFFF, sizeResult, size,
                        descResult == 0 ? descriptor.value[0] : 0,
                        descResult == 0 && size > 0 ? descriptor.value[size - 1] : 0, uniqResult,
                        uniq, got, std::strerror(errno));
            close(fd);
        } else {
            std::printf(" open=%s", std::strerror(errno));
        }
        std::printf("\n");
        udev_device_unref(node);
    }
    udev_enumerate_unref(e);
    udev_unref(context);
    return 0;
}
