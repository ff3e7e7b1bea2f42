// The walks of the Linux program: libudev over the kernel's device tree (discovery/Walks.h
// has their contract).
#pragma once

#include "discovery/Walks.h"

namespace discovery_linux {

// Every hidraw node, one interface per top-level collection of its report descriptor, all
// decided from sysfs (HID_ID and report_descriptor) so that no node is opened by the walk.
class HidrawWalk final : public HidWalk {
public:
    bool enumerate(ZelHidDisplayList& list) const override;
};

// Every USB device of class 09 (a hub), its ports read from sysfs.
class UsbHubWalk final : public UsbWalk {
public:
    bool enumerate(ZelHidDisplayList& list) const override;
};

// The pair, for the executable and the tests.
inline DiscoveryWalks Walks() {
    static const HidrawWalk hid;
    static const UsbHubWalk usb;
    return {hid, usb};
}

}  // namespace discovery_linux
