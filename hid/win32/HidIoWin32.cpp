// The HID channel over overlapped file I/O: one handle for input and feature reports, one for
// output reports, and a terminate event that every wait watches.
#include <windows.h>

#include <cstring>
#include <memory>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace {

constexpr DWORD kWriteTimeoutMs = 5000;
constexpr uint32_t kInputBufferCount = 128;

// Owns one kernel handle. Not held is INVALID_HANDLE_VALUE, whatever the creating call
// returns on failure (CreateEventW returns null, CreateFileW INVALID_HANDLE_VALUE).
class OwnedHandle {
public:
    OwnedHandle() = default;
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return handle; }
    bool held() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    void reset(HANDLE replacement = INVALID_HANDLE_VALUE) {
        if (held()) {
            CloseHandle(handle);
        }
        handle = replacement == nullptr ? INVALID_HANDLE_VALUE : replacement;
    }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
};

uint32_t LastError() {
    return static_cast<uint32_t>(GetLastError());
}

// Cancels a transfer that may still be running and waits until the system is done with it:
// its OVERLAPPED and the caller's buffer live on the caller's stack, so the transfer must not
// outlive the call that started it. Cancelled transfers complete promptly.
void CancelAndSettle(HANDLE device, OVERLAPPED& overlapped) {
    CancelIo(device);
    DWORD ignored = 0;
    GetOverlappedResult(device, &overlapped, &ignored, TRUE);
}

bool CreateManualResetEvent(OwnedHandle& event) {
    const HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (created == nullptr) {
        return false;
    }
    event.reset(created);
    return true;
}

}  // namespace

struct HidIo::Impl {
    OwnedHandle hidDevRead;
    OwnedHandle hidDevWrite;
    OwnedHandle readEvent;
    OwnedHandle writeEvent;
    OwnedHandle terminateEvent;

    Impl() = default;
    ~Impl() { closeAll(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void closeAll() {
        hidDevRead.reset();
        hidDevWrite.reset();
        readEvent.reset();
        writeEvent.reset();
        terminateEvent.reset();
    }
};

HidIo::HidIo() : impl(std::make_unique<Impl>()) {}

// The device object calls terminate() before this runs; whatever is still held (a channel
// used without its owner's terminate) is closed here without a word.
HidIo::~HidIo() = default;

bool HidIo::open(const std::wstring& path) {
    Impl& io = *impl;
    if (!CreateManualResetEvent(io.readEvent) || !CreateManualResetEvent(io.writeEvent) ||
        !CreateManualResetEvent(io.terminateEvent)) {
        return false;
    }

    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const uint32_t error = LastError();
        LogMessage(LogDebug, "HidIo::open(%s), create hidDevRead failed, err=0x%08x",
                   Narrow(path).c_str(), error);
        return false;
    }
    io.hidDevRead.reset(handle);

    handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const uint32_t error = LastError();
        LogMessage(LogDebug, "HidIo::open(%s), create hidDevWrite failed, err=0x%08x",
                   Narrow(path).c_str(), error);
        return false;
    }
    io.hidDevWrite.reset(handle);

    // A deep input queue, so that answers arriving between reads are not dropped. The
    // driver's default serves as well, so the result does not matter.
    HidLib::functions().HidD_SetNumInputBuffers(io.hidDevRead.get(), kInputBufferCount);
    return true;
}

void HidIo::terminate() {
    LogMessage(LogDebug,
               "*************************** HidIo::terminate "
               "****************************************\n");
    Impl& io = *impl;
    // Signalled before anything is closed, so a wait still in progress ends with the
    // terminate result and cancels its own transfer.
    if (io.terminateEvent.held()) {
        SetEvent(io.terminateEvent.get());
    }
    io.closeAll();
}

