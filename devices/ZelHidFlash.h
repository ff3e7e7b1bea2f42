// Base of every device reached through a HID interface and a report channel.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "devices/DeviceLevels.h"
#include "hid/HidTypes.h"
#include "settings/SettingsItems.h"

class ZelHidFlash {
public:
    ZelHidFlash();
    virtual ~ZelHidFlash();
    ZelHidFlash(const ZelHidFlash&) = delete;
    ZelHidFlash& operator=(const ZelHidFlash&) = delete;

    // handle and preparsed belong to the enumeration and are valid during the call only.
    virtual bool initialise(HidHandle handle, HidPreparsedData preparsed, std::wstring path) = 0;
    virtual bool getFirmwareLevels(DeviceLevels& record) = 0;
    virtual bool updateDevice(std::wstring iniPath) = 0;
    // Both return true when the INI file was written.
    virtual bool saveCurrentConfig(std::wstring iniPath) = 0;
    virtual bool saveDefaultConfig(std::wstring iniPath) = 0;
    // The settings image the device holds now, read without changing anything; false, with
    // the user's message printed, when it cannot be read. A device without settings has none.
    virtual bool readCurrentConfig(std::array<uint8_t, kCfgImageSize>& image);

protected:
    std::wstring serial;
    HidAttributes attributes{};
    HidCaps caps{};
};
