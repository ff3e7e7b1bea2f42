// Temporary: replaced by the table over hidraw.
#include "hid/HidLib.h"
#include "hid/linux/HidrawHandle.h"
#include "hid/linux/ReportDescriptor.h"

namespace hidraw {
ProbeHandle::ProbeHandle() = default;
ProbeHandle::~ProbeHandle() = default;
std::unique_ptr<ProbeHandle> OpenProbe(const std::string&) {
    return nullptr;
}
bool CollectionCount(ProbeHandle&, size_t&) {
    return false;
}
}  // namespace hidraw

namespace {
HidFunctions g_table{};
}
bool HidLib::initialise() {
    return false;
}
bool HidLib::isInitialised() {
    return false;
}
const HidFunctions& HidLib::functions() {
    return g_table;
}
