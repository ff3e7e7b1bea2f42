// The HID class library's table over hidraw. A HidHandle is a hidraw::HidrawNode*; the
// preparsed data is our own block holding one top-level collection of the node's report
// descriptor. Failures leave errno set, as GetLastError is on Windows, and log the Linux call.
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "discovery/linux/Udev.h"
#include "hid/HidLib.h"
#include "hid/ReportDescriptor.h"
#include "hid/linux/HidrawNode.h"
#include "hid/linux/HidrawSys.h"
#include "log/Log.h"
#include "platform/Text.h"

namespace hidraw {

HidrawNode::HidrawNode() = default;
HidrawNode::HidrawNode(const std::string& node) : devnode(node) {
    const size_t slash = node.rfind('/');
    sysname = slash == std::string::npos ? node : node.substr(slash + 1);
}
HidrawNode::~HidrawNode() = default;

bool OpenNode(HidrawNode& node, const char* who) {
    if (node.fd.held()) {
        return true;
    }
    const int fd = Sys().open(node.devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        LogMessage(LogDebug, "%s - open(%s) failed, error=0x%08x", who, node.devnode.c_str(),
                   static_cast<uint32_t>(error));
        errno = error;
        return false;
    }
    node.fd.reset(fd);
    return true;
}

bool EnsureOpen(HidrawNode& node, const char* who) {
    if (node.fd.held()) {
        return true;
    }
    if (!node.openOnDemand) {
        errno = EBADF;  // closed for good (a channel after terminate)
        return false;
    }
    return OpenNode(node, who);
}

bool Identify(HidrawNode& probe, const char* who) {
    if (probe.identityKnown) {
        return true;
    }
    if (!EnsureOpen(probe, who)) {
        return false;
    }
    hidraw_devinfo info{};
    if (Sys().ioctl(probe.fd.get(), HIDIOCGRAWINFO, &info) < 0) {
        const int error = errno;
        LogMessage(LogDebug, "%s - ioctl(%s, HIDIOCGRAWINFO) failed, error=0x%08x", who,
                   probe.devnode.c_str(), static_cast<uint32_t>(error));
        errno = error;
        return false;
    }
    probe.bus = info.bustype;
    probe.vendor = static_cast<uint16_t>(info.vendor);
    probe.product = static_cast<uint16_t>(info.product);
    probe.identityKnown = true;
    return true;
}

bool LoadDescriptor(HidrawNode& probe, const char* who) {
    if (probe.descriptor) {
        return true;
    }
    if (!EnsureOpen(probe, who)) {
        return false;
    }
    int size = 0;
    if (Sys().ioctl(probe.fd.get(), HIDIOCGRDESCSIZE, &size) < 0) {
        const int error = errno;
        LogMessage(LogDebug, "%s - ioctl(%s, HIDIOCGRDESCSIZE) failed, error=0x%08x", who,
                   probe.devnode.c_str(), static_cast<uint32_t>(error));
        errno = error;
        return false;
    }
    if (size <= 0 || static_cast<size_t>(size) > kMaxDescriptorBytes) {
        LogMessage(LogDebug, "%s - %s: report descriptor of %d bytes refused", who,
                   probe.devnode.c_str(), size);
        errno = EINVAL;
        return false;
    }
    auto raw = std::make_unique<hidraw_report_descriptor>();
    std::memset(raw.get(), 0, sizeof(hidraw_report_descriptor));
    raw->size = static_cast<uint32_t>(size);
    if (Sys().ioctl(probe.fd.get(), HIDIOCGRDESC, raw.get()) < 0) {
        const int error = errno;
        LogMessage(LogDebug, "%s - ioctl(%s, HIDIOCGRDESC) failed, error=0x%08x", who,
                   probe.devnode.c_str(), static_cast<uint32_t>(error));
        errno = error;
        return false;
    }
    auto parsed = std::make_shared<ParsedDescriptor>();
    std::string why;
    const size_t length = std::min<size_t>(raw->size, static_cast<size_t>(size));
    if (!ParseReportDescriptor(raw->value, length, *parsed, why)) {
        LogMessage(LogDebug, "%s - %s: report descriptor refused, %s", who, probe.devnode.c_str(),
                   why.c_str());
        errno = EINVAL;
        return false;
    }
    probe.descriptor = std::move(parsed);
    return true;
}

bool ErrnoMeansGone(int error, bool fromRead) {
    return error == ENODEV || error == ENXIO || error == ESHUTDOWN || (fromRead && error == EIO);
}

uint32_t WindowsErrorOf(int error, bool fromRead) {
    if (ErrnoMeansGone(error, fromRead)) {
        return kErrorDeviceNotConnected;
    }
    switch (error) {
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOENT:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        default:
            return kErrorGenFailure;
    }
}

namespace {
constexpr char kCollectionMark[] = "&col";
constexpr size_t kCollectionMarkLength = sizeof kCollectionMark - 1;
}  // namespace

std::wstring CollectionPath(const std::string& devnode, size_t collection, size_t collections) {
    std::string path = devnode;
    if (collections > 1) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%s%02zu", kCollectionMark, collection + 1);
        path += suffix;
    }
    return std::wstring(path.begin(), path.end());  // device nodes are ASCII
}

