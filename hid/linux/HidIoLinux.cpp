// Temporary: replaced by the channel over hidraw.
#include "hid/HidIo.h"

struct HidIo::Impl {};
HidIo::HidIo() : impl(std::make_unique<Impl>()) {}
HidIo::~HidIo() = default;
bool HidIo::open(const std::wstring&) {
    return false;
}
void HidIo::terminate() {}
bool HidIo::flushDeviceQueue() {
    return false;
}
bool HidIo::sendOutputReport(const uint8_t*, uint32_t) {
    return false;
}
bool HidIo::recvInputReport(uint8_t*, uint32_t) {
    return false;
}
bool HidIo::getFeature(uint8_t*, uint32_t) {
    return false;
}
