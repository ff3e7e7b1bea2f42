// The channel's rules, over whichever transport the executable links.
#include "hid/HidIo.h"

#include <cstring>

#include "hid/HidTypes.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace {

constexpr uint32_t kWriteTimeoutMs = 5000;

}  // namespace

HidIo::HidIo() : HidIo(MakeHidTransport()) {}

HidIo::HidIo(std::unique_ptr<HidTransport> t) : transport(std::move(t)) {}

HidIo::~HidIo() = default;

bool HidIo::gone(uint32_t error) {
    if (error != kErrorDeviceNotConnected) {
        return false;
    }
    connected = false;
    return true;
}

bool HidIo::open(const std::wstring& path) {
    HidOpenStep failed = HidOpenStep::Events;
    const uint32_t error = transport->open(path, failed);
    if (error == 0) {
        return true;
    }
    if (failed != HidOpenStep::Events) {
        LogMessage(LogDebug, "HidIo::open(%s), create %s failed, err=0x%08x", Narrow(path).c_str(),
                   failed == HidOpenStep::ReadHandle ? "hidDevRead" : "hidDevWrite", error);
    }
    return false;
}

void HidIo::terminate() {
    LogMessage(LogDebug,
               "*************************** HidIo::terminate "
               "****************************************\n");
    // Signalled before anything is closed, so a wait still in progress ends with the
    // terminate result and cancels its own transfer.
    transport->cancel();
    transport->close();
}

bool HidIo::flushDeviceQueue() {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::flushDeviceQueue - device is not connected");
        return false;
    }
    const uint32_t error = transport->flush();
    if (error == 0) {
        return true;
    }
    LogMessage(LogDebug, "HidIo::flushDeviceQueue - failed, error=0x%08x", error);
    if (gone(error)) {
        LogWriteText(LogDebug, "  device not connected");
    }
    return false;
}

bool HidIo::sendOutputReport(const uint8_t* buffer, uint32_t length) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::sendOutputReport - device is not connected");
        return false;
    }
    HidTransfer how;
    const uint32_t error = transport->write(buffer, length, kWriteTimeoutMs, how);
    switch (how.end) {
        case HidWaitEnd::AtOnce:
            if (error == 0) {
                // The count is not looked at on this path.
                LogWriteText(LogDebug, "HidIo::sendOutputReport - fast write success");
                return true;
            }
            LogMessage(LogDebug, "HidIo::sendOutputReport - write failed, error=0x%08x", error);
            if (gone(error)) {
                LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #0");
            }
            return false;
        case HidWaitEnd::Completed:
            if (error != 0) {
                LogMessage(LogDebug, "HidIo::sendOutputReport - GetOverlappedResult - error=0x%08x",
                           error);
                if (gone(error)) {
                    LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #1");
                }
                return false;
            }
            break;
        case HidWaitEnd::Terminated:
            LogWriteText(LogDebug, "HidIo::sendOutputReport - Terminate Event signalled");
            return false;
        case HidWaitEnd::TimedOut:
            if (error != 0) {
                LogMessage(LogDebug,
                           "HidIo::sendOutputReport - GetOverlappedResult - timeout - bytes "
                           "written %d - error=0x%08x",
                           static_cast<int>(how.bytes), error);
                if (gone(error)) {
                    LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #2");
                }
                return false;
            }
            break;  // finished right at the limit
        case HidWaitEnd::WaitFailed:
            LogMessage(LogDebug,
                       "HidIo::sendOutputReport - Wait - unknown wait result 0x%08x - "
                       "error=0x%08x",
                       how.waitResult, error);
            return false;
    }
    if (how.bytes < length) {
        LogMessage(LogDebug,
                   "HidIo::sendOutputReport - write ok but not all the bytes: sent=%d, did=%d",
                   static_cast<int>(length), static_cast<int>(how.bytes));
    }
    return true;
}

bool HidIo::recvInputReport(uint8_t* buffer, uint32_t timeoutMs) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - device is not connected");
        return false;
    }
    std::memset(buffer, 0, kInputReportLength);
    HidTransfer how;
    // A report id and eight data bytes, whatever input length the device declares: every
    // answer this program waits for fits in them.
    const uint32_t error = transport->read(buffer, kInputReportLength, timeoutMs, how);
    if (how.end == HidWaitEnd::Terminated || how.end == HidWaitEnd::WaitFailed) {
        return false;
    }
    if (error == 0) {
        return true;
    }
    // Only a read that fails at once says so; the rest is the caller's to report.
    if (gone(error) && how.end == HidWaitEnd::AtOnce) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - Device Not connected #0");
    }
    return false;
}

bool HidIo::getFeature(uint8_t* buffer, uint32_t length) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::getFeature - device is not connected");
        return false;
    }
    const uint32_t error = transport->getFeature(buffer, length);
    if (error == 0) {
        return true;
    }
    // Shown to the user whatever the verbose setting; a disconnection seen here is left to
    // the next transfer to notice.
    ConsolePrintf("HidIo::getFeature - err=%08x\n", error);
    return false;
}