void SplitCollectionPath(const std::string& path, std::string& devnode, size_t& collection) {
    devnode = path;
    collection = 0;
    const size_t mark = path.rfind(kCollectionMark);
    if (mark == std::string::npos) {
        return;
    }
    const std::string digits = path.substr(mark + kCollectionMarkLength);
    if (digits.size() < 2 || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return;  // part of the node's name
    }
    const size_t number = std::stoul(digits);
    if (number == 0) {
        return;
    }
    devnode = path.substr(0, mark);
    collection = number - 1;
}

}  // namespace hidraw

namespace {

using hidraw::HidrawNode;
using hidraw::Sys;

// The caller's copy of one collection's caps: valid until HidD_FreePreparsedData, whatever
// happens to the handle it came from.
struct PreparsedBlock {
    std::shared_ptr<const hidraw::ParsedDescriptor> descriptor;
    size_t collection = 0;

    const hidraw::CollectionCaps& caps() const { return descriptor->collections[collection]; }
};

// Every block handed out, so that a pointer the table did not issue is refused rather than
// followed.
std::mutex g_blocksLock;
std::vector<std::unique_ptr<PreparsedBlock>> g_blocks;

HidBoolean Fail(int error) {
    errno = error;
    return 0;
}

HidrawNode* NodeOf(HidHandle handle) {
    if (handle == nullptr || handle == InvalidHidHandle()) {
        errno = EBADF;
        return nullptr;
    }
    auto* probe = static_cast<HidrawNode*>(handle);
    if (!probe->fd.held() && !probe->openOnDemand) {
        errno = EBADF;
        return nullptr;
    }
    return probe;
}

const PreparsedBlock* Block(HidPreparsedData preparsed) {
    const std::lock_guard<std::mutex> hold(g_blocksLock);
    for (const auto& block : g_blocks) {
        if (block.get() == preparsed) {
            return block.get();
        }
    }
    return nullptr;
}

using discovery_linux::UdevDevicePtr;
using discovery_linux::UdevPtr;

// The node's udev device; parents asked of it are owned by it.
struct NodeInfo {
    UdevPtr context;
    UdevDevicePtr node;
    bool onUsb = false;

