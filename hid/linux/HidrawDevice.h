// Shared by the HID table and the channel of the Linux build.
#pragma once

#include <cstdint>

#include "hid/linux/HidrawHandle.h"

namespace hidraw {

// Reads and parses the node's report descriptor once (HIDIOCGRDESCSIZE, HIDIOCGRDESC); false,
// logged under `who`, when it cannot be read or parsed.
bool LoadDescriptor(ProbeHandle& probe, const char* who);

// The errors a vanished device gives: read EIO, ENODEV after a revoke, writes and ioctls
// ENODEV, and ENXIO / ESHUTDOWN from the USB core on the way out.
bool ErrnoMeansGone(int error);

// The Windows error code the same failure gives, for the texts the user sees: the device gone
// is ERROR_DEVICE_NOT_CONNECTED, a bad request ERROR_INVALID_PARAMETER, anything else (a
// stalled or timed-out transfer) ERROR_GEN_FAILURE.
uint32_t WindowsErrorOf(int error);

}  // namespace hidraw
