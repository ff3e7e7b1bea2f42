// What a HidHandle points at in the Linux build: one open hidraw node, answering for one
// top-level collection of its report descriptor. The walk opens one per node and moves
// `collection` over the node's collections; HidIo opens its own for its channel. Every
// function of the HID table taking a HidHandle takes a ProbeHandle* here.
#pragma once

#include <cstddef>
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

struct ProbeHandle {
    UniqueFd fd;            // opened O_RDWR | O_NONBLOCK | O_CLOEXEC
    std::string devnode;    // "/dev/hidraw3"
    std::string sysname;    // "hidraw3": libudev finds the hid and usb parents from it
    size_t collection = 0;  // the top-level collection the caps and value caps answer for
    // The node's descriptor, read and parsed once, on first need.
    std::shared_ptr<const ParsedDescriptor> descriptor;

    ProbeHandle();
    ~ProbeHandle();
    ProbeHandle(const ProbeHandle&) = delete;
    ProbeHandle& operator=(const ProbeHandle&) = delete;
};

// Opens a node for the walk. nullptr, with errno set, when it cannot be opened.
std::unique_ptr<ProbeHandle> OpenProbe(const std::string& devnode);

// The number of top-level collections in the node's report descriptor; false (logged) when
// the descriptor cannot be read or parsed: the walk then skips the node.
bool CollectionCount(ProbeHandle& probe, size_t& count);

inline HidHandle AsHidHandle(ProbeHandle& probe) {
    return &probe;
}

}  // namespace hidraw
