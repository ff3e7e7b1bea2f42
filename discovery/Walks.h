// The two walks of the display list over the machine's devices. The list owns the tables,
// the match, the hub placement rule and the device objects; a walk only finds candidates on
// its platform and hands them over. Each backend implements both walks (Windows: SetupAPI,
// the configuration manager and hub I/O controls; Linux: libudev over sysfs; the simulator:
// the simulated bus), and the executable gives them to the list it builds.
//
// Both walks are called only from the driver's thread, once each per run, after
// HidLib::initialise has succeeded, and never while another walk runs. They hold nothing
// between calls: every handle, enumeration and buffer taken for one device is released
// before the next device on every path.
#pragma once

class ZelHidDisplayList;

class HidWalk {
public:
    virtual ~HidWalk() = default;

    // Offers every present HID interface, in the platform's order, to
    // list.considerHidInterface: a probe handle on it (query only; opening it for reports is
    // the device object's job), its path, and a lookup of the USB hub above it that the list
    // asks only while that call runs. One interface per top-level collection: on Linux a
    // hidraw node with several collections is offered once for each, and a node is opened
    // only when a device object asks for reports.
    //
    // An interface that cannot be reached (no detail record, no probe open, no identity or
    // report descriptor) is passed over with a Debug line ending "continuing ..." and the
    // platform's error code (Windows' last error, Linux errno, the simulator's own codes).
    //
    // True when the walk reached the end of the interface set, whatever it found. False when
    // the set cannot be had or the walk stopped early: an Error line
    // "ZelHidDisplayList::enumerateHid - <call> failed, error=0x%08x" is logged first (on
    // Windows and the simulator a stop mid-walk is printed on standard output too). The
    // driver ends the run on false.
    virtual bool enumerate(ZelHidDisplayList& list) const = 0;
};

class UsbWalk {
public:
    virtual ~UsbWalk() = default;

    // For every USB hub whose ids list.isSupportedHub accepts (a root hub has no ids and is
    // passed over with a Debug line), logs one "  Port: ..." Debug line per port whose
    // request succeeds, and hands each device on it that list.isSupportedUsbDevice accepts,
    // that is connected and that has a function free for user space (Windows: bound to
    // WinUSB; Linux: an interface with no kernel driver) to list.addZelUsbFlash, with its
    // serial number text ("Unknown" when it has none) and "Not-Used".
    //
    // A hub or port that cannot be read is passed over with a line ending "continuing ...";
    // a serial number that cannot be read leaves the port in with "Unknown".
    //
    // True when the walk reached the end of the hub set; false, after an Error line
    // "ZelHidDisplayList::enumerateUsb - <call> failed, error=0x%08x", when the set cannot be
    // had or the walk stopped early. The driver ends the run on false.
    virtual bool enumerate(ZelHidDisplayList& list) const = 0;
};

// The pair an executable wires in. Both must outlive every list built with them.
struct DiscoveryWalks {
    const HidWalk& hid;
    const UsbWalk& usb;
};
