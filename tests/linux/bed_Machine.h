// The test bed: a machine of emulated kernel devices (umockdev) laid out like the
// simulator's default one, whose hidraw nodes are answered by the simulator's controller
// model. While a Machine lives, programs started with RunProcess see it through the umockdev
// preload library as a real machine: sysfs, udev properties and /dev/hidraw* nodes.
//
// Layout (syspaths below /sys/devices/pci0000:00/0000:00:14.0):
//   usb1                      root hub 1d6b:0002, class 09
//   usb1/1-1                  keyboard 046d:c31c                      -> hidraw0
//   usb1/1-2                  external hub 04b3:4675 "Generic USB Hub", class 09
//   usb1/1-2/1-2.1            touch controller 03eb:212c              -> hidraw1
//   usb1/1-2/1-2.<k+2>        monitor k (its ids, version, serial)    -> hidraw<k+2>
// Each USB device has one interface (<name>:1.0) with one HID device below it; the monitor's
// second collection, when set, is the second collection of the monitor's own descriptor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimBus.h"

namespace bed {

// Departures from the default layout, for the walks' cases.
struct Extras {
    // A keyboard made by uhid (/devices/virtual/misc/uhid/...): a hidraw node with no USB
    // device above it, numbered after the monitors.
    bool virtualKeyboard = false;
    // The touch controller's descriptor cut in the middle of an item.
    bool brokenTouchDescriptor = false;
};

class Machine {
public:
    // Lays out the machine for the monitors (their settings, faults and mode as a state
    // file gives them) and sets the preload for programs started from now on.
    explicit Machine(const std::vector<sim::SimMonitor>& monitors, const Extras& extras = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // The reports the handlers saw, in the simulator's transcript line format.
    std::vector<std::string> transcript() const;

    struct Node;

private:
    bool add(const std::string& text, std::unique_ptr<Node> node = nullptr);
    bool addUsbHid(const std::string& parent, const std::string& usbName, int interfaceIndex,
                   uint16_t vid, uint16_t pid, uint16_t version, const std::string& serial,
                   const std::string& product, std::vector<uint8_t> descriptor);

    struct Testbed;
    std::unique_ptr<Testbed> testbed_;
    std::vector<std::unique_ptr<Node>> nodes_;
    int hidraw_ = 0;
    std::string error_;
};

}  // namespace bed
