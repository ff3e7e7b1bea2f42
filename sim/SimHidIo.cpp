// The HID channel over the simulated bus. A write completes on the spot ("fast write
// success") unless a fault keeps it pending, and then its wait runs to the 5000 ms limit; a
// read finds an answer waiting, or waits on the virtual clock until one arrives, the device
// leaves the bus or the time-out. Messages are those of the Windows channel on the paths
// that exist here.
#include <algorithm>
#include <cstring>

#include "hid/HidIo.h"
#include "hid/HidTypes.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"
#include "sim/SimBus.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

constexpr int kNotHeld = -1;
constexpr uint32_t kWriteTimeoutMs = 5000;

}  // namespace

struct HidIo::Impl {
    int readHandle = kNotHeld;  // interface index
    int writeHandle = kNotHeld;
    bool readEvent = false;
    bool writeEvent = false;
    bool terminateEvent = false;
    bool terminateSignalled = false;

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

    void closeAll() {
        markOpen(false);
        closeHandle(readHandle);
        closeHandle(writeHandle);
        readEvent = false;
        writeEvent = false;
        terminateEvent = false;
    }
};

HidIo::HidIo() : impl(std::make_unique<Impl>()) {}

// The owner calls terminate(); whatever is still held goes quietly with the object.
HidIo::~HidIo() {
    impl->closeAll();
}

bool HidIo::open(const std::wstring& path) {
    impl->readEvent = true;
    impl->writeEvent = true;
    impl->terminateEvent = true;
    impl->terminateSignalled = false;

    uint32_t error = 0;
    impl->readHandle = Impl::openPath(path, error);
    if (impl->readHandle == kNotHeld) {
        LogMessage(LogDebug, "HidIo::open(%s), create hidDevRead failed, err=0x%08x",
                   Narrow(path).c_str(), error);
        return false;
    }
    impl->writeHandle = Impl::openPath(path, error);
    if (impl->writeHandle == kNotHeld) {
        LogMessage(LogDebug, "HidIo::open(%s), create hidDevWrite failed, err=0x%08x",
                   Narrow(path).c_str(), error);
        return false;
    }
    impl->markOpen(true);
    return true;
}

void HidIo::terminate() {
    LogMessage(LogDebug,
               "*************************** HidIo::terminate "
               "****************************************\n");
    if (impl->terminateEvent) {
        impl->terminateSignalled = true;
    }
    impl->closeAll();
}

bool HidIo::flushDeviceQueue() {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::flushDeviceQueue - device is not connected");
        return false;
    }
    const uint32_t error =
        impl->readHandle == kNotHeld ? kErrorInvalidHandle : Bus().flushQueue(impl->readHandle);
    if (error == 0) {
        return true;
    }
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
    const uint32_t error = impl->writeHandle == kNotHeld
                               ? kErrorInvalidHandle
                               : Bus().writeReport(impl->writeHandle, buffer, length);
    if (error == 0) {
        LogWriteText(LogDebug, "HidIo::sendOutputReport - fast write success");
        return true;
    }
    if (error == kErrorIoPending) {
        // Such a write never completes: the wait ends at its limit (or at once when the
        // channel was terminated), the second look finds it incomplete, and it is cancelled.
        if (impl->terminateSignalled) {
            LogWriteText(LogDebug, "HidIo::sendOutputReport - Terminate Event signalled");
            return false;
        }
        Bus().clockMs += kWriteTimeoutMs;
        LogMessage(LogDebug,
                   "HidIo::sendOutputReport - GetOverlappedResult - timeout - bytes written %d - "
                   "error=0x%08x",
                   0, kErrorIoIncomplete);
        return false;
    }
    LogMessage(LogDebug, "HidIo::sendOutputReport - write failed, error=0x%08x", error);
    if (error == kErrorDeviceNotConnected) {
        LogWriteText(LogDebug, "HidIo::sendOutputReport - Device Not connected #0");
        connected = false;
    }
    return false;
}

bool HidIo::recvInputReport(uint8_t* buffer, uint32_t timeoutMs) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - device is not connected");
        return false;
    }
    std::memset(buffer, 0, kInputReportLength);
    const uint32_t error = impl->readHandle == kNotHeld
                               ? kErrorInvalidHandle
                               : Bus().readReport(impl->readHandle, buffer);
    if (error == 0) {
        return true;
    }
    if (error == kErrorDeviceNotConnected) {
        LogWriteText(LogDebug, "HidIo::recvInputReport - Device Not connected #0");
        connected = false;
        return false;
    }
    if (error != kErrorIoPending) {
        return false;
    }
    // Pending: the wait ends when the read completes or at the time-out (at once when the
    // channel was terminated); at the time-out the read is looked at once more, so an
    // answer arriving right at the limit still counts, and otherwise it is cancelled.
    if (impl->terminateSignalled) {
        return false;
    }
    const uint64_t deadline = Bus().clockMs + timeoutMs;
    Bus().clockMs = std::min(deadline, Bus().readCompletesAt(impl->readHandle));
    const uint32_t completion = Bus().readReport(impl->readHandle, buffer);
    if (completion == kErrorDeviceNotConnected) {
        connected = false;
    }
    return completion == 0;
}

bool HidIo::getFeature(uint8_t* buffer, uint32_t length) {
    if (!connected) {
        LogWriteText(LogDebug, "HidIo::getFeature - device is not connected");
        return false;
    }
    const uint32_t error = impl->readHandle == kNotHeld
                               ? kErrorInvalidHandle
                               : Bus().getFeature(impl->readHandle, buffer, length);
    if (error != 0) {
        ConsolePrintf("HidIo::getFeature - err=%08x\n", error);
        return false;
    }
    return true;
}