    bool open(HidrawNode& probe, const char* who) {
        // Only a USB device speaks through the USB device above it: a Bluetooth or I2C device
        // behind a USB dongle or bridge has its own identity, not the dongle's.
        onUsb = hidraw::Identify(probe, who) && probe.bus == hidraw::kBusUsb;
        context.reset(udev_new());
        if (!context) {
            const int error = errno;
            LogMessage(LogDebug, "%s - udev_new failed, error=0x%08x", who,
                       static_cast<uint32_t>(error));
            return false;
        }
        node.reset(
            udev_device_new_from_subsystem_sysname(context.get(), "hidraw", probe.sysname.c_str()));
        if (!node) {
            const int error = errno;
            LogMessage(LogDebug,
                       "%s - udev_device_new_from_subsystem_sysname(%s) failed, error=0x%08x", who,
                       probe.sysname.c_str(), static_cast<uint32_t>(error));
            return false;
        }
        return true;
    }
    udev_device* usbDevice() const {
        return onUsb
                   ? udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_device")
                   : nullptr;
    }
    udev_device* hidDevice() const {
        return udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
    }
};

void HID_API LinuxGetHidGuid(HidGuid* guid) {
    // The value Windows uses for its HID interface class; nothing on Linux depends on it.
    *guid = HidGuid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

HidBoolean HID_API LinuxGetPreparsedData(HidHandle device, HidPreparsedData* preparsed) {
    HidrawNode* probe = NodeOf(device);
    if (probe == nullptr || preparsed == nullptr) {
        return Fail(probe == nullptr ? EBADF : EINVAL);
    }
    if (!hidraw::LoadDescriptor(*probe, "HidLib::HidD_GetPreparsedData")) {
        return 0;
    }
    if (probe->collection >= probe->descriptor->collections.size()) {
        return Fail(EINVAL);
    }
    auto block = std::make_unique<PreparsedBlock>();
    block->descriptor = probe->descriptor;
    block->collection = probe->collection;
    *preparsed = block.get();
    const std::lock_guard<std::mutex> hold(g_blocksLock);
    g_blocks.push_back(std::move(block));
    return 1;
}

HidBoolean HID_API LinuxFreePreparsedData(HidPreparsedData preparsed) {
    const std::lock_guard<std::mutex> hold(g_blocksLock);
    for (auto it = g_blocks.begin(); it != g_blocks.end(); ++it) {
        if (it->get() == preparsed) {
            g_blocks.erase(it);
            return 1;
        }
    }
    return Fail(EINVAL);
}

HidBoolean HID_API LinuxGetAttributes(HidHandle device, HidAttributes* attributes) {
    HidrawNode* probe = NodeOf(device);
    if (probe == nullptr || attributes == nullptr) {
        return Fail(probe == nullptr ? EBADF : EINVAL);
    }
    if (!hidraw::Identify(*probe, "HidLib::HidD_GetAttributes")) {
        return 0;
    }
    attributes->Size = sizeof(HidAttributes);
    attributes->VendorID = probe->vendor;
    attributes->ProductID = probe->product;
    // The release number is the USB device's; a device on another bus has none.
    attributes->VersionNumber = 0;
    NodeInfo node;
    if (node.open(*probe, "HidLib::HidD_GetAttributes")) {
        if (udev_device* usb = node.usbDevice()) {
            // Four digits, as sysfs writes it and as the USB walk reads it.
            std::string release;
            uint16_t version = 0;
            if (discovery_linux::SysAttr(usb, "bcdDevice", release) &&
                discovery_linux::ParseHex(release, 4, version)) {
                attributes->VersionNumber = version;
            }
        }
    }
    return 1;
}

// Reads and drops every input report waiting on the descriptor. Bounded, so that a node that
// never runs dry cannot hold the program here.
HidBoolean HID_API LinuxFlushQueue(HidHandle device) {
    HidrawNode* probe = NodeOf(device);
    if (probe == nullptr || !hidraw::EnsureOpen(*probe, "HidLib::HidD_FlushQueue")) {
        return 0;
    }
    constexpr int kMaxReports = 4096;
    constexpr size_t kLargestReport = 16384;  // the kernel's HID_MAX_BUFFER_SIZE
    std::vector<uint8_t> scratch(kLargestReport);
    for (int k = 0; k < kMaxReports; ++k) {
        const ssize_t n = Sys().read(probe->fd.get(), scratch.data(), scratch.size());
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return 1;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return 1;
        }
        LogMessage(LogDebug, "HidLib::HidD_FlushQueue - read(%s) failed, error=0x%08x",
                   probe->devnode.c_str(), static_cast<uint32_t>(error));
        return Fail(error);
    }
    return 1;
}

HidBoolean HID_API LinuxSetNumInputBuffers(HidHandle device, uint32_t) {
    // The kernel keeps 64 reports per open file; there is nothing to set.
    return NodeOf(device) == nullptr ? HidBoolean{0} : HidBoolean{1};
}

// The serial as the USB device reports it, else the HID device's unique id (the same string
// for USB, the only one for other buses).
bool SerialOf(HidrawNode& probe, std::string& serial) {
    NodeInfo node;
    if (node.open(probe, "HidLib::HidD_GetSerialNumberString")) {
        if (udev_device* usb = node.usbDevice()) {
            if (const char* text = udev_device_get_sysattr_value(usb, "serial")) {
                serial = text;
                return true;
            }
        }
        if (udev_device* hid = node.hidDevice()) {
            if (const char* text = udev_device_get_property_value(hid, "HID_UNIQ")) {
                serial = text;
                return true;
            }
        }
    }
    if (!hidraw::EnsureOpen(probe, "HidLib::HidD_GetSerialNumberString")) {
        return false;
    }
    char unique[64] = {};
    if (Sys().ioctl(probe.fd.get(), HIDIOCGRAWUNIQ(sizeof unique), unique) < 0) {
        const int error = errno;
        LogMessage(LogDebug,
                   "HidLib::HidD_GetSerialNumberString - ioctl(%s, HIDIOCGRAWUNIQ) failed, "
                   "error=0x%08x",
                   probe.devnode.c_str(), static_cast<uint32_t>(error));
        errno = error;
        return false;
    }
    unique[sizeof unique - 1] = '\0';
    serial = unique;
    return true;
}

HidBoolean HID_API LinuxGetSerialNumberString(HidHandle device, void* buffer, uint32_t length) {
    HidrawNode* probe = NodeOf(device);
    if (probe == nullptr) {
        return 0;
    }
    std::string serial;
    if (!SerialOf(*probe, serial)) {
        return 0;
    }
    // sysfs ends its attributes with a newline.
    while (!serial.empty() && (serial.back() == '\n' || serial.back() == '\r')) {
        serial.pop_back();
    }
    std::u16string units = Utf8ToUtf16(serial);
    units.push_back(u'\0');
    // The whole string and its terminator, or nothing, as Windows has it.
    if (buffer == nullptr || units.size() * 2 > length) {
        return Fail(EINVAL);
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (size_t k = 0; k < units.size(); ++k) {
        bytes[2 * k] = static_cast<uint8_t>(units[k] & 0xFF);
        bytes[2 * k + 1] = static_cast<uint8_t>(units[k] >> 8);
    }
    return 1;
}

// The ioctl size field holds 14 bits.
constexpr uint32_t kMaxIoctlLength = (1u << _IOC_SIZEBITS) - 1;

bool ReportBufferFits(const void* buffer, uint32_t length) {
    return buffer != nullptr && length != 0 && length <= kMaxIoctlLength;
}

// One report request on the node; a refusal is logged naming the library call and the request.
HidBoolean ReportIoctl(const HidrawNode& probe, unsigned long request, void* buffer,
                       uint32_t length, const char* call, const char* requestName) {
    if (Sys().ioctl(probe.fd.get(), request, buffer) < 0) {
        const int error = errno;
        LogMessage(LogDebug, "HidLib::%s - ioctl(%s, %s(%u)) failed, error=0x%08x", call,
                   probe.devnode.c_str(), requestName, length, static_cast<uint32_t>(error));
        return Fail(error);
    }
    return 1;
}

HidBoolean HID_API LinuxGetFeature(HidHandle device, void* buffer, uint32_t length) {
    HidrawNode* probe = NodeOf(device);
    if (probe == nullptr) {
        return 0;
    }
    if (!ReportBufferFits(buffer, length)) {
        return Fail(EINVAL);
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    const uint8_t reportId = bytes[0];
    // Only a feature report the collection declares, as the Windows HID class driver has it:
    // the kernel would ask the device for any id (for id 0 of a numbered device, usbhid puts
    // the answer one byte to the right).
    if (!hidraw::LoadDescriptor(*probe, "HidLib::HidD_GetFeature")) {
        return 0;  // errno says why
    }
    const auto& collections = probe->descriptor->collections;
    const std::vector<uint8_t>* declared =
        probe->collection < collections.size()
            ? &collections[probe->collection].reportIds[kHidpFeature]
            : nullptr;
    if (declared == nullptr ||
        std::find(declared->begin(), declared->end(), reportId) == declared->end()) {
        LogMessage(LogDebug,
                   "HidLib::HidD_GetFeature - %s: no feature report %02x in collection %zu",
                   probe->devnode.c_str(), static_cast<unsigned>(reportId), probe->collection + 1);
        return Fail(EINVAL);
    }
    if (!hidraw::EnsureOpen(*probe, "HidLib::HidD_GetFeature")) {
        return 0;
    }
    // A shorter answer fills only its own bytes: the rest reads as zeros, as on Windows.
    std::memset(bytes, 0, length);
    bytes[0] = reportId;
    return ReportIoctl(*probe, HIDIOCGFEATURE(length), bytes, length, "HidD_GetFeature",
                       "HIDIOCGFEATURE");
}

HidBoolean HID_API LinuxSetOutputReport(HidHandle device, void* buffer, uint32_t length) {
    HidrawNode* probe = NodeOf(device);
    if (probe == nullptr || !hidraw::EnsureOpen(*probe, "HidLib::HidD_SetOutputReport")) {
        return 0;
    }
    if (!ReportBufferFits(buffer, length)) {
        return Fail(EINVAL);
    }
    return ReportIoctl(*probe, HIDIOCSOUTPUT(length), buffer, length, "HidD_SetOutputReport",
                       "HIDIOCSOUTPUT");
}

HidStatus HID_API LinuxGetCaps(HidPreparsedData preparsed, HidCaps* caps) {
    const PreparsedBlock* block = Block(preparsed);
    if (block == nullptr) {
        return kHidpStatusInvalidPreparsedData;
    }
    return hidraw::FillCaps(block->caps(), caps);
}

HidStatus HID_API LinuxGetValueCaps(int reportType, HidValueCaps* valueCaps, uint16_t* length,
                                    HidPreparsedData preparsed) {
    const PreparsedBlock* block = Block(preparsed);
    if (block == nullptr) {
        return kHidpStatusInvalidPreparsedData;
    }
    return hidraw::FillValueCaps(block->caps(), reportType, valueCaps, length);
}

}  // namespace

bool HidBindFunctions(HidFunctions& table) {
    table.HidD_GetHidGuid = LinuxGetHidGuid;
    table.HidD_GetPreparsedData = LinuxGetPreparsedData;
    table.HidD_FreePreparsedData = LinuxFreePreparsedData;
    table.HidD_GetAttributes = LinuxGetAttributes;
    table.HidD_FlushQueue = LinuxFlushQueue;
    table.HidD_SetNumInputBuffers = LinuxSetNumInputBuffers;
    table.HidD_GetSerialNumberString = LinuxGetSerialNumberString;
    table.HidD_GetFeature = LinuxGetFeature;
    table.HidD_SetOutputReport = LinuxSetOutputReport;
    table.HidP_GetCaps = LinuxGetCaps;
    table.HidP_GetValueCaps = LinuxGetValueCaps;
    return true;
}
