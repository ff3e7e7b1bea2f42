// The test bed: umockdev devices laid out like the simulator's default machine, their hidraw
// nodes answered by the simulator's model; programs started while a Machine lives see it.
// Below usb1 (root hub 1d6b:0002): keyboard 046d:c31c at 1-1 (hidraw0), hub 04b3:4675 at 1-2,
// touch controller 03eb:212c at 1-2.1 (hidraw1), monitor k at 1-2.<k+2>. A second collection
// shares the monitor's node when it numbers its reports, else gets interface 1.1 and a node.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimBus.h"

namespace bed {

// umockdev records as sysfs and the udev database have them; `more`: further lines.
inline std::string Hex4(unsigned value, bool upper = false) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", value & 0xFFFF);
    return text;
}
inline std::string UsbDevice(const std::string& path, uint16_t vid, uint16_t pid, uint16_t version,
                             const std::string& deviceClass, const std::string& more = "") {
    return "P: " + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=" + Hex4(vid) +
           "/" + Hex4(pid) + "/" + Hex4(version) + "\nA: idVendor=" + Hex4(vid) +
           "\nA: idProduct=" + Hex4(pid) + "\nA: bcdDevice=" + Hex4(version) +
           "\nA: bDeviceClass=" + deviceClass + "\n" + more + "\n";
}
// Bound to `driver` (none: free for user space).
inline std::string UsbInterface(const std::string& path, int number, const std::string& driver) {
    std::string up;  // from the interface's directory to /sys
    for (char c : path) {
        up += c == '/' ? "../" : "";
    }
    return "P: " + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=" +
           (driver == "btusb" ? "e0" : "03") + "\nA: bInterfaceNumber=0" + std::to_string(number) +
           "\n" +
           (driver.empty() ? ""
                           : "E: DRIVER=" + driver + "\nL: driver=" + up + "bus/usb/drivers/" +
                                 driver + "\n") +
           "\n";
}
// A HID device below `parent`, named as the kernel names it, and its hidraw node.
inline std::string HidWithNode(const std::string& parent, uint16_t bus, uint16_t vid, uint16_t pid,
                               const std::string& uniq, const std::string& descriptorHex,
                               int hidraw, const std::string& more = "") {
    const std::string path = parent + "/" + Hex4(bus, true) + ":" + Hex4(vid, true) + ":" +
                             Hex4(pid, true) + "." + Hex4(hidraw + 1, true);
    const std::string node = "hidraw" + std::to_string(hidraw);
    const std::string minor = std::to_string(hidraw);
    return "P: " + path +
           "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=" + Hex4(bus, true) + ":0000" +
           Hex4(vid, true) + ":0000" + Hex4(pid, true) + "\nE: HID_UNIQ=" + uniq + "\n" + more +
           "H: report_descriptor=" + descriptorHex + "\n\nP: " + path + "/hidraw/" + node +
           "\nN: " + node + "=00\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + node +
           "\nE: MAJOR=240\nE: MINOR=" + minor + "\nA: dev=240:" + minor + "\n\n";
}

inline void PrependToEnvironment(const char* name, const std::string& value,
                                 const char* separator) {
    const char* old = std::getenv(name);
    setenv(name, (old != nullptr && *old != '\0' ? value + separator + old : value).c_str(), 1);
}

// Departures from the default layout, for the walks' cases.
struct Extras {
    bool virtualKeyboard = false;        // by uhid, no USB device above it; after the monitors
    bool brokenTouchDescriptor = false;  // cut in the middle of an item
    // The last monitor on Bluetooth, behind a USB dongle 0a12:0001 (8891, BT-DONGLE-0001).
    bool bluetoothMonitor = false;
    // A numbered node's second collection sends report f0 01 before every answer.
    bool chattySecondCollection = false;
};

class Machine {
public:
    // Lays out the machine for the monitors and sets the preload for programs started later.
    explicit Machine(const std::vector<sim::SimMonitor>& monitors, const Extras& extras = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The reports the handlers saw, in the simulator's transcript line format.
    std::vector<std::string> transcript() const;
    // "/dev/hidraw<n>=<times opened> " for each node that is (or is not) a monitor's video
    // controller, in node order.
    std::string opens(bool monitors) const;

    struct Node;

private:
    bool add(const std::string& text, std::unique_ptr<Node> node = nullptr);
    bool addHid(const std::string& parent, std::unique_ptr<Node> node, const std::string& more);

    struct Testbed;
    std::unique_ptr<Testbed> testbed_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::string error_;
};

// The run lock is one file for the whole machine, in /run: each test process gets a /run
// of its own (a tmpfs in its own mount namespace) so that runs elsewhere do not meet it.
class PrivateRun : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(unshare(CLONE_NEWNS), 0) << "needs root: " << std::strerror(errno);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0)
            << std::strerror(errno);
        ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755"), 0)
            << std::strerror(errno);
        ASSERT_EQ(mkdir("/run/lock", 0), 0) << std::strerror(errno);
        ASSERT_EQ(chmod("/run/lock", 01777), 0) << std::strerror(errno);
    }
};

}  // namespace bed
