// The settings model of one monitor's video controller.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "settings/SettingsItems.h"

class KemoHWData {
public:
    KemoHWData();
    ~KemoHWData();
    KemoHWData(const KemoHWData&) = delete;
    KemoHWData& operator=(const KemoHWData&) = delete;

    // Keeps a copy of a configuration answer from the controller (replacing any earlier one).
    void StoreRawCfg(const uint8_t* data, uint32_t size);
    // Copies bytes 7..70 of the held answer into the image. Returns false, leaving the image
    // unchanged, when no answer is held or it is shorter than 71 bytes: the image then holds
    // nothing read from the device.
    bool LoadCurrentCfg();
    // True once LoadCurrentCfg has filled the image from a device answer, until a new answer
    // is stored or an INI file is read into the image.
    bool HasDeviceCfg() const { return deviceCfgLoaded; }

    static bool CheckItemMinMax(uint8_t value, const wchar_t* name, uint8_t min, uint8_t max,
                                uint8_t def);
    bool CheckAllItems();
    std::wstring GetINIFilePath() const { return iniFilePath; }

    static uint8_t ReadINIValue(const std::wstring& section, const std::wstring& key,
                                const std::wstring& path);
    bool ReadINIFile(const std::wstring& path);
    bool SetCfgBytes(const std::wstring& path);

    // Returns the platform write's result: nonzero on success; on failure the platform's
    // error code goes to *error when given.
    static int WriteINIValue(const std::wstring& section, const std::wstring& key, uint8_t value,
                             const std::wstring& path, uint32_t* error = nullptr);
    // False, after printing and logging why, when a write fails; the writes stop there.
    bool CreateINIFile(const std::wstring& path, bool useCurrent);

    const std::array<uint8_t, kCfgBlockSize>& CfgBlock() const { return cfgBlock; }
    const std::array<uint8_t, kCfgImageSize>& CfgImage() const { return cfgImage; }
    std::array<uint8_t, kCfgImageSize>& CfgImage() { return cfgImage; }
    uint32_t RawCfgSize() const { return rawCfgSize; }

private:
    std::unique_ptr<uint8_t[]> rawCfg;
    uint32_t rawCfgSize = 0;
    std::wstring iniFilePath = L"VornikMonCfg.ini";
    std::array<uint8_t, kCfgBlockSize> cfgBlock{};
    std::array<uint8_t, kCfgImageSize> cfgImage{};
    bool deviceCfgLoaded = false;
};
