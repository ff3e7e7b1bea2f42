#include "app/HidDisplayManager.h"

#include <cassert>

#include "hid/HidLib.h"
#include "log/Log.h"

HidDisplayManager::HidDisplayManager(const DiscoveryWalks& walks) : displayList(walks) {
    LogWriteText(LogDebug, "HidDisplayManager Constructed");
}

HidDisplayManager::~HidDisplayManager() {
    LogWriteText(LogDebug, "HidDisplayManager Destroyed");
}

bool HidDisplayManager::initialise() {
    assert(!init && "init==false");
    // Stop at the first failure: the walks need the bound HID functions, and a failed walk
    // leaves no list worth running a mode on. The one log line covers all three.
    bool ok = HidLib::initialise();
    if (ok) {
        displayList.clear();
        ok = displayList.enumerateHid() && displayList.enumerateUsb();
    }
    if (!ok) {
        LogWriteText(LogError, "HidDisplayManager::initialise - HidLib::initialise failed");
        return false;
    }
    init = true;
    return true;
}
