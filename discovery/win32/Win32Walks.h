// The walks of the Windows program: SetupAPI, the configuration manager and the hub I/O
// controls (discovery/Walks.h has their contract).
#pragma once

#include "discovery/Walks.h"

namespace discovery_win32 {

// The present interfaces of the HID class, probed with query-only opens.
class SetupApiHidWalk final : public HidWalk {
public:
    bool enumerate(ZelHidDisplayList& list) const override;
};

// The present USB hub interfaces, their ports read through the hub driver.
class SetupApiUsbWalk final : public UsbWalk {
public:
    bool enumerate(ZelHidDisplayList& list) const override;
};

// The pair, for the executable and the tests.
inline DiscoveryWalks Walks() {
    static const SetupApiHidWalk hid;
    static const SetupApiUsbWalk usb;
    return {hid, usb};
}

}  // namespace discovery_win32
