#include "discovery/ZelHidDisplayList.h"

#include <utility>

#include "devices/KemoUSBTouchFlash.h"
#include "devices/KemoVideoFlash.h"
#include "hid/HidLib.h"
#include "log/Log.h"

namespace {

constexpr uint16_t kVideoVid = 0x0F66;
constexpr uint16_t kVideoPid = 0x302C;
constexpr uint16_t kTouchVid = 0x03EB;
constexpr uint16_t kTouchPid = 0x212C;

constexpr uint16_t kPlacedVid = 0x04E7;
constexpr uint16_t kPlacedPid = 0x0030;
constexpr uint16_t kPlacementHubVid = 0x04B3;
constexpr uint16_t kPlacementHubPid = 0x4675;

// Released through the bound library, and only when the library handed one out.
class PreparsedData {
public:
    PreparsedData() = default;
    ~PreparsedData() {
        if (data != nullptr) {
            HidLib::functions().HidD_FreePreparsedData(data);
        }
    }
    PreparsedData(const PreparsedData&) = delete;
    PreparsedData& operator=(const PreparsedData&) = delete;

    HidPreparsedData* out() { return &data; }
    HidPreparsedData get() const { return data; }

private:
    HidPreparsedData data = nullptr;
};

// Only the video controller gets a device object; other matched interfaces have none.
std::unique_ptr<ZelHidFlash> createHidFlash(HidHandle probeHandle) {
    HidAttributes attributes{};
    attributes.Size = sizeof(attributes);
    if (!HidLib::functions().HidD_GetAttributes(probeHandle, &attributes)) {
        return nullptr;
    }
    if (attributes.VendorID == kVideoVid && attributes.ProductID == kVideoPid) {
        return std::make_unique<KemoVideoFlash>();
    }
    return nullptr;
}

std::unique_ptr<ZelUsbFlash> createUsbFlash(uint16_t vid, uint16_t pid) {
    if (vid == kTouchVid && pid == kTouchPid) {
        return std::make_unique<KemoUSBTouchFlash>();
    }
    return nullptr;
}

bool Contains(const std::vector<UsbDeviceId>& table, uint16_t vid, uint16_t pid) {
    for (const UsbDeviceId& entry : table) {
        if (entry.vid == vid && entry.pid == pid) {
            return true;
        }
    }
    return false;
}

// Takes the pointers out first, so the list is already empty while the objects go.
template <typename Device>
void DeleteAll(std::vector<Device*>& devices) {
    std::vector<Device*> doomed;
    doomed.swap(devices);
    for (Device* device : doomed) {
        delete device;  // null is fine
    }
}

}  // namespace

SupportedIds ZelHidDisplayList::productIds() {
    SupportedIds ids;
    ids.hidInterfaceIds = {
        {kVideoVid, kVideoPid, 0xFF45, 0xA000},
        {kTouchVid, kTouchPid, 0xFF00, 0x0001},
    };
    return ids;
}

ZelHidDisplayList::ZelHidDisplayList(const DiscoveryWalks& walks, SupportedIds ids)
    : walks_(walks), supportedIds_(std::move(ids)) {
    LogWriteText(LogDebug, "ZelHidDisplayList Constructed");
}

ZelHidDisplayList::~ZelHidDisplayList() {
    clear();
    LogWriteText(LogDebug, "ZelHidDisplayList Destroyed");
}

void ZelHidDisplayList::clear() {
    LogWriteText(LogDebug, "ZelHidDisplayList::clear()");
    DeleteAll(hidDevices_);
    DeleteAll(usbDevices_);
}

bool ZelHidDisplayList::enumerateHid() {
    return HidLib::isInitialised() && walks_.hid.enumerate(*this);
}

bool ZelHidDisplayList::enumerateUsb() {
    return walks_.usb.enumerate(*this);
}

bool ZelHidDisplayList::addZelHidFlash(HidHandle probeHandle, HidPreparsedData preparsedData,
                                       const std::wstring& devicePath) {
    LogWriteText(LogDebug, "ZelHidDisplayList::addZelHidFlash");
    std::unique_ptr<ZelHidFlash> device = createHidFlash(probeHandle);
    if (!device || !device->initialise(probeHandle, preparsedData, devicePath)) {
        return false;
    }
    hidDevices_.reserve(hidDevices_.size() + 1);  // so that the hand-over below cannot fail
    hidDevices_.push_back(device.release());
    return true;
}

