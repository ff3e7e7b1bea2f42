// The channel's transport over the simulated bus. A write completes on the spot unless a fault
// keeps it pending, and then its wait runs to its limit; a read finds an answer waiting, or
// waits on the virtual clock until one arrives, the device leaves the bus or the time-out.
#include <algorithm>

#include "hid/HidTransport.h"
#include "hid/HidTypes.h"
#include "sim/SimBus.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

constexpr int kNotHeld = -1;
constexpr uint32_t kErrorOperationAborted = 995;

class SimTransport final : public HidTransport {
public:
    // Whatever is still held goes quietly with the object.
    ~SimTransport() override { close(); }

    uint32_t open(const std::wstring& path, HidOpenStep& failed) override {
        eventsHeld = true;
        terminateSignalled = false;
        uint32_t error = 0;
        failed = HidOpenStep::ReadHandle;
        readHandle = openPath(path, error);
        if (readHandle == kNotHeld) {
            return error;
        }
        failed = HidOpenStep::WriteHandle;
        writeHandle = openPath(path, error);
        if (writeHandle == kNotHeld) {
            return error;
        }
        markOpen(true);
        return 0;
    }

    void cancel() override {
        if (eventsHeld) {
            terminateSignalled = true;
        }
    }

    void close() override {
        markOpen(false);
        closeHandle(readHandle);
        closeHandle(writeHandle);
        eventsHeld = false;
    }

    uint32_t flush() override {
        return readHandle == kNotHeld ? kErrorInvalidHandle : Bus().flushQueue(readHandle);
    }

    uint32_t getFeature(uint8_t* buffer, uint32_t length) override {
        return readHandle == kNotHeld ? kErrorInvalidHandle
                                      : Bus().getFeature(readHandle, buffer, length);
    }

    uint32_t write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                   HidTransfer& how) override {
        how = HidTransfer{};
        const uint32_t error = writeHandle == kNotHeld
                                   ? kErrorInvalidHandle
                                   : Bus().writeReport(writeHandle, buffer, length);
        if (error == 0) {
            how.bytes = length;
        }
        if (error != kErrorIoPending) {
            return error;
        }
        // Such a write never completes: the wait ends at its limit (or at once when the
        // channel was terminated), the second look finds it incomplete, and it is cancelled.
        if (terminateSignalled) {
            how.end = HidWaitEnd::Terminated;
            return kErrorOperationAborted;
        }
        Bus().clockMs += timeoutMs;
        how.end = HidWaitEnd::TimedOut;
        return kErrorIoIncomplete;
    }

    uint32_t read(uint8_t* buffer, uint32_t, uint32_t timeoutMs, HidTransfer& how) override {
        how = HidTransfer{};
        const uint32_t error = readHandle == kNotHeld ? kErrorInvalidHandle
                                                      : Bus().readReport(readHandle, buffer);
        if (error != kErrorIoPending) {
            return error;
        }
        if (terminateSignalled) {
            how.end = HidWaitEnd::Terminated;
            return kErrorOperationAborted;
        }
        // Pending: the wait ends when the read completes or at the time-out; at the time-out
        // the read is looked at once more, so an answer arriving right at the limit still
        // counts, and otherwise it is cancelled.
        const uint64_t deadline = Bus().clockMs + timeoutMs;
        const uint64_t completes = Bus().readCompletesAt(readHandle);
        how.end = completes <= deadline ? HidWaitEnd::Completed : HidWaitEnd::TimedOut;
        Bus().clockMs = std::min(deadline, completes);
        const uint32_t completion = Bus().readReport(readHandle, buffer);
        return completion == kErrorIoPending ? kErrorIoIncomplete : completion;
    }

private:
    // Opens a simulated file handle on a path; kNotHeld with error set when it fails.
    static int openPath(const std::wstring& path, uint32_t& error) {
        const int index = Bus().findInterface(path);
        if (index < 0) {
            error = kErrorFileNotFound;
            return kNotHeld;
        }
        const int monitor = Bus().interfaces[static_cast<size_t>(index)].monitor;
        if (monitor >= 0 && Bus().monitors[static_cast<size_t>(monitor)].disconnected) {
            error = kErrorFileNotFound;  // an unplugged device's path is gone
            return kNotHeld;
        }
        ++Bus().openHandles;
        return index;
    }

    static void closeHandle(int& handle) {
        if (handle != kNotHeld) {
            --Bus().openHandles;
            handle = kNotHeld;
        }
    }

    void markOpen(bool open) const {
        if (readHandle == kNotHeld) {
            return;
        }
        const int monitor = Bus().interfaces[static_cast<size_t>(readHandle)].monitor;
        if (monitor >= 0) {
            Bus().monitors[static_cast<size_t>(monitor)].open = open;
        }
    }

    int readHandle = kNotHeld;  // interface index
    int writeHandle = kNotHeld;
    bool eventsHeld = false;
    bool terminateSignalled = false;
};

}  // namespace

std::unique_ptr<HidTransport> MakeHidTransport() {
    return std::make_unique<SimTransport>();
}
