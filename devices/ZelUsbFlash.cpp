#include "devices/ZelUsbFlash.h"

#include "log/Log.h"

ZelUsbFlash::ZelUsbFlash() {
    LogWriteText(LogDebug, "ZelUsbFlash Constructed");
}

ZelUsbFlash::~ZelUsbFlash() {
    LogWriteText(LogDebug, "ZelUsbFlash Destroyed");
}
