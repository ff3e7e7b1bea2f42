// Owners for the libudev objects the device walks hold, and the bounded reads of the sysfs
// attributes and uevent properties they look at.
#pragma once

#include <libudev.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace discovery_linux {

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
};
struct UdevEnumerateUnref {
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
struct UdevDeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevEnumerateUnref>;
// Only for devices the walk created itself: parents handed out by
// udev_device_get_parent_with_subsystem_devtype belong to their child and are never owned.
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceUnref>;

// The devices of a subsystem, optionally of one devtype and with one sysattr value: a fresh
// libudev context and a scanned enumeration. On failure `failedCall` names the libudev call
// that failed and `error` holds its errno.
struct DeviceScan {
    UdevPtr context;
    UdevEnumeratePtr enumerate;
};
bool ScanDevices(DeviceScan& scan, const char* subsystem, const char* devtype, const char* sysattr,
                 const char* sysattrValue, const char*& failedCall, unsigned& error);

// Longest attribute or property text looked at; anything longer is not a value we know.
inline constexpr size_t kMaxUdevText = 256;

// The text of a sysfs attribute, cut at kMaxUdevText and at the first line end (sysfs
// values end in one); false when the device has no such attribute.
bool SysAttr(udev_device* device, const char* name, std::string& value);
// The same for a uevent property (HID_ID).
bool PropertyText(udev_device* device, const char* name, std::string& value);

// Exactly `digits` hexadecimal digits, as sysfs writes idVendor, idProduct, bcdDevice and
// bDeviceClass.
bool ParseHex(const std::string& text, size_t digits, uint16_t& value);

// The bytes of a binary sysfs attribute (a hid device's report_descriptor), read from the
// file itself: libudev hands attributes out as C strings, which end at the first zero byte.
// False, with errno set, when it cannot be read or holds more than `maxBytes`.
bool SysAttrBytes(udev_device* device, const char* name, size_t maxBytes,
                  std::vector<uint8_t>& bytes);

// A hid device's HID_ID property, "bus:vendor:product" in hex ("0003:00000F66:0000302C"):
// each field one to eight digits, vendor and product at most 0xFFFF (HID ids are 16 bits on
// every bus this program knows).
bool ParseHidId(const std::string& text, uint32_t& bus, uint16_t& vid, uint16_t& pid);

// The longest text a USB serial number attribute holds: 127 UTF-16 units (the kernel keeps
// what the string descriptor gives), at most three UTF-8 bytes each, four for a pair.
inline constexpr size_t kMaxSerialBytes = 127 * 3 + 1;

// A USB device's serial number attribute as wide text, decoded as the HID table decodes the
// HID walk's serials (malformed UTF-8 becomes U+FFFD) and cut, as Windows' 256-byte string
// descriptor copy cuts it, to 127 UTF-16 units without splitting a surrogate pair. False when
// the device has no such attribute.
bool UsbSerial(udev_device* usbDevice, std::wstring& serial);

// The port a USB device hangs on, from its kernel name: the last number ("1-2.3" is port 3
// of hub "1-2", "1-4" port 4 of root hub 1). 0 when the name does not end so or the number
// is no port number (1 to 255).
int UsbPortOf(const std::string& sysname);

// The USB device a device belongs to (itself when it is one), or nullptr for a device that
// is not on USB. Owned by `device`.
udev_device* UsbDeviceOf(udev_device* device);

// USB ids of a usb_device from idVendor and idProduct.
bool UsbIds(udev_device* usbDevice, uint16_t& vid, uint16_t& pid);

// A hub is a USB device of class 09.
bool IsHub(udev_device* usbDevice);

// The nearest hub at or above the USB device `device` belongs to, and its ids: what the hub
// placement rule asks about. False for a device that is not on USB (uhid, Bluetooth) or has
// no hub with readable ids above it.
bool FindHubAbove(udev_device* device, uint16_t& hubVid, uint16_t& hubPid);

}  // namespace discovery_linux
