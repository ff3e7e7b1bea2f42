// The HID channel over one hidraw descriptor: input reads, output writes and feature
// requests share it (every open file gets its own input queue, so a second descriptor would
// hold a queue nobody reads). Every bounded wait is a poll on the descriptor and an eventfd
// that terminate() signals, with the time left on the monotonic clock.
//
// terminate() ends a waiting poll, but not a write or a feature request already in the
// kernel: the USB core's control transfer cannot be interrupted and lasts up to 5000 ms.
#include <fcntl.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "hid/linux/HidrawDevice.h"
#include "hid/linux/HidrawSys.h"
#include "hid/linux/ReportDescriptor.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace {

using hidraw::Sys;

constexpr int64_t kWriteTimeoutMs = 5000;
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

}  // namespace

struct HidIo::Impl {
    hidraw::ProbeHandle device;  // its collection is the one the channel was opened for
    hidraw::UniqueFd terminateEvent;
    bool numberedReports = true;

    // The report ids of one kind the channel's collection declares (0 on a node without ids).
    const std::vector<uint8_t>& declared(int kind) const {
        return device.descriptor->collections[device.collection].reportIds[kind];
    }
    bool declares(int kind, uint8_t id) const {
        const std::vector<uint8_t>& ids = declared(kind);
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }

    void closeAll() {
        device.fd.reset();
        terminateEvent.reset();
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

    // Waits until the device has `events` ready, the terminate event fires or the deadline
    // passes. The device is asked at least once, so a report already queued is found even
    // when no time is left (a zero time-out), as ReadFile completes at once then.
    Wait wait(short events, int64_t deadline, int& error) const {
        for (;;) {
            const int64_t left = std::max<int64_t>(0, deadline - Sys().monotonicMs());
            pollfd fds[2] = {{device.fd.get(), events, 0}, {terminateEvent.get(), POLLIN, 0}};
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
                error = ENODEV;
                return Wait::Gone;
            }
        }
    }
};

HidIo::HidIo() : impl(std::make_unique<Impl>()) {}

HidIo::~HidIo() = default;

bool HidIo::open(const std::wstring& path) {
    Impl& io = *impl;
    const std::string text = Narrow(path);
    std::string node;
    size_t collection = 0;
    hidraw::SplitCollectionPath(text, node, collection);
    const int event = Sys().eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event < 0) {
        const int error = errno;
        LogMessage(LogDebug, "HidIo::open(%s), eventfd failed, err=0x%08x", text.c_str(),
                   static_cast<uint32_t>(error));
        return false;
    }
    io.terminateEvent.reset(event);

    const int fd = Sys().open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        LogMessage(LogDebug, "HidIo::open(%s), open failed, err=0x%08x", text.c_str(),
                   static_cast<uint32_t>(error));
        return false;
    }
    io.device.fd.reset(fd);
    io.device.devnode = node;
    const size_t slash = node.rfind('/');
    io.device.sysname = slash == std::string::npos ? node : node.substr(slash + 1);
    // The descriptor says which reports are the collection's and whether they start with
    // their id: a node whose descriptor cannot be read is not a channel.
    if (!hidraw::LoadDescriptor(io.device, "HidIo::open")) {
        const int error = errno;
        LogMessage(LogDebug, "HidIo::open(%s), report descriptor not read, err=0x%08x",
                   text.c_str(), static_cast<uint32_t>(error));
        io.device.fd.reset();
        return false;
    }
    if (collection >= io.device.descriptor->collections.size()) {
        LogMessage(LogDebug, "HidIo::open(%s), no such collection, err=0x%08x", text.c_str(),
                   static_cast<uint32_t>(ENOENT));
        io.device.fd.reset();
        return false;
    }
    io.device.collection = collection;
    io.numberedReports = io.device.descriptor->numberedReports;
    return true;
}

void HidIo::terminate() {
    LogMessage(LogDebug,
               "*************************** HidIo::terminate "
               "****************************************\n");
    Impl& io = *impl;
    // Signalled before anything is closed, so a wait still in progress ends with the
    // terminate result.
    if (io.terminateEvent.held()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written =
            Sys().write(io.terminateEvent.get(), &one, sizeof one);
    }
    io.closeAll();
}

bool HidIo::flushDeviceQueue() {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::flushDeviceQueue - device is not connected");
        return false;
    }
    if (HidLib::functions().HidD_FlushQueue(&impl->device)) {
        return true;
    }
    const int error = errno;
    LogMessage(LogDebug, "HidIo::flushDeviceQueue - failed, error=0x%08x",
               static_cast<uint32_t>(error));
    if (hidraw::ErrnoMeansGone(error, true)) {  // the flush reads
        LogWriteText(LogDebug, "  device not connected");
        connected = false;
    }
    return false;
}

