// One open channel to a HID interface: a read handle (input and feature reports), a write
// handle (output reports), time-limited transfers and a terminate event. The backend's
// state lives behind Impl, so objects holding a HidIo have one layout whatever backend is
// linked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class HidIo {
public:
    HidIo();
    ~HidIo();
    HidIo(const HidIo&) = delete;
    HidIo& operator=(const HidIo&) = delete;

    bool open(const std::wstring& path);
    void terminate();
    bool flushDeviceQueue();
    bool sendOutputReport(const uint8_t* buffer, uint32_t length);
    // Reads exactly 9 bytes (report id and eight data bytes) into a buffer zeroed first.
    bool recvInputReport(uint8_t* buffer, uint32_t timeoutMs);
    // The first byte of buffer holds the report id.
    bool getFeature(uint8_t* buffer, uint32_t length);

    bool isConnected() const { return connected; }

    struct Impl;

private:
    bool connected = true;
    std::unique_ptr<Impl> impl;
};

inline constexpr uint32_t kInputReportLength = 9;
