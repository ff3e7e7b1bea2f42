#include "platform/Administrator.h"

#include <unistd.h>

// HID raw devices and the USB tree are root's business on POSIX systems.
bool IsAdministrator() {
    return geteuid() == 0;
}