bool HidIo::sendOutputReport(const uint8_t* buffer, uint32_t length) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::sendOutputReport - device is not connected");
        return false;
    }
    Impl& io = *impl;
    // Whole reports of the declared length only, for a report id the channel's collection
    // declares, as the Windows HID class driver has it: the kernel would pass anything on.
    if (!io.device.fd.held() || buffer == nullptr ||
        length !=
            io.device.descriptor->collections[io.device.collection].reportBytes[kHidpOutput] ||
        !io.declares(kHidpOutput, buffer[0])) {
        LogMessage(LogDebug, "HidIo::sendOutputReport - write refused, error=0x%08x",
                   static_cast<uint32_t>(EINVAL));
        return false;
    }

    // No poll before the write: hidraw's poll says nothing about writing on older kernels,
    // and the write itself blocks in the kernel until the transfer is done (the USB core
    // gives up after 5000 ms). Only a write refused for the moment waits and tries again.
    const int64_t deadline = Sys().monotonicMs() + kWriteTimeoutMs;
    for (;;) {
        const ssize_t written = Sys().write(io.device.fd.get(), buffer, length);
        if (written >= 0) {
            if (static_cast<uint32_t>(written) < length) {
                LogMessage(LogDebug,
                           "HidIo::sendOutputReport - write ok but not all the bytes: sent=%d, "
                           "did=%d",
                           static_cast<int>(length), static_cast<int>(written));
            } else {
                LogWriteText(LogDebug, "HidIo::sendOutputReport - fast write success");
            }
            return true;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK) {
            switch (io.pause(deadline)) {
                case Wait::Ready:
                    continue;
                case Wait::Terminated:
                    LogWriteText(LogDebug, "HidIo::sendOutputReport - Terminate Event signalled");
                    return false;
                default:
                    LogMessage(LogDebug, "HidIo::sendOutputReport - write timed out, error=0x%08x",
                               static_cast<uint32_t>(error));
                    return false;
            }
        }
        LogMessage(LogDebug, "HidIo::sendOutputReport - write failed, error=0x%08x",
                   static_cast<uint32_t>(error));
        if (hidraw::ErrnoMeansGone(error, false)) {
            LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #0");
            connected = false;
        }
        return false;
    }
}

bool HidIo::recvInputReport(uint8_t* buffer, uint32_t timeoutMs) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - device is not connected");
        return false;
    }
    std::memset(buffer, 0, kInputReportLength);
    Impl& io = *impl;
    if (!io.device.fd.held()) {
        return false;  // terminated
    }
    // Windows puts an id byte first whatever the device does; hidraw only for numbered
    // reports. A longer report is cut to what is asked.
    uint8_t* target = io.numberedReports ? buffer : buffer + 1;
    const size_t wanted = io.numberedReports ? kInputReportLength : kInputReportLength - 1;

    // A read that fails or times out says nothing here: the caller knows what it waited for.
    const int64_t deadline = Sys().monotonicMs() + timeoutMs;
    int lateReports = 0;
    for (;;) {
        int error = 0;
        switch (io.wait(POLLIN, deadline, error)) {
            case Wait::Ready:
                break;
            case Wait::Gone:
                LogWriteText(LogDebug, "HidIo::recvInputReport - Device Not connected #1");
                connected = false;
                return false;
            case Wait::Terminated:
            case Wait::TimedOut:
            case Wait::Failed:
                return false;
        }
        const ssize_t got = Sys().read(io.device.fd.get(), target, wanted);
        if (got > 0) {
            // The node carries the reports of every collection of its descriptor; Windows
            // hands a collection's handle only its own. Another's is dropped, and the wait
            // goes on for the time left.
            if (io.declares(kHidpInput, buffer[0])) {
                return true;
            }
            LogMessage(LogDebug,
                       "HidIo::recvInputReport - input report %02x of another collection "
                       "dropped",
                       static_cast<unsigned>(buffer[0]));
            std::memset(buffer, 0, kInputReportLength);
            // Past the deadline only what was queued by then is looked at, so that a device
            // that never stops sending cannot hold the read.
            if (Sys().monotonicMs() >= deadline && ++lateReports > kQueuedReports) {
                return false;
            }
            continue;
        }
        error = got == 0 ? EAGAIN : errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK) {
            if (io.pause(deadline) == Wait::Ready) {
                continue;
            }
            return false;
        }
        if (hidraw::ErrnoMeansGone(error, true)) {
            LogWriteText(LogDebug, "HidIo::recvInputReport - Device Not connected #0");
            connected = false;
        }
        std::memset(buffer, 0, kInputReportLength);
        return false;
    }
}

bool HidIo::getFeature(uint8_t* buffer, uint32_t length) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::getFeature - device is not connected");
        return false;
    }
    if (HidLib::functions().HidD_GetFeature(&impl->device, buffer, length)) {
        return true;
    }
    // Shown to the user whatever the verbose setting, with the code Windows would show (the
    // log above has the system's own); a disconnection is left to the next transfer.
    ConsolePrintf("HidIo::getFeature - err=%08x\n", hidraw::WindowsErrorOf(errno, false));
    return false;
}
