// Shared by the HID table, the channel and the walk of the Linux build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hid/linux/HidrawHandle.h"

namespace hidraw {

// Reads and parses the node's report descriptor once (HIDIOCGRDESCSIZE, HIDIOCGRDESC); false,
// logged under `who`, when it cannot be read or parsed.
bool LoadDescriptor(ProbeHandle& probe, const char* who);

// The errors a vanished device gives: read EIO, ENODEV after a revoke, writes and ioctls
// ENODEV, and ENXIO / ESHUTDOWN from the USB core on the way out. EIO says so only from a
// read (and the flush, which reads): from a write or an ioctl it can be one failed transfer
// of a Bluetooth or I2C device that is still there.
bool ErrnoMeansGone(int error, bool fromRead);

// The Windows error code the same failure gives, for the texts the user sees: the device gone
// is ERROR_DEVICE_NOT_CONNECTED, a bad request ERROR_INVALID_PARAMETER, anything else (a
// stalled or timed-out transfer) ERROR_GEN_FAILURE.
uint32_t WindowsErrorOf(int error, bool fromRead);

// The device path of one top-level collection of a node, as the walk hands it on and the
// channel opens it: the node itself when it has one collection, else the node and "&colNN"
// (from 01), as Windows names the collections of one device.
std::wstring CollectionPath(const std::string& devnode, size_t collection, size_t collections);
// The reverse: the node and the collection index; a path without such a suffix (two to five
// digits, from 01) is the node itself, collection 0.
void SplitCollectionPath(const std::string& path, std::string& devnode, size_t& collection);

}  // namespace hidraw
