#include <windows.h>

#include "hid/HidClock.h"

void HidSleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}
