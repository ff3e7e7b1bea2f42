// What a HidHandle points at in the Linux build: one hidraw node, answering for one top-level
// collection of its report descriptor. The walk makes one per node from sysfs alone (the
// node's identity and report descriptor) and moves `collection` over the node's collections;
// it is opened only when a question needs the device itself. HidIo opens its own for its
// channel. Every function of the HID table taking a HidHandle takes a ProbeHandle* here.
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

struct ProbeHandle {
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

    ProbeHandle();
    ~ProbeHandle();
    ProbeHandle(const ProbeHandle&) = delete;
    ProbeHandle& operator=(const ProbeHandle&) = delete;
};

// Opens a node. nullptr, with errno set, when it cannot be opened.
std::unique_ptr<ProbeHandle> OpenProbe(const std::string& devnode);

// Opens the node of a probe made without opening it; true at once when it is open. False,
// with errno set and a line logged under `who`, when it cannot be opened.
bool EnsureOpen(ProbeHandle& probe, const char* who);

// The probe's bus and ids, from HIDIOCGRAWINFO when the walk did not give them; false, with
// errno set, when they cannot be read.
bool Identify(ProbeHandle& probe, const char* who);

// The number of top-level collections in the node's report descriptor (read through the
// node); false (logged) when the descriptor cannot be read or parsed.
bool CollectionCount(ProbeHandle& probe, size_t& count);

inline HidHandle AsHidHandle(ProbeHandle& probe) {
    return &probe;
}

}  // namespace hidraw
