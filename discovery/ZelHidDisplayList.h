// The monitors found on the machine: the supported-identifier tables, the two walks, and
// ownership of every device object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceLevels.h"
#include "devices/ZelHidFlash.h"
#include "devices/ZelUsbFlash.h"
#include "discovery/Walks.h"
#include "hid/HidTypes.h"

struct HidInterfaceId {
    uint16_t vid;
    uint16_t pid;
    uint16_t usagePage;
    uint16_t usage;
};

struct UsbDeviceId {
    uint16_t vid;
    uint16_t pid;
};

struct SupportedIds {
    std::vector<HidInterfaceId> hidInterfaceIds;
    std::vector<UsbDeviceId> hubIds;
    std::vector<UsbDeviceId> usbDeviceIds;
};

inline constexpr int kDspCodeNoDevice = 5;

class ZelHidDisplayList {
public:
    // The walks are the backend's and must outlive the list. Tests give other tables than
    // the product's, for entries it does not have.
    explicit ZelHidDisplayList(const DiscoveryWalks& walks, SupportedIds ids = productIds());
    ~ZelHidDisplayList();
    ZelHidDisplayList(const ZelHidDisplayList&) = delete;
    ZelHidDisplayList& operator=(const ZelHidDisplayList&) = delete;

    void clear();
    // Run the backend's walks (discovery/Walks.h). The HID walk needs the bound HID library:
    // without it enumerateHid returns false and walks nothing.
    bool enumerateHid();
    bool enumerateUsb();

    // What every HID walk does with an interface it opened for queries: reads its preparsed
    // data, attributes and capabilities (one that cannot be read is passed over without a
    // line), matches the table, applies the hub placement rule and adds the device. findHub
    // looks for the interface's hub (false when there is none or it cannot be found); it is
    // asked only when the rule applies.
    using HubLookup = std::function<bool(uint16_t& hubVid, uint16_t& hubPid)>;
    void considerHidInterface(HidHandle probeHandle, const std::wstring& devicePath,
                              const HubLookup& findHub);
    int getAllFirmwareLevels(std::vector<DeviceLevels>& result);

    bool addZelHidFlash(HidHandle probeHandle, HidPreparsedData preparsedData,
                        const std::wstring& devicePath);
    bool addZelUsbFlash(uint16_t vid, uint16_t pid, uint16_t bcdDevice, std::wstring serial,
                        std::wstring second);

    // Shared by the walks: the first table entry matching the interface, logging the
    // "found supported flash chip" line on a match.
    bool matchHidInterface(uint16_t vid, uint16_t pid, uint16_t usagePage, uint16_t usage) const;
    bool isSupportedHub(uint16_t vid, uint16_t pid) const;
    bool isSupportedUsbDevice(uint16_t vid, uint16_t pid) const;

    const std::vector<ZelHidFlash*>& hidDevices() const { return hidDevices_; }
    // The monitor's video controller and the touch controller's HID interface; no hub and
    // no USB device.
    static SupportedIds productIds();

private:
    DiscoveryWalks walks_;
    std::vector<ZelHidFlash*> hidDevices_;  // owned; deleted through the virtual destructor
    std::vector<ZelUsbFlash*> usbDevices_;  // owned
    SupportedIds supportedIds_;
};

// The hub placement rule: an interface 0x04E7:0x0030 counts only below the hub
// 0x04B3:0x4675; every other interface is accepted without looking at its hub.
// hubFound is false when no hub ancestor could be found.
// The walks look for the hub only when the rule applies to the interface.
bool hubPlacementRuleApplies(uint16_t vid, uint16_t pid);
bool hubPlacementAccepts(uint16_t vid, uint16_t pid, bool hubFound, uint16_t hubVid,
                         uint16_t hubPid);
