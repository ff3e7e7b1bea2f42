// Base of devices known only from their USB descriptors.
#pragma once

#include <cstdint>
#include <string>

#include "devices/DeviceLevels.h"

class ZelUsbFlash {
public:
    ZelUsbFlash();
    virtual ~ZelUsbFlash();
    ZelUsbFlash(const ZelUsbFlash&) = delete;
    ZelUsbFlash& operator=(const ZelUsbFlash&) = delete;

    virtual bool initialise(uint16_t vid, uint16_t pid, uint16_t level, std::wstring id,
                            std::wstring second) = 0;
    virtual bool getFirmwareLevels(DeviceLevels& record) = 0;

protected:
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t level = 0;
    std::wstring id;
    std::wstring second;  // stored, never read
};
