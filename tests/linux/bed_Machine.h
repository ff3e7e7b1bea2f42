// The test bed: a machine of emulated kernel devices (umockdev) laid out like the
// simulator's default one, whose hidraw nodes are answered by the simulator's controller
// model. Programs started by run() see it through the umockdev preload library as a real
// machine: sysfs, udev properties and /dev/hidraw* nodes.
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
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimBus.h"

namespace bed {

struct RunResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

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
    // file gives them). Construction failures are reported through ok()/error().
    explicit Machine(const std::vector<sim::SimMonitor>& monitors, const Extras& extras = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // Runs a program on the machine, in workingDirectory, with `extraEnvironment` entries
    // ("NAME=value") added; the umockdev preload and its directory are set. Waits for the
    // program to end, at most timeoutSeconds (then kills it and reports status -1).
    RunResult run(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingDirectory,
                  const std::vector<std::string>& extraEnvironment = {}, int timeoutSeconds = 240);

    // The reports the handlers saw, in the simulator's transcript line format, and how many
    // requests (ioctl, read, write) reached them.
    std::vector<std::string> transcript() const;
    uint64_t requests() const;
    // The emulated root (UMOCKDEV_DIR).
    std::string root() const;

    struct Node;

private:
    bool layOut(const std::vector<sim::SimMonitor>& monitors, const Extras& extras);
    bool addNode(const std::string& text, const std::string& devnode, int interfaceIndex,
                 uint16_t vid, uint16_t pid, std::vector<uint8_t> descriptor,
                 const std::string& name, const std::string& uniq, const std::string& phys);

    struct Testbed;
    std::unique_ptr<Testbed> testbed_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::string error_;
};

// Monitors as the simulator reads them from a state file's text; fails the calling test
// on a bad line.
std::vector<sim::SimMonitor> MonitorsFromState(const std::string& stateText);

}  // namespace bed