bool HidIo::flushDeviceQueue() {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::flushDeviceQueue - device is not connected");
        return false;
    }
    if (HidLib::functions().HidD_FlushQueue(impl->hidDevRead.get())) {
        return true;
    }
    const uint32_t error = LastError();
    LogMessage(LogDebug, "HidIo::flushDeviceQueue - failed, error=0x%08x", error);
    if (error == kErrorDeviceNotConnected) {
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
    // Taken once: the wait below and any cancellation act on the transfer this call started.
    const HANDLE device = impl->hidDevWrite.get();
    const HANDLE event = impl->writeEvent.get();

    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD written = 0;
    const BOOL completed = WriteFile(device, buffer, length, &written, &overlapped);
    const uint32_t error = completed ? 0 : LastError();

    if (completed) {
        LogWriteText(LogDebug, "HidIo::sendOutputReport - fast write success");
        return true;
    }
    if (error != kErrorIoPending) {
        LogMessage(LogDebug, "HidIo::sendOutputReport - write failed, error=0x%08x", error);
        if (error == kErrorDeviceNotConnected) {
            LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #0");
            connected = false;
        }
        return false;
    }

    SetLastError(0);
    const HANDLE waitOn[2] = {event, impl->terminateEvent.get()};
    const DWORD result = WaitForMultipleObjects(2, waitOn, FALSE, kWriteTimeoutMs);
    switch (result) {
        case WAIT_OBJECT_0:
            if (!GetOverlappedResult(device, &overlapped, &written, FALSE)) {
                const uint32_t code = LastError();
                LogMessage(LogDebug, "HidIo::sendOutputReport - GetOverlappedResult - error=0x%08x",
                           code);
                if (code == kErrorDeviceNotConnected) {
                    LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #1");
                    connected = false;
                }
                return false;
            }
            break;
        case WAIT_OBJECT_0 + 1:
            LogWriteText(LogDebug, "HidIo::sendOutputReport - Terminate Event signalled");
            CancelAndSettle(device, overlapped);
            return false;
        case WAIT_TIMEOUT:
            // The write may have finished right at the limit.
            if (!GetOverlappedResult(device, &overlapped, &written, FALSE)) {
                const uint32_t code = LastError();
                LogMessage(LogDebug,
                           "HidIo::sendOutputReport - GetOverlappedResult - timeout - bytes "
                           "written %d - error=0x%08x",
                           static_cast<int>(written), code);
                if (code == kErrorDeviceNotConnected) {
                    LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #2");
                    connected = false;
                }
                CancelAndSettle(device, overlapped);
                return false;
            }
            break;
        default: {
            const uint32_t code = LastError();
            LogMessage(LogDebug,
                       "HidIo::sendOutputReport - Wait - unknown wait result 0x%08x - "
                       "error=0x%08x",
                       static_cast<uint32_t>(result), code);
            CancelAndSettle(device, overlapped);
            return false;
        }
    }

    if (written < length) {
        LogMessage(LogDebug,
                   "HidIo::sendOutputReport - write ok but not all the bytes: sent=%d, did=%d",
                   static_cast<int>(length), static_cast<int>(written));
    }
    return true;
}

bool HidIo::recvInputReport(uint8_t* buffer, uint32_t timeoutMs) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - device is not connected");
        return false;
    }
    std::memset(buffer, 0, kInputReportLength);

    const HANDLE device = impl->hidDevRead.get();
    const HANDLE event = impl->readEvent.get();

    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD received = 0;
    // A report id and eight data bytes, whatever input length the device declares: every
    // answer this program waits for fits in them.
    if (ReadFile(device, buffer, kInputReportLength, &received, &overlapped)) {
        return true;
    }
    const uint32_t error = LastError();
    if (error == kErrorDeviceNotConnected) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - Device Not connected #0");
        connected = false;
        return false;
    }
    if (error != kErrorIoPending) {
        return false;
    }

    // A read that fails or times out says nothing here: the caller knows what it waited for.
    SetLastError(0);
    const HANDLE waitOn[2] = {event, impl->terminateEvent.get()};
    const DWORD result = WaitForMultipleObjects(2, waitOn, FALSE, timeoutMs);
    switch (result) {
        case WAIT_OBJECT_0:
            if (GetOverlappedResult(device, &overlapped, &received, FALSE)) {
                return true;
            }
            if (LastError() == kErrorDeviceNotConnected) {
                connected = false;
            }
            return false;
        case WAIT_OBJECT_0 + 1:
            CancelAndSettle(device, overlapped);
            return false;
        case WAIT_TIMEOUT:
            if (GetOverlappedResult(device, &overlapped, &received, FALSE)) {
                return true;
            }
            if (LastError() == kErrorDeviceNotConnected) {
                connected = false;
            }
            CancelAndSettle(device, overlapped);
            return false;
        default:
            CancelAndSettle(device, overlapped);
            return false;
    }
}

bool HidIo::getFeature(uint8_t* buffer, uint32_t length) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::getFeature - device is not connected");
        return false;
    }
    if (HidLib::functions().HidD_GetFeature(impl->hidDevRead.get(), buffer, length)) {
        return true;
    }
    // Shown to the user whatever the verbose setting; a disconnection seen here is left to
    // the next transfer to notice.
    ConsolePrintf("HidIo::getFeature - err=%08x\n", LastError());
    return false;
}
