// One hidraw node of the Linux build, as the HID table, the channel and the walk use it.
// A HidHandle of the Linux build points at a HidrawNode: one node answering for one top-level
// collection of its report descriptor. The walk makes one per node from sysfs alone (the
// node's identity and report descriptor) and moves `collection` over the node's collections;
// the node is opened only when a question needs the device itself. The channel makes its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "hid/HidTypes.h"

namespace hidraw {

struct ParsedDescriptor;

// Owns one file descriptor; -1 when none is held.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor) : fd(descriptor) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd; }
    bool held() const { return fd >= 0; }
    int release() { return std::exchange(fd, -1); }
    void reset(int replacement = -1);  // closes through the system call seam

private:
    int fd = -1;
};

// The kernel's bus numbers (linux/input.h) that matter here.
inline constexpr uint32_t kBusUsb = 0x03;

struct HidrawNode {
    UniqueFd fd;            // opened O_RDWR | O_NONBLOCK | O_CLOEXEC, when held
    std::string devnode;    // "/dev/hidraw3"
    std::string sysname;    // "hidraw3": libudev finds the hid and usb parents from it
    size_t collection = 0;  // the top-level collection the caps and value caps answer for
    // The node's descriptor, read and parsed once, on first need (or given by the walk).
    std::shared_ptr<const ParsedDescriptor> descriptor;
    // The bus and ids (HID_ID of the hid parent, or HIDIOCGRAWINFO): known once asked, or
    // given by the walk. Only a device on USB has a USB device above it that speaks for it.
    bool identityKnown = false;
    // Made by the walk without opening the node: opened on the first question only the
    // device can answer. Otherwise a descriptor that is not held is closed for good.
    bool openOnDemand = false;
    uint32_t bus = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;

    HidrawNode();
    explicit HidrawNode(const std::string& node);  // sets devnode and sysname
    ~HidrawNode();
    HidrawNode(const HidrawNode&) = delete;
    HidrawNode& operator=(const HidrawNode&) = delete;
};

// Opens the node when it is not open yet: the one place a hidraw node is opened. False, with
// errno set and a line logged under `who`, when it cannot be opened.
bool OpenNode(HidrawNode& node, const char* who);

// True when the node is open; opens a node the walk made (openOnDemand). False, with errno
// set, when it is closed for good or cannot be opened.
bool EnsureOpen(HidrawNode& node, const char* who);

// The node's bus and ids, from HIDIOCGRAWINFO when the walk did not give them; false, with
// errno set, when they cannot be read.
bool Identify(HidrawNode& node, const char* who);

// Reads and parses the node's report descriptor once (HIDIOCGRDESCSIZE, HIDIOCGRDESC); false,
// logged under `who`, when it cannot be read or parsed.
bool LoadDescriptor(HidrawNode& node, const char* who);

inline HidHandle AsHidHandle(HidrawNode& node) {
    return &node;
}

// The errors a vanished device gives: read EIO, ENODEV after a revoke, writes and ioctls
// ENODEV, and ENXIO / ESHUTDOWN from the USB core on the way out. EIO says so only from a
// read (and the flush, which reads): from a write or an ioctl it can be one failed transfer
// of a Bluetooth or I2C device that is still there.
bool ErrnoMeansGone(int error, bool fromRead);

// The Windows error code the same failure gives, for the texts the user sees and the channel's
// rules: the device gone is ERROR_DEVICE_NOT_CONNECTED, a bad request ERROR_INVALID_PARAMETER,
// no such node ERROR_FILE_NOT_FOUND, no permission ERROR_ACCESS_DENIED, anything else (a
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
