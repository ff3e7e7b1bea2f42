#include "settings/KemoHWData.h"

#include <cstdio>
#include <cstring>

#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Paths.h"
#include "platform/PrivateProfile.h"
#include "platform/Text.h"

namespace {

int HexDigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// The executable's directory and one separator: where relative INI names live.
std::wstring ExecutableDirectoryWithSeparator() {
    return ExecutableDirectory() + kPathSeparator;
}

}  // namespace

KemoHWData::KemoHWData() = default;
KemoHWData::~KemoHWData() = default;

void KemoHWData::StoreRawCfg(const uint8_t* data, uint32_t size) {
    rawCfg.reset();
    rawCfgSize = 0;
    // A new answer replaces the old one: until it has been taken into the image, the image
    // does not hold the device's current configuration.
    deviceCfgLoaded = false;
    if (data == nullptr || size == 0) {
        return;
    }
    rawCfg = std::make_unique<uint8_t[]>(size);
    std::memcpy(rawCfg.get(), data, size);
    rawCfgSize = size;
}

bool KemoHWData::LoadCurrentCfg() {
    if (!rawCfg || rawCfgSize < kCfgAnswerMinSize) {
        return false;
    }
    std::memcpy(cfgImage.data(), rawCfg.get() + kCfgImageOffsetInAnswer, kCfgImageSize);
    deviceCfgLoaded = true;
    return true;
}

bool KemoHWData::CheckItemMinMax(uint8_t value, const wchar_t* name, uint8_t min, uint8_t max,
                                 uint8_t def) {
    LogMessage(LogDebug, "CheckItemMinMax: Item=0x%02x Min=0x%02x Max=0x%02x Def=0x%02x", value,
               min, max, def);
    const std::string item = Narrow(name != nullptr ? name : L"");
    if (value == kInvalidItemValue) {
        ConsolePrintf(
            "Error: Invalid value entry for item \"%s\".\nCheck the [min-max] values allowed.\n",
            item.c_str());
        return false;
    }
    const bool tooLow = value < min;
    if (!tooLow && value <= max) {
        return true;
    }
    ConsolePrintf("Error: Item \"%s\" is too %s %d (0x%02x). Check the configuration file used.\n",
                  item.c_str(), tooLow ? "low" : "high", value, value);
    ConsolePrintf("- Min: %d (0x%02x)\n", min, min);
    ConsolePrintf("- Max: %d (0x%02x)\n", max, max);
    ConsolePrintf("- Default: %d (0x%02x)\n", def, def);
    if (tooLow) {
        // Without a line end: the next output continues on this line.
        ConsolePrintf("Check the configuration file used.");
    }
    return false;
}

bool KemoHWData::CheckAllItems() {
    for (const SettingsItem& item : kSettingsItems) {
        if (!CheckItemMinMax(cfgImage[item.imageOffset], item.key, item.min, item.max, item.def)) {
            return false;
        }
    }
    return true;
}

// Only exactly two hexadecimal digits are a value. Anything else ("5", "001", "0x1",
// "+1", "-1", "1z", blanks inside) is the invalid marker, which the range check refuses,
// so a mistyped value never reaches the monitor as something else.
uint8_t KemoHWData::ReadINIValue(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& path) {
    std::wstring text;
    const uint32_t count = ProfileReadString(section, key, path, text);
    if (count != 2 || text.size() != 2) {
        return kInvalidItemValue;
    }
    const int high = HexDigitValue(text[0]);
    const int low = HexDigitValue(text[1]);
    if (high < 0 || low < 0) {
        return kInvalidItemValue;
    }
    return static_cast<uint8_t>(high * 16 + low);
}

bool KemoHWData::ReadINIFile(const std::wstring& path) {
    iniFilePath = path;
    if (path.empty()) {
        return false;
    }
    if (PathIsRelative(path)) {
        iniFilePath = ExecutableDirectoryWithSeparator() + path;
    }
    uint32_t attributes = 0;
    uint32_t error = 0;
    if (!QueryFileAttributes(iniFilePath, attributes, error)) {
        LogMessage(LogError, "KemoHWData::ReadINIFile() - doesFileExist error=0x%08x", error);
        ConsolePrintf("Error: File [%s] does not exist.\n", Narrow(iniFilePath).c_str());
        return false;
    }
    // The image now holds the file's values, not the device's.
    deviceCfgLoaded = false;
    for (const SettingsItem& item : kSettingsItems) {
        cfgImage[item.imageOffset] = ReadINIValue(item.section, item.key, iniFilePath);
    }
    return CheckAllItems();
}

