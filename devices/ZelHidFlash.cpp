#include "devices/ZelHidFlash.h"

#include "log/Log.h"

ZelHidFlash::ZelHidFlash() {
    LogWriteText(LogDebug, "ZelHidFlash Constructed");
}

ZelHidFlash::~ZelHidFlash() {
    LogWriteText(LogDebug, "ZelHidFlash Destroyed");
}

bool ZelHidFlash::readCurrentConfig(std::array<uint8_t, kCfgImageSize>&) {
    return false;
}
