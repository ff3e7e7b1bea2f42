// A scripted hidraw node behind the backend's system call table: a queue of input reports,
// scripts of poll and read results for the awkward cases (interrupted waits, empty wake-ups,
// hang-ups, vanished devices), answered ioctls, and a clock that moves only when a wait runs
// to its time-out.
#pragma once

#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "hid/linux/HidrawSys.h"

namespace fakehid {

inline constexpr int kDeviceFd = 100;
inline constexpr int kEventFd = 101;

struct PollStep {
    short deviceEvents = 0;
    int error = 0;  // poll fails with it (EINTR)
    int64_t elapsedMs = 0;
    bool terminate = false;  // the terminate event is readable
};

struct ReadStep {
    std::vector<uint8_t> bytes;
    int error = 0;
};

struct Node {
    std::vector<uint8_t> descriptor;
    std::deque<std::vector<uint8_t>> queue;  // input reports waiting
    std::deque<PollStep> polls;              // these first, then the queue decides
    std::deque<ReadStep> reads;              // these first, then the queue
    std::deque<int> writeErrors;             // the next writes fail with these
    int writeError = 0;                      // then every write fails with it
    int featureError = 0;                    // HIDIOCGFEATURE
    int descriptorSizeError = 0;             // HIDIOCGRDESCSIZE
    std::vector<uint8_t> featureAnswer;
    std::string unique;  // HIDIOCGRAWUNIQ

    int64_t now = 1000000;
    bool terminated = false;
    std::vector<std::vector<uint8_t>> written;
    std::vector<int> pollTimeouts;  // of polls that watched the device
    std::vector<int> closed;
    int devicePolls = 0;
};

inline Node*& Current() {
    static Node* node = nullptr;
    return node;
}

inline int Fail(int error) {
    errno = error;
    return -1;
}

inline int CopyOut(void* out, size_t room, const std::vector<uint8_t>& bytes) {
    const size_t copied = std::min(room, bytes.size());
    std::memcpy(out, bytes.data(), copied);
    return static_cast<int>(copied);
}

inline ssize_t Read(int fd, void* buffer, size_t count) {
    Node& n = *Current();
    std::vector<uint8_t> report;
    if (fd != kEventFd && !n.reads.empty()) {
        const ReadStep step = n.reads.front();
        n.reads.pop_front();
        if (step.error != 0) {
            return Fail(step.error);
        }
        report = step.bytes;
    } else if (fd != kEventFd && !n.queue.empty()) {
        report = n.queue.front();
        n.queue.pop_front();
    } else {
        return Fail(EAGAIN);
    }
    return CopyOut(buffer, count, report);
}

inline ssize_t Write(int fd, const void* buffer, size_t count) {
    Node& n = *Current();
    int error = n.writeError;
    if (fd == kEventFd) {
        n.terminated = true;
        error = 0;
    } else if (!n.writeErrors.empty()) {
        error = n.writeErrors.front();
        n.writeErrors.pop_front();
    }
    if (error != 0) {
        return Fail(error);
    }
    if (fd != kEventFd) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        n.written.emplace_back(bytes, bytes + count);
    }
    return static_cast<ssize_t>(count);
}

inline int Ioctl(int, unsigned long request, void* argument) {
    Node& n = *Current();
    const size_t size = _IOC_SIZE(request);
    const unsigned int nr = _IOC_NR(request);
    if (nr == _IOC_NR(HIDIOCGRDESCSIZE)) {
        *static_cast<int*>(argument) = static_cast<int>(n.descriptor.size());
        return n.descriptorSizeError != 0 ? Fail(n.descriptorSizeError) : 0;
    }
    if (nr == _IOC_NR(HIDIOCGRDESC)) {
        auto* d = static_cast<hidraw_report_descriptor*>(argument);
        CopyOut(d->value, d->size, n.descriptor);
        return 0;
    }
    if (nr == _IOC_NR(HIDIOCGRAWUNIQ(0))) {
        std::memset(argument, 0, size);
        return CopyOut(argument, size, {n.unique.begin(), n.unique.end()});
    }
    if (nr == _IOC_NR(HIDIOCGFEATURE(0))) {
        return n.featureError != 0 ? Fail(n.featureError)
                                   : CopyOut(argument, size, n.featureAnswer);
    }
    return Fail(ENOTTY);
}

inline int Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    Node& n = *Current();
    if (timeoutMs < 0) {
        ADD_FAILURE() << "poll without a time limit";
        n.now += int64_t{1} << 40;  // so that the test ends
        return 0;
    }
    pollfd* device = nullptr;
    pollfd* event = nullptr;
    for (nfds_t k = 0; k < count; ++k) {
        fds[k].revents = 0;
        (fds[k].fd == kEventFd ? event : device) = &fds[k];
    }
    if (event != nullptr && n.terminated) {
        event->revents = POLLIN;
        return 1;
    }
    if (device == nullptr) {  // waiting on the terminate event alone
        n.now += timeoutMs;
        return 0;
    }
    ++n.devicePolls;
    n.pollTimeouts.push_back(timeoutMs);
    PollStep step{static_cast<short>(n.queue.empty() ? 0 : POLLIN), 0,
                  n.queue.empty() ? timeoutMs : 0};
    if (!n.polls.empty()) {
        step = n.polls.front();
        n.polls.pop_front();
    }
    n.now += step.elapsedMs;
    if (step.error != 0) {
        return Fail(step.error);
    }
    if (step.terminate && event != nullptr) {
        event->revents = POLLIN;
    }
    device->revents = static_cast<short>(step.deviceEvents & (POLLIN | POLLERR | POLLHUP));
    return (device->revents != 0 ? 1 : 0) + (event != nullptr && event->revents ? 1 : 0);
}

// Installs the node's calls for the scope.
class Install {
public:
    explicit Install(Node& node)
        : previous(hidraw::SetSystemCalls(hidraw::SystemCalls{
              [](const char*, int) { return kDeviceFd; },
              [](int fd) { return Current()->closed.push_back(fd), 0; }, Read, Write, Ioctl, Poll,
              [](unsigned int, int) { return kEventFd; }, [] { return Current()->now; }})) {
        Current() = &node;
    }
    ~Install() {
        hidraw::SetSystemCalls(previous);
        Current() = nullptr;
    }
    Install(const Install&) = delete;
    Install& operator=(const Install&) = delete;

private:
    hidraw::SystemCalls previous;
};

}  // namespace fakehid
