#include "devices/KemoUSBTouchFlash.h"

#include <utility>

#include "log/Log.h"
#include "platform/Text.h"

namespace {
// The touch controller reports a single firmware level under this name.
constexpr const wchar_t* kBaseComponentName = L"BASE";
}  // namespace

KemoUSBTouchFlash::KemoUSBTouchFlash() {
    LogWriteText(LogDebug, "KemoUSBTouchFlash Constructed");
}

KemoUSBTouchFlash::~KemoUSBTouchFlash() {
    LogWriteText(LogDebug, "KemoUSBTouchFlash Destroyed");
}

bool KemoUSBTouchFlash::initialise(uint16_t vid, uint16_t pid, uint16_t bcdLevel,
                                   std::wstring serialOrId, std::wstring secondString) {
    vendorId = vid;
    productId = pid;
    level = bcdLevel;
    id = std::move(serialOrId);
    second = std::move(secondString);
    LogMessage(LogInfo, "KemoUSBTouchFlash::initialise() - Device: %04x:%04x  serial/id=%s",
               vendorId, productId, Narrow(id).c_str());
    LogMessage(LogInfo, "KemoUSBTouchFlash::initialise() -    %s=%04x",
               Narrow(kBaseComponentName).c_str(), level);
    return true;
}

bool KemoUSBTouchFlash::getFirmwareLevels(DeviceLevels& record) {
    record.vid = vendorId;
    record.pid = productId;
    record.serial = id;
    record.components.push_back(ComponentLevel{kBaseComponentName, level});
    return true;
}

// The touch controller takes no settings: nothing is sent and no file is read.
bool KemoUSBTouchFlash::updateDevice(std::wstring /*iniPath*/) {
    return true;
}
