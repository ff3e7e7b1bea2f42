#include "hid/HidLib.h"

#include "log/Log.h"

namespace {

bool g_initialised = false;
HidFunctions g_table{};

}  // namespace

bool HidLib::initialise() {
    if (!g_initialised) {
        HidFunctions table{};
        if (!HidBindFunctions(table)) {
            return false;  // no pointer into a library that failed survives
        }
        g_table = table;
        g_initialised = true;
    }
    LogMessage(LogDebug, "HidLib::initialise - hid library ready");
    return true;
}

bool HidLib::isInitialised() {
    return g_initialised;
}

const HidFunctions& HidLib::functions() {
    return g_table;
}

void HidLib::forget() {
    g_initialised = false;
    g_table = HidFunctions{};
}
