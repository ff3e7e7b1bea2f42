// The channel's transport over one hidraw descriptor: input reads, output writes and feature
// requests share it (every open file gets its own input queue, so a second descriptor would
// hold a queue nobody reads). Every bounded wait is a poll on the descriptor and an eventfd
// that cancel() signals, with the time left on the monotonic clock.
#include <fcntl.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "hid/HidLib.h"
#include "hid/HidTransport.h"
#include "hid/ReportDescriptor.h"
#include "hid/linux/HidrawNode.h"
#include "hid/linux/HidrawSys.h"
#include "log/Log.h"
#include "platform/Text.h"

namespace {

using hidraw::Sys;

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorOperationAborted = 995;
constexpr uint32_t kErrorIoIncomplete = 996;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

// A wake-up that found nothing to read (another reader, or a node that always polls ready),
// or a write refused for the moment, waits this long before trying the device again, so the
// wait does not spin.
constexpr int64_t kEmptyWakeBackoffMs = 2;
// The input reports the kernel keeps for each open file of a hidraw node.
constexpr int kQueuedReports = 64;

enum class Wait { Ready, Terminated, TimedOut, Gone, Failed };

int PollTimeout(int64_t leftMs) {
    return static_cast<int>(std::min<int64_t>(leftMs, std::numeric_limits<int>::max()));
}

class HidrawTransport final : public HidTransport {
public:
    uint32_t open(const std::wstring& path, HidOpenStep& failed) override {
        const std::string text = Narrow(path);
        std::string devnode;
        size_t collection = 0;
        hidraw::SplitCollectionPath(text, devnode, collection);
        failed = HidOpenStep::Events;
        const int event = Sys().eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (event < 0) {
            const int error = errno;
            LogMessage(LogDebug, "HidIo::open(%s), eventfd failed, err=0x%08x", text.c_str(),
                       static_cast<uint32_t>(error));
            return hidraw::WindowsErrorOf(error, false);
        }
        terminateEvent.reset(event);

        failed = HidOpenStep::ReadHandle;
        device = std::make_unique<hidraw::HidrawNode>(devnode);
        if (!hidraw::OpenNode(*device, "HidIo::open")) {
            return hidraw::WindowsErrorOf(errno, false);
        }
        // The descriptor says which reports are the collection's and whether they start with
        // their id: a node whose descriptor cannot be read is not a channel.
        if (!hidraw::LoadDescriptor(*device, "HidIo::open")) {
            const int error = errno;
            device->fd.reset();
            return hidraw::WindowsErrorOf(error, false);
        }
        if (collection >= device->descriptor->collections.size()) {
            device->fd.reset();
            return kErrorFileNotFound;
        }
        device->collection = collection;
        numberedReports = device->descriptor->numberedReports;
        return 0;
    }

    void cancel() override {
        if (terminateEvent.held()) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written =
                Sys().write(terminateEvent.get(), &one, sizeof one);
        }
    }

    void close() override {
        if (device) {
            device->fd.reset();
        }
        terminateEvent.reset();
    }

    uint32_t flush() override {
        if (!device) {
            return kErrorInvalidHandle;
        }
        return HidLib::functions().HidD_FlushQueue(device.get())
                   ? 0
                   : hidraw::WindowsErrorOf(errno, true);  // the flush reads
    }

    uint32_t getFeature(uint8_t* buffer, uint32_t length) override {
        if (!device) {
            return kErrorInvalidHandle;
        }
        return HidLib::functions().HidD_GetFeature(device.get(), buffer, length)
                   ? 0
                   : hidraw::WindowsErrorOf(errno, false);
    }