bool KemoHWData::SetCfgBytes(const std::wstring& path) {
    if (!ReadINIFile(path)) {
        LogWriteText(LogError, "KemoHWData::SetCfgBytes() - error reading INI file");
        return false;
    }
    std::memcpy(cfgBlock.data(), "302C", 4);
    char version[8];
    std::snprintf(version, sizeof(version), "%04d", 199);
    std::memcpy(cfgBlock.data() + 4, version, 4);
    cfgBlock[128] = 0x00;
    cfgBlock[129] = 0x00;
    cfgBlock[130] = 0x00;

    // Record 0: into update mode.
    cfgBlock[8] = 0x01;
    cfgBlock[9] = 0xFF;
    cfgBlock[10] = 0x00;
    cfgBlock[11] = 0x00;
    cfgBlock[12] = 0x01;

    // Record 1.
    cfgBlock[28] = 0x02;
    cfgBlock[29] = 0x10;
    cfgBlock[30] = 0x73;
    cfgBlock[31] = 0x52;
    cfgBlock[32] = 0x01;
    cfgBlock[33] = 0x01;

    // Record 2: configuration bytes 0x00..0x03, beep on touch.
    cfgBlock[48] = 0x04;
    cfgBlock[49] = 0x10;
    cfgBlock[50] = 0x00;
    cfgBlock[51] = 0x00;
    for (size_t i = 0; i < 4; ++i) {
        cfgBlock[52 + i] = cfgImage[0x00 + i];
    }

    // Record 3: configuration bytes 0x10..0x12, POS tones and master volume.
    cfgBlock[68] = 0x03;
    cfgBlock[69] = 0x10;
    cfgBlock[70] = 0x00;
    cfgBlock[71] = 0x10;
    for (size_t i = 0; i < 3; ++i) {
        cfgBlock[72 + i] = cfgImage[0x10 + i];
    }

    // Record 4: configuration bytes 0x20..0x28, icon brightness and fixed bytes.
    static constexpr uint8_t kRecord4Constants[8] = {0x01, 0x01, 0x14, 0x64,
                                                     0x00, 0x00, 0x01, 0x01};
    cfgBlock[88] = 0x09;
    cfgBlock[89] = 0x10;
    cfgBlock[90] = 0x00;
    cfgBlock[91] = 0x20;
    cfgBlock[92] = cfgImage[0x20];
    std::memcpy(cfgBlock.data() + 93, kRecord4Constants, sizeof(kRecord4Constants));

    // Record 5: configuration bytes 0x30..0x3A, OSD locks, fixed bytes, brightness,
    // extended backlight life and remote power control.
    cfgBlock[108] = 0x0B;
    cfgBlock[109] = 0x10;
    cfgBlock[110] = 0x00;
    cfgBlock[111] = 0x30;
    for (size_t i = 0; i < 6; ++i) {
        cfgBlock[112 + i] = cfgImage[0x30 + i];
    }
    cfgBlock[118] = 0x14;
    cfgBlock[119] = 0x00;
    for (size_t i = 0; i < 3; ++i) {
        cfgBlock[120 + i] = cfgImage[0x38 + i];
    }
    return true;
}

int KemoHWData::WriteINIValue(const std::wstring& section, const std::wstring& key, uint8_t value,
                              const std::wstring& path, uint32_t* error) {
    char text[3];
    std::snprintf(text, sizeof(text), "%02x", value);
    uint32_t writeError = 0;
    const bool written = ProfileWriteString(section, key, Widen(text), path, writeError);
    if (error != nullptr) {
        *error = writeError;
    }
    return written ? 1 : 0;
}

bool KemoHWData::CreateINIFile(const std::wstring& path, bool useCurrent) {
    iniFilePath = path;
    if (path.empty()) {
        return false;
    }
    std::wstring directory;
    if (PathIsRelative(path)) {
        directory = ExecutableDirectoryWithSeparator();
        iniFilePath = directory + path;
    } else {
        const size_t last = path.find_last_of(kPathSeparator);
        directory = (last == std::wstring::npos ? path : path.substr(0, last)) + kPathSeparator;
    }

    uint32_t attributes = 0;
    uint32_t error = 0;
    if (!QueryFileAttributes(directory, attributes, error) ||
        (attributes & kFileAttributeDirectory) == 0) {
        LogMessage(LogError, "KemoHWData::CreateINIFile() - doesPathExist error=0x%08x", error);
        ConsolePrintf("Error: Directory [%s] does not exist.\n", Narrow(directory).c_str());
        return false;
    }

    // Only a configuration read from the device may be saved as the current one.
    if (useCurrent && (!rawCfg || rawCfgSize == 0 || !deviceCfgLoaded)) {
        return false;
    }

    for (const SettingsItem& item : kSettingsItems) {
        const uint8_t value = useCurrent ? cfgImage[item.imageOffset] : item.def;
        uint32_t writeError = 0;
        // Stop at the first failure: the user must learn that the file is not complete.
        if (WriteINIValue(item.section, item.key, value, iniFilePath, &writeError) == 0) {
            LogMessage(LogError,
                       "KemoHWData::CreateINIFile() - WritePrivateProfileString error=0x%08x",
                       writeError);
            ConsolePrintf("Error: Writing INI file [%s] failed.\n", Narrow(iniFilePath).c_str());
            return false;
        }
    }
    return true;
}
