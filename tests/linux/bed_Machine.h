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
//   usb1/1-2/1-2.<k+2>        monitor k (its ids, version, serial)    -> hidraw<n>
// Each USB device has one interface (<name>:1.0) with one HID device below it, numbered in
// this order. A monitor's descriptor numbers its reports as the simulated monitor does (by
// default not at all); its second collection, when set, is the second collection of that
// descriptor when it numbers its reports, and otherwise (a descriptor without ids cannot hold
// two collections that send input) a second interface (<name>:1.1) with its own HID device
// and node, right after the monitor's.
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
    // The last monitor is a Bluetooth HID device (bus 0005, its serial as HID_UNIQ) paired
    // with a USB dongle (0a12:0001, release 8891, serial BT-DONGLE-0001) on its hub port.
    bool bluetoothMonitor = false;
    // A second collection on a monitor's node (one that numbers its reports) sends an input
    // report (id f0, status 01) after every report the controller takes, before its answer.
    bool chattySecondCollection = false;
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

    // How often programs opened each hidraw node, in node order.
    struct NodeOpens {
        std::string devnode;
        bool monitor = false;  // a monitor's video controller
        int opens = 0;
    };
    std::vector<NodeOpens> opens() const;

    struct Node;

private:
    bool add(const std::string& text, std::unique_ptr<Node> node = nullptr);
    bool addUsbHid(const std::string& parent, const std::string& usbName, int interfaceIndex,
                   uint16_t vid, uint16_t pid, uint16_t version, const std::string& serial,
                   const std::string& product, std::vector<uint8_t> descriptor);
    bool addHid(const std::string& parent, std::unique_ptr<Node> node);

    struct Testbed;
    std::unique_ptr<Testbed> testbed_;
    std::vector<std::unique_ptr<Node>> nodes_;
    int hidraw_ = 0;
    std::string error_;
};

}  // namespace bed