void ZelHidDisplayList::considerHidInterface(HidHandle probeHandle, const std::wstring& devicePath,
                                             const HubLookup& findHub) {
    const HidFunctions& hid = HidLib::functions();
    PreparsedData preparsed;
    const bool havePreparsed =
        hid.HidD_GetPreparsedData(probeHandle, preparsed.out()) && preparsed.get() != nullptr;
    HidAttributes attributes{};
    attributes.Size = sizeof(attributes);
    const bool haveAttributes = hid.HidD_GetAttributes(probeHandle, &attributes);
    if (!havePreparsed || !haveAttributes) {
        return;
    }
    HidCaps caps{};
    if (hid.HidP_GetCaps(preparsed.get(), &caps) != kHidpStatusSuccess) {
        return;
    }
    const uint16_t vid = attributes.VendorID;
    const uint16_t pid = attributes.ProductID;
    if (!matchHidInterface(vid, pid, caps.UsagePage, caps.Usage)) {
        return;
    }
    if (hubPlacementRuleApplies(vid, pid)) {
        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        const bool hubFound = findHub(hubVid, hubPid);
        if (!hubPlacementAccepts(vid, pid, hubFound, hubVid, hubPid)) {
            return;
        }
    }
    addZelHidFlash(probeHandle, preparsed.get(), devicePath);
}

bool ZelHidDisplayList::addZelUsbFlash(uint16_t vid, uint16_t pid, uint16_t bcdDevice,
                                       std::wstring serial, std::wstring second) {
    LogWriteText(LogDebug, "ZelHidDisplayList::addZelUsbFlash");
    std::unique_ptr<ZelUsbFlash> device = createUsbFlash(vid, pid);
    if (!device || !device->initialise(vid, pid, bcdDevice, std::move(serial), std::move(second))) {
        return false;
    }
    usbDevices_.reserve(usbDevices_.size() + 1);  // so that the hand-over below cannot fail
    usbDevices_.push_back(device.release());
    return true;
}

int ZelHidDisplayList::getAllFirmwareLevels(std::vector<DeviceLevels>& result) {
    // A device that could not report keeps its record as it left it; the listing shows it.
    for (ZelHidFlash* device : hidDevices_) {
        DeviceLevels record;
        device->getFirmwareLevels(record);
        result.push_back(record);
    }
    for (ZelUsbFlash* device : usbDevices_) {
        DeviceLevels record;
        device->getFirmwareLevels(record);
        result.push_back(record);
    }
    if (!result.empty()) {
        return 0;
    }
    LogMessage(LogError, "ZelHidDisplayList::getAllFirmwareLevels() dspcode=%d", kDspCodeNoDevice);
    return kDspCodeNoDevice;
}

bool ZelHidDisplayList::matchHidInterface(uint16_t vid, uint16_t pid, uint16_t usagePage,
                                          uint16_t usage) const {
    for (const HidInterfaceId& entry : supportedIds_.hidInterfaceIds) {
        if (entry.vid == vid && entry.pid == pid && entry.usagePage == usagePage &&
            entry.usage == usage) {
            LogMessage(LogDebug,
                       "ZelHidDisplayList::enumerateHid - found supported flash chip - "
                       "vid=0x%04x, pid=0x%04x, usage page=0x%04x, usage=0x%04x",
                       static_cast<unsigned>(vid), static_cast<unsigned>(pid),
                       static_cast<unsigned>(usagePage), static_cast<unsigned>(usage));
            return true;
        }
    }
    return false;
}

bool ZelHidDisplayList::isSupportedHub(uint16_t vid, uint16_t pid) const {
    return Contains(supportedIds_.hubIds, vid, pid);
}

bool ZelHidDisplayList::isSupportedUsbDevice(uint16_t vid, uint16_t pid) const {
    return Contains(supportedIds_.usbDeviceIds, vid, pid);
}

bool hubPlacementRuleApplies(uint16_t vid, uint16_t pid) {
    return vid == kPlacedVid && pid == kPlacedPid;
}

bool hubPlacementAccepts(uint16_t vid, uint16_t pid, bool hubFound, uint16_t hubVid,
                         uint16_t hubPid) {
    if (!hubPlacementRuleApplies(vid, pid)) {
        return true;
    }
    return hubFound && hubVid == kPlacementHubVid && hubPid == kPlacementHubPid;
}
