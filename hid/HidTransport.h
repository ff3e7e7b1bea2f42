// What a backend supplies under HidIo: the device file (or files), the transfers with their
// waits, and the terminate signal. HidIo (hid/HidIo.cpp) keeps the channel's rules once for
// every backend: the connected flag, the refusals after a disconnection, which failures mean
// the device is gone, and the messages. A transport only moves bytes and reports how each
// transfer ended, with a Windows error code (0 for success) whatever the system underneath.
//
// Backends: win32 (two overlapped handles on the interface path and three events), linux (one
// non-blocking hidraw descriptor and an eventfd, waits by poll on the monotonic clock), sim
// (the simulated bus, on its virtual clock). Each defines MakeHidTransport() once; an
// executable gets its backend through what it links.
//
// Threads: one thread drives a channel. cancel() alone may come from another thread while that
// thread waits in write() or read(): the wait ends with HidWaitEnd::Terminated. On Linux it
// cannot end a write or a feature request already in the kernel (the USB core's control
// transfer is not interruptible and lasts up to 5000 ms), only a wait for the device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// How a write or a read ended.
enum class HidWaitEnd : uint8_t {
    // Done or refused without waiting (Windows: the call completed or failed at once). The
    // error is the call's own.
    AtOnce,
    // The transfer was started and waited for; the error is what it completed with.
    Completed,
    // cancel() ended the wait; the transfer is cancelled. The error is not looked at.
    Terminated,
    // The time-out passed. The transfer was looked at once more (it may have finished right at
    // the limit: error 0) and otherwise cancelled; the error is that last look's.
    TimedOut,
    // The wait itself failed: waitResult holds what it returned, the error the system's last
    // error (not looked at for a read). The transfer is cancelled.
    WaitFailed,
};

struct HidTransfer {
    HidWaitEnd end = HidWaitEnd::AtOnce;
    uint32_t bytes = 0;       // bytes moved (written so far when timed out)
    uint32_t waitResult = 0;  // WaitFailed only
};

// Which step of open() failed.
enum class HidOpenStep : uint8_t {
    Events,       // the wait objects (no message: the system is out of handles)
    ReadHandle,   // the device path for input and feature reports
    WriteHandle,  // the device path for output reports
};

class HidTransport {
public:
    virtual ~HidTransport() = default;

    // Opens the device interface path (Windows: the interface path, twice, for overlapped
    // reads and writes, with a queue of 128 input reports; Linux: a hidraw node, or a
    // collection of one as "/dev/hidrawN&colNN", whose descriptor says which reports are the
    // collection's; sim: an interface of the bus). 0 or the error, and `failed` says which
    // step it was. What was opened before a failure stays open until close().
    virtual uint32_t open(const std::wstring& path, HidOpenStep& failed) = 0;

    // Signals the terminate event: a wait in progress and every later wait end at once with
    // Terminated. Never reset. Safe from another thread (see above).
    virtual void cancel() = 0;

    // Closes whatever is held; a second call closes nothing. Transfers after it fail at once.
    virtual void close() = 0;

    // Drops the input reports that have arrived. 0 or the error.
    virtual uint32_t flush() = 0;

    // Fetches a feature report: buffer[0] holds the report id on the way in and out, and a
    // shorter answer leaves the rest of the buffer zero. Unbounded by the transport: Windows
    // and the kernel give up on their own (Linux: up to 5000 ms). 0 or the error.
    virtual uint32_t getFeature(uint8_t* buffer, uint32_t length) = 0;

    // Sends one output report, buffer[0] being the report id (0 when the device numbers none),
    // waiting at most timeoutMs for it to go out. Linux refuses, with
    // ERROR_INVALID_PARAMETER, a length other than the collection's output report length or a
    // report id the collection does not declare, as the Windows driver does. 0 or the error;
    // `how` says how it ended and how many bytes went.
    virtual uint32_t write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                           HidTransfer& how) = 0;

    // Reads one input report of the channel's collection into buffer, report id first (0 for
    // an unnumbered device, as Windows puts it), cut to `length` bytes, waiting at most
    // timeoutMs; a zero time-out still takes a report already queued. Linux drops reports of
    // the node's other collections and waits on for the time left. 0 or the error.
    virtual uint32_t read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                          HidTransfer& how) = 0;
};

// The linked backend's transport, not yet open.
std::unique_ptr<HidTransport> MakeHidTransport();
