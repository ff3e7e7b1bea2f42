// One open channel to a HID interface: input and feature reports on the read side, output
// reports on the write side, time-limited transfers and a terminate signal. The rules are the
// same on every backend and live here; the transport under it (hid/HidTransport.h) is the
// backend's.
//
// Every operation but open() and terminate() first checks the connected flag: once a transfer
// has met ERROR_DEVICE_NOT_CONNECTED (1167: the device left), each refuses at once with its
// "device is not connected" line and touches nothing. Nothing sets the flag again. Other
// errors fail the one call and leave the channel usable. Messages go to the log at Debug
// (formatted ones are echoed with -v); only getFeature's failure goes to the console.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hid/HidTransport.h"

inline constexpr uint32_t kInputReportLength = 9;

class HidIo {
public:
    HidIo();  // over MakeHidTransport()
    explicit HidIo(std::unique_ptr<HidTransport> transport);
    ~HidIo();  // closes what is still held, without a word
    HidIo(const HidIo&) = delete;
    HidIo& operator=(const HidIo&) = delete;

    // Opens the device interface path; false (logged) when any part failed. Call terminate()
    // after a failed open as after a good one.
    bool open(const std::wstring& path);

    // Logs its banner, ends any wait in progress and closes everything. Called by the channel's
    // owner, last; a second call closes nothing. May come from another thread while a
    // transfer waits (see HidTransport::cancel).
    void terminate();

    // Drops the input reports already queued; false when that failed.
    bool flushDeviceQueue();

    // Sends one output report (buffer[0] is the report id), waiting at most 5000 ms for it to
    // go out. True when it went, even with fewer bytes than asked (logged).
    bool sendOutputReport(const uint8_t* buffer, uint32_t length);

    // Reads exactly 9 bytes (report id and eight data bytes, whatever the device's input
    // length) into a buffer zeroed first, waiting at most timeoutMs. False on time-out,
    // terminate or error, without a message: the caller knows what it waited for.
    bool recvInputReport(uint8_t* buffer, uint32_t timeoutMs);

    // Fetches a feature report; buffer[0] holds the report id. A failure prints
    // "HidIo::getFeature - err=%08x" on standard output, whatever -v says, and does not mark
    // the device gone (the next transfer will).
    bool getFeature(uint8_t* buffer, uint32_t length);

    bool isConnected() const { return connected; }

private:
    // Clears the flag when the error says the device left; true then.
    bool gone(uint32_t error);

    bool connected = true;
    std::unique_ptr<HidTransport> transport;
};
