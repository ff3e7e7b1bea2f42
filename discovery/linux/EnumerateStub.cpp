// Placeholder walks, so that the Linux program links until the libudev walks land.
#include "discovery/ZelHidDisplayList.h"

bool ZelHidDisplayList::enumerateHid() {
    return true;
}

bool ZelHidDisplayList::enumerateUsb() {
    return true;
}
