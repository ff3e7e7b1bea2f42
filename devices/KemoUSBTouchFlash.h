// The monitor's USB touch controller: known from its descriptors, no report channel.
#pragma once

#include "devices/ZelUsbFlash.h"

class KemoUSBTouchFlash : public ZelUsbFlash {
public:
    KemoUSBTouchFlash();
    ~KemoUSBTouchFlash() override;

    bool initialise(uint16_t vid, uint16_t pid, uint16_t level, std::wstring id,
                    std::wstring second) override;
    bool getFirmwareLevels(DeviceLevels& record) override;
    virtual bool updateDevice(std::wstring iniPath);
};
