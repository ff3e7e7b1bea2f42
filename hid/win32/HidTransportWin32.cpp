// The channel's transport over overlapped file I/O: one handle for input and feature reports,
// one for output reports, and a terminate event that every wait watches.
#include <windows.h>

#include <memory>

#include "hid/HidLib.h"
#include "hid/HidTransport.h"
#include "hid/HidTypes.h"

namespace {

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

HANDLE OpenOverlapped(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

class Win32Transport final : public HidTransport {
public:
    ~Win32Transport() override { close(); }

    uint32_t open(const std::wstring& path, HidOpenStep& failed) override {
        failed = HidOpenStep::Events;
        if (!CreateManualResetEvent(readEvent) || !CreateManualResetEvent(writeEvent) ||
            !CreateManualResetEvent(terminateEvent)) {
            return LastError();
        }
        failed = HidOpenStep::ReadHandle;
        hidDevRead.reset(OpenOverlapped(path, GENERIC_READ));
        if (!hidDevRead.held()) {
            return LastError();
        }
        failed = HidOpenStep::WriteHandle;
        hidDevWrite.reset(OpenOverlapped(path, GENERIC_WRITE));
        if (!hidDevWrite.held()) {
            return LastError();
        }
        // A deep input queue, so that answers arriving between reads are not dropped. The
        // driver's default serves as well, so the result does not matter.
        HidLib::functions().HidD_SetNumInputBuffers(hidDevRead.get(), kInputBufferCount);
        return 0;
    }

    void cancel() override {
        if (terminateEvent.held()) {
            SetEvent(terminateEvent.get());
        }
    }

    void close() override {
        hidDevRead.reset();
        hidDevWrite.reset();
        readEvent.reset();
        writeEvent.reset();
        terminateEvent.reset();
    }

    uint32_t flush() override {
        return HidLib::functions().HidD_FlushQueue(hidDevRead.get()) ? 0 : LastError();
    }

    uint32_t getFeature(uint8_t* buffer, uint32_t length) override {
        return HidLib::functions().HidD_GetFeature(hidDevRead.get(), buffer, length) ? 0
                                                                                     : LastError();
    }

    uint32_t write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                   HidTransfer& how) override {
        return transfer(hidDevWrite.get(), writeEvent.get(), const_cast<uint8_t*>(buffer), length,
                        timeoutMs, true, how);
    }

    uint32_t read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, HidTransfer& how) override {
        return transfer(hidDevRead.get(), readEvent.get(), buffer, length, timeoutMs, false, how);
    }

private:
    // One overlapped transfer and its wait on (its event, the terminate event).
    uint32_t transfer(HANDLE device, HANDLE event, uint8_t* buffer, uint32_t length,
                      uint32_t timeoutMs, bool writing, HidTransfer& how) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD count = 0;
        const BOOL completed = writing ? WriteFile(device, buffer, length, &count, &overlapped)
                                       : ReadFile(device, buffer, length, &count, &overlapped);
        how = HidTransfer{};
        how.bytes = count;
        if (completed) {
            return 0;
        }
        const uint32_t error = LastError();
        if (error != kErrorIoPending) {
            return error;
        }

        SetLastError(0);
        const HANDLE waitOn[2] = {event, terminateEvent.get()};
        const DWORD result = WaitForMultipleObjects(2, waitOn, FALSE, timeoutMs);
        switch (result) {
            case WAIT_OBJECT_0: {
                how.end = HidWaitEnd::Completed;
                const BOOL done = GetOverlappedResult(device, &overlapped, &count, FALSE);
                how.bytes = count;
                return done ? 0 : LastError();
            }
            case WAIT_OBJECT_0 + 1:
                how.end = HidWaitEnd::Terminated;
                CancelAndSettle(device, overlapped);
                return ERROR_OPERATION_ABORTED;
            case WAIT_TIMEOUT: {
                how.end = HidWaitEnd::TimedOut;
                // The transfer may have finished right at the limit.
                const BOOL done = GetOverlappedResult(device, &overlapped, &count, FALSE);
                how.bytes = count;
                if (done) {
                    return 0;
                }
                const uint32_t code = LastError();
                CancelAndSettle(device, overlapped);
                return code;
            }
            default: {
                how.end = HidWaitEnd::WaitFailed;
                how.waitResult = static_cast<uint32_t>(result);
                const uint32_t code = LastError();
                CancelAndSettle(device, overlapped);
                return code;
            }
        }
    }

    OwnedHandle hidDevRead;
    OwnedHandle hidDevWrite;
    OwnedHandle readEvent;
    OwnedHandle writeEvent;
    OwnedHandle terminateEvent;
};

}  // namespace

std::unique_ptr<HidTransport> MakeHidTransport() {
    return std::make_unique<Win32Transport>();
}
