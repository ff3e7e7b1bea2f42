#include "discovery/linux/Udev.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace discovery_linux {

namespace {

bool Bounded(const char* text, std::string& value) {
    if (text == nullptr) {
        return false;
    }
    const size_t length = strnlen(text, kMaxUdevText);
    value.assign(text, length);
    const size_t end = value.find_first_of("\r\n");
    if (end != std::string::npos) {
        value.resize(end);
    }
    return true;
}

}  // namespace

bool ScanDevices(DeviceScan& scan, const char* subsystem, const char* devtype, const char* sysattr,
                 const char* sysattrValue, const char*& failedCall, unsigned& error) {
    // libudev returns -errno from some calls and only sets errno in others.
    auto failed = [&](const char* call, int result) {
        failedCall = call;
        error = static_cast<unsigned>(result < 0 ? -result : (errno != 0 ? errno : ENOMEM));
        return false;
    };
    errno = 0;
    scan.context.reset(udev_new());
    if (!scan.context) {
        return failed("udev_new", 0);
    }
    scan.enumerate.reset(udev_enumerate_new(scan.context.get()));
    if (!scan.enumerate) {
        return failed("udev_enumerate_new", 0);
    }
    int result = udev_enumerate_add_match_subsystem(scan.enumerate.get(), subsystem);
    if (result < 0) {
        return failed("udev_enumerate_add_match_subsystem", result);
    }
    if (devtype != nullptr) {
        result = udev_enumerate_add_match_property(scan.enumerate.get(), "DEVTYPE", devtype);
        if (result < 0) {
            return failed("udev_enumerate_add_match_property", result);
        }
    }
    if (sysattr != nullptr) {
        result = udev_enumerate_add_match_sysattr(scan.enumerate.get(), sysattr, sysattrValue);
        if (result < 0) {
            return failed("udev_enumerate_add_match_sysattr", result);
        }
    }
    result = udev_enumerate_scan_devices(scan.enumerate.get());
    if (result < 0) {
        return failed("udev_enumerate_scan_devices", result);
    }
    return true;
}

bool SysAttr(udev_device* device, const char* name, std::string& value) {
    return device != nullptr && Bounded(udev_device_get_sysattr_value(device, name), value);
}

bool PropertyText(udev_device* device, const char* name, std::string& value) {
    return device != nullptr && Bounded(udev_device_get_property_value(device, name), value);
}

bool ParseHex(const std::string& text, size_t digits, uint16_t& value) {
    if (digits == 0 || digits > 4 || text.size() != digits) {
        return false;
    }
    uint16_t result = 0;
    for (char c : text) {
        const int digit = HexDigitValue(static_cast<unsigned char>(c));
        if (digit < 0) {
            return false;
        }
        result = static_cast<uint16_t>(result * 16 + digit);
    }
    value = result;
    return true;
}

bool SysAttrBytes(udev_device* device, const char* name, size_t maxBytes,
                  std::vector<uint8_t>& bytes) {
    bytes.clear();
    const char* syspath = device != nullptr ? udev_device_get_syspath(device) : nullptr;
    if (syspath == nullptr) {
        errno = ENOENT;
        return false;
    }
    const std::string path = std::string(syspath, strnlen(syspath, 4096)) + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    // One byte more than allowed tells an attribute that is too long.
    bytes.resize(maxBytes + 1);
    size_t got = 0;
    int error = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    ::close(fd);
    if (error == 0 && got > maxBytes) {
        error = EFBIG;
    }
    if (error != 0) {
        bytes.clear();
        errno = error;
        return false;
    }
    bytes.resize(got);
    return true;
}

bool ParseHidId(const std::string& text, uint32_t& bus, uint16_t& vid, uint16_t& pid) {
    uint32_t fields[3] = {};
    size_t field = 0;
    size_t digits = 0;
    for (const char c : text) {
        if (c == ':') {
            if (digits == 0 || ++field > 2) {
                return false;
            }
            digits = 0;
            continue;
        }
        const int digitValue = HexDigitValue(static_cast<unsigned char>(c));
        if (digitValue < 0) {
            return false;
        }
        const auto digit = static_cast<uint32_t>(digitValue);
        if (++digits > 8) {
            return false;
        }
        fields[field] = fields[field] * 16 + digit;
    }
    if (field != 2 || digits == 0 || fields[1] > 0xFFFF || fields[2] > 0xFFFF) {
        return false;
    }
    bus = fields[0];
    vid = static_cast<uint16_t>(fields[1]);
    pid = static_cast<uint16_t>(fields[2]);
    return true;
}

bool UsbSerial(udev_device* usbDevice, std::wstring& serial) {
    constexpr size_t kMaxUnits = 127;
    const char* text =
        usbDevice != nullptr ? udev_device_get_sysattr_value(usbDevice, "serial") : nullptr;
    if (text == nullptr) {
        return false;
    }
    std::string value(text, strnlen(text, kMaxSerialBytes + 2));
    const size_t end = value.find_first_of("\r\n");
    if (end != std::string::npos) {
        value.resize(end);
    }
    std::u16string units = Utf8ToUtf16(value);
    if (units.size() > kMaxUnits) {
        units.resize(kMaxUnits);
        if (units.back() >= 0xD800 && units.back() <= 0xDBFF) {
            units.pop_back();  // the pair's low half is beyond the cut
        }
    }
    serial = FromUtf16(units.data(), units.size());
    return true;
}

int UsbPortOf(const std::string& sysname) {
    const size_t separator = sysname.find_last_of("-.");
    if (separator == std::string::npos || separator + 1 >= sysname.size() ||
        sysname.size() - separator - 1 > 3) {
        return 0;
    }
    int port = 0;
    for (size_t i = separator + 1; i < sysname.size(); ++i) {
        if (sysname[i] < '0' || sysname[i] > '9') {
            return 0;
        }
        port = port * 10 + (sysname[i] - '0');
    }
    return port <= 255 ? port : 0;
}

udev_device* UsbDeviceOf(udev_device* device) {
    if (device == nullptr) {
        return nullptr;
    }
    const char* subsystem = udev_device_get_subsystem(device);
    const char* devtype = udev_device_get_devtype(device);
    if (subsystem != nullptr && devtype != nullptr && std::strcmp(subsystem, "usb") == 0 &&
        std::strcmp(devtype, "usb_device") == 0) {
        return device;
    }
    return udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
}

bool UsbIds(udev_device* usbDevice, uint16_t& vid, uint16_t& pid) {
    std::string vendor;
    std::string product;
    return SysAttr(usbDevice, "idVendor", vendor) && SysAttr(usbDevice, "idProduct", product) &&
           ParseHex(vendor, 4, vid) && ParseHex(product, 4, pid);
}

bool IsHub(udev_device* usbDevice) {
    std::string text;
    uint16_t deviceClass = 0;
    return SysAttr(usbDevice, "bDeviceClass", text) && ParseHex(text, 2, deviceClass) &&
           deviceClass == 0x09;
}

bool FindHubAbove(udev_device* device, uint16_t& hubVid, uint16_t& hubPid) {
    constexpr int kMaxUsbDepth = 16;  // a USB tree is at most 7 tiers deep
    udev_device* current = UsbDeviceOf(device);
    for (int depth = 0; current != nullptr && depth < kMaxUsbDepth; ++depth) {
        if (IsHub(current)) {
            return UsbIds(current, hubVid, hubPid);
        }
        current = udev_device_get_parent_with_subsystem_devtype(current, "usb", "usb_device");
    }
    return false;
}

}  // namespace discovery_linux
