// Pauses of the device protocol on the simulated machine: the virtual clock moves on at
// once, so an update with its eleven seconds of waits runs in no time.
#include "hid/HidClock.h"
#include "sim/SimBus.h"

void HidSleep(uint32_t milliseconds) {
    sim::SimBus::instance().clockMs += milliseconds;
}
