// The walks over the simulated machine (discovery/Walks.h has their contract). They follow
// the Windows walks step by step, with the same log lines and error codes, over
// sim::SimBus::instance().
#pragma once

#include "discovery/Walks.h"

namespace sim {

class SimHidWalk final : public HidWalk {
public:
    bool enumerate(ZelHidDisplayList& list) const override;
};

class SimUsbWalk final : public UsbWalk {
public:
    bool enumerate(ZelHidDisplayList& list) const override;
};

// The pair, for the simulator and the tests.
inline DiscoveryWalks Walks() {
    static const SimHidWalk hid;
    static const SimUsbWalk usb;
    return {hid, usb};
}

}  // namespace sim
