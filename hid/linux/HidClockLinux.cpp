#include <time.h>

#include <cerrno>

#include "hid/HidClock.h"

void HidSleep(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal handled elsewhere must not shorten the device's pauses.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