    uint32_t write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                   HidTransfer& how) override {
        how = HidTransfer{};
        if (!device || !device->fd.held()) {
            return kErrorInvalidHandle;
        }
        // Whole reports of the declared length only, for a report id the channel's collection
        // declares, as the Windows HID class driver has it: the kernel would pass anything on.
        if (buffer == nullptr || length != caps().reportBytes[kHidpOutput] ||
            !declares(kHidpOutput, buffer[0])) {
            return kErrorInvalidParameter;
        }
        // No poll before the write: hidraw's poll says nothing about writing on older kernels,
        // and the write itself blocks in the kernel until the transfer is done (the USB core
        // gives up after 5000 ms). Only a write refused for the moment waits and tries again.
        const int64_t deadline = Sys().monotonicMs() + timeoutMs;
        for (;;) {
            const ssize_t written = Sys().write(device->fd.get(), buffer, length);
            if (written >= 0) {
                how.bytes = static_cast<uint32_t>(written);
                return 0;
            }
            const int error = errno;
            uint32_t ended = 0;
            if (retryAfter(error, deadline, how, ended)) {
                continue;
            }
            if (ended != 0) {
                return ended;
            }
            LogMessage(LogDebug, "HidIo::sendOutputReport - write(%s) failed, error=0x%08x",
                       device->devnode.c_str(), static_cast<uint32_t>(error));
            return hidraw::WindowsErrorOf(error, false);
        }
    }

    uint32_t read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, HidTransfer& how) override {
        how = HidTransfer{};
        if (!device || !device->fd.held()) {
            return kErrorInvalidHandle;  // terminated
        }
        // Windows puts an id byte first whatever the device does; hidraw only for numbered
        // reports. A longer report is cut to what is asked.
        uint8_t* target = numberedReports ? buffer : buffer + 1;
        const size_t wanted = numberedReports ? length : length - 1;

        const int64_t deadline = Sys().monotonicMs() + timeoutMs;
        int lateReports = 0;
        for (;;) {
            int error = 0;
            switch (wait(POLLIN, deadline, error)) {
                case Wait::Ready:
                    break;
                case Wait::Gone:
                    how.end = HidWaitEnd::Completed;
                    return kErrorDeviceNotConnected;
                case Wait::Terminated:
                    how.end = HidWaitEnd::Terminated;
                    return kErrorOperationAborted;
                case Wait::TimedOut:
                    how.end = HidWaitEnd::TimedOut;
                    return kErrorIoIncomplete;
                case Wait::Failed:
                    how.end = HidWaitEnd::WaitFailed;
                    how.waitResult = kWaitFailed;
                    return hidraw::WindowsErrorOf(error, true);
            }
            const ssize_t got = Sys().read(device->fd.get(), target, wanted);
            if (got > 0) {
                how.bytes = static_cast<uint32_t>(got) + (numberedReports ? 0 : 1);
                // The node carries the reports of every collection of its descriptor; Windows
                // hands a collection's handle only its own. Another's is dropped, and the wait
                // goes on for the time left.
                if (declares(kHidpInput, buffer[0])) {
                    return 0;
                }
                LogMessage(LogDebug,
                           "HidIo::recvInputReport - input report %02x of another collection "
                           "dropped",
                           static_cast<unsigned>(buffer[0]));
                std::memset(buffer, 0, length);
                // Past the deadline only what was queued by then is looked at, so that a
                // device that never stops sending cannot hold the read.
                if (Sys().monotonicMs() >= deadline && ++lateReports > kQueuedReports) {
                    how.end = HidWaitEnd::TimedOut;
                    return kErrorIoIncomplete;
                }
                continue;
            }
            error = got == 0 ? EAGAIN : errno;
            uint32_t ended = 0;
            if (retryAfter(error, deadline, how, ended)) {
                continue;
            }
            if (ended != 0) {
                return ended;
            }
            std::memset(buffer, 0, length);
            return hidraw::WindowsErrorOf(error, true);
        }
    }

private:
    const hidraw::CollectionCaps& caps() const {
        return device->descriptor->collections[device->collection];
    }
    // Whether the channel's collection declares a report of this kind and id (0 on a node
    // without ids).
    bool declares(int kind, uint8_t id) const {
        const std::vector<uint8_t>& ids = caps().reportIds[kind];
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }

    // A short wait on the terminate event alone, before trying the device again: Ready when
    // it passed quietly.
    Wait pause(int64_t deadline) const {
        for (;;) {
            const int64_t left = deadline - Sys().monotonicMs();
            if (left <= 0) {
                return Wait::TimedOut;
            }
            pollfd event = {terminateEvent.get(), POLLIN, 0};
            const int ready =
                Sys().poll(&event, 1, PollTimeout(std::min(left, kEmptyWakeBackoffMs)));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            return ready > 0 && event.revents != 0 ? Wait::Terminated : Wait::Ready;
        }
    }

    // After a failed write or read: true to try it again (interrupted, or refused for the
    // moment and a short pause passed quietly). Otherwise `ended` and how.end say how a pause
    // ended the transfer, or `ended` stays 0 for an error that is no reason to wait.
    bool retryAfter(int error, int64_t deadline, HidTransfer& how, uint32_t& ended) const {
        if (error == EINTR) {
            return true;
        }
        if (error != EAGAIN && error != EWOULDBLOCK) {
            return false;
        }
        switch (pause(deadline)) {
            case Wait::Ready:
                return true;
            case Wait::Terminated:
                how.end = HidWaitEnd::Terminated;
                ended = kErrorOperationAborted;
                return false;
            default:
                how.end = HidWaitEnd::TimedOut;
                ended = kErrorIoIncomplete;
                return false;
        }
    }

    // Waits until the device has `events` ready, the terminate event fires or the deadline
    // passes. The device is asked at least once, so a report already queued is found even
    // when no time is left (a zero time-out), as ReadFile completes at once then.
    Wait wait(short events, int64_t deadline, int& error) const {
        for (;;) {
            const int64_t left = std::max<int64_t>(0, deadline - Sys().monotonicMs());
            pollfd fds[2] = {{device->fd.get(), events, 0}, {terminateEvent.get(), POLLIN, 0}};
            // poll takes an int: a longer time-out waits in several steps, never for ever.
            const int ready = Sys().poll(fds, 2, PollTimeout(left));
            if (ready < 0) {
                if (errno == EINTR && left > 0) {
                    continue;
                }
                if (errno == EINTR) {
                    return Wait::TimedOut;
                }
                error = errno;
                return Wait::Failed;
            }
            if (fds[1].revents != 0) {
                return Wait::Terminated;
            }
            if (ready == 0) {
                if (left == 0) {
                    return Wait::TimedOut;
                }
                continue;  // woken early, or a step of a longer wait
            }
            // Reports queued before a hang-up are still valid: read them first.
            if ((fds[0].revents & events) != 0) {
                return Wait::Ready;
            }
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return Wait::Gone;
            }
        }
    }

    // Its collection is the one the channel was opened for; null until open().
    std::unique_ptr<hidraw::HidrawNode> device;
    hidraw::UniqueFd terminateEvent;
    bool numberedReports = true;
};

}  // namespace

std::unique_ptr<HidTransport> MakeHidTransport() {
    return std::make_unique<HidrawTransport>();
}
