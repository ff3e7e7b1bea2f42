// The 17 monitor settings: INI key and section, where each lives in the 64-byte settings
// image and in the 131-byte configuration write block, its range and factory default.
#pragma once

#include <array>
#include <cstdint>

inline constexpr const wchar_t* kKeyVolume = L"Volume";
inline constexpr const wchar_t* kKeyBrightness = L"Brightness";
inline constexpr const wchar_t* kKeyRmtPwrCtrl = L"RmtPwrCtrl";
inline constexpr const wchar_t* kKeyExtBLEn = L"ExtBLEn";
inline constexpr const wchar_t* kKeyBOTFreq = L"BOTFreq";
inline constexpr const wchar_t* kKeyBOTDur = L"BOTDur";
inline constexpr const wchar_t* kKeyBOTVol = L"BOTVol";
inline constexpr const wchar_t* kKeyBOTEvent = L"BOTEvent";
inline constexpr const wchar_t* kKeyTone1Vol = L"Tone1Vol";
inline constexpr const wchar_t* kKeyTone2Vol = L"Tone2Vol";
inline constexpr const wchar_t* kKeyIconBright = L"IconBright";
inline constexpr const wchar_t* kKeyOSDEn = L"OSDEn";
inline constexpr const wchar_t* kKeyOSDRPCEn = L"OSDRPCEn";
inline constexpr const wchar_t* kKeyOSDEBLEn = L"OSDEBLEn";
inline constexpr const wchar_t* kKeyOSDIBCEn = L"OSDIBCEn";
inline constexpr const wchar_t* kKeyOSDVCEn = L"OSDVCEn";
inline constexpr const wchar_t* kKeyOSDBCEn = L"OSDBCEn";

inline constexpr const wchar_t* kSectionGeneral = L"General";
inline constexpr const wchar_t* kSectionBeepOnTouch = L"BeepOnTouch";
inline constexpr const wchar_t* kSectionPOSTone = L"POSTone";
inline constexpr const wchar_t* kSectionOpPannel = L"OpPannel";  // sic: stored files use it
inline constexpr const wchar_t* kSectionOSD = L"OSD";

struct SettingsItem {
    const wchar_t* key;
    const wchar_t* section;
    uint8_t imageOffset;  // also the controller configuration address (0x10 0x00 offset)
    uint8_t blockOffset;  // offset in the configuration write block
    uint8_t min;
    uint8_t max;
    uint8_t def;
};

inline constexpr size_t kSettingsItemCount = 17;

// Canonical item order: files are read and written, and values checked, in this order.
inline constexpr std::array<SettingsItem, kSettingsItemCount> kSettingsItems{{
    {kKeyVolume, kSectionGeneral, 0x12, 74, 0x00, 0x28, 0x20},
    {kKeyBrightness, kSectionGeneral, 0x38, 120, 0x00, 0x20, 0x1D},
    {kKeyRmtPwrCtrl, kSectionGeneral, 0x3A, 122, 0x00, 0x01, 0x01},
    {kKeyExtBLEn, kSectionGeneral, 0x39, 121, 0x00, 0x01, 0x01},
    {kKeyBOTFreq, kSectionBeepOnTouch, 0x00, 52, 0x01, 0x03, 0x02},
    {kKeyBOTDur, kSectionBeepOnTouch, 0x01, 53, 0x01, 0x0A, 0x02},
    {kKeyBOTVol, kSectionBeepOnTouch, 0x02, 54, 0x00, 0x28, 0x18},
    {kKeyBOTEvent, kSectionBeepOnTouch, 0x03, 55, 0x00, 0x03, 0x01},
    {kKeyTone1Vol, kSectionPOSTone, 0x10, 72, 0x00, 0x28, 0x18},
    {kKeyTone2Vol, kSectionPOSTone, 0x11, 73, 0x00, 0x28, 0x26},
    {kKeyIconBright, kSectionOpPannel, 0x20, 92, 0x00, 0x20, 0x1B},
    {kKeyOSDEn, kSectionOSD, 0x30, 112, 0x00, 0x01, 0x01},
    {kKeyOSDRPCEn, kSectionOSD, 0x31, 113, 0x00, 0x01, 0x01},
    {kKeyOSDEBLEn, kSectionOSD, 0x32, 114, 0x00, 0x01, 0x00},
    {kKeyOSDIBCEn, kSectionOSD, 0x33, 115, 0x00, 0x01, 0x01},
    {kKeyOSDVCEn, kSectionOSD, 0x34, 116, 0x00, 0x01, 0x01},
    {kKeyOSDBCEn, kSectionOSD, 0x35, 117, 0x00, 0x01, 0x01},
}};

inline constexpr size_t kCfgImageSize = 64;
inline constexpr size_t kCfgBlockSize = 131;
// A configuration answer carries the image at bytes 7 to 70.
inline constexpr size_t kCfgImageOffsetInAnswer = 7;
inline constexpr size_t kCfgAnswerMinSize = kCfgImageOffsetInAnswer + kCfgImageSize;  // 71
// The write block: six 20-byte records from offset 8, three commit bytes from 128.
inline constexpr size_t kCfgRecordCount = 6;
inline constexpr size_t kCfgRecordSize = 20;
inline constexpr size_t kCfgRecordsOffset = 8;
inline constexpr size_t kCfgCommitOffset = 128;
// Marks a key without a valid value; above every item's maximum.
inline constexpr uint8_t kInvalidItemValue = 0xFF;
