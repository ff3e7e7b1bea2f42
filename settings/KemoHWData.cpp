#include "settings/KemoHWData.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Paths.h"
#include "platform/PrivateProfile.h"
#include "platform/Text.h"

namespace {

// Only exactly two hexadecimal digits are a value. Anything else ("5", "001", "0x1",
// "+1", "-1", "1z", blanks inside) is the invalid marker, which the range check refuses,
// so a mistyped value never reaches the monitor as something else.
uint8_t ItemValue(uint32_t count, const std::wstring& text) {
    if (count != 2 || text.size() != 2) {
        return kInvalidItemValue;
    }
    const int high = HexDigitValue(static_cast<char32_t>(text[0]));
    const int low = HexDigitValue(static_cast<char32_t>(text[1]));
    if (high < 0 || low < 0) {
        return kInvalidItemValue;
    }
    return static_cast<uint8_t>(high * 16 + low);
}

// Where relative INI names live (a platform choice), with one separator.
std::wstring IniBaseDirectoryWithSeparator() {
    return IniBaseDirectory() + kPathSeparator;
}

struct CfgRecordLayout {
    uint8_t length;
    uint8_t address[3];
    uint8_t constantsAt;  // first data byte that is not a setting
    uint8_t constantCount;
    uint8_t constants[8];
};

// Records 2 to 5 address configuration bytes 10 00 <offset>; records 0 and 1 carry only
// constants. Configuration bytes 0x21..0x28 and 0x36..0x37 always receive the constants.
constexpr std::array<CfgRecordLayout, kCfgRecordCount> kCfgRecords{{
    {0x01, {0xFF, 0x00, 0x00}, 0, 1, {0x01}},
    {0x02, {0x10, 0x73, 0x52}, 0, 2, {0x01, 0x01}},
    {0x04, {0x10, 0x00, 0x00}, 0, 0, {}},
    {0x03, {0x10, 0x00, 0x10}, 0, 0, {}},
    {0x09, {0x10, 0x00, 0x20}, 1, 8, {0x01, 0x01, 0x14, 0x64, 0x00, 0x00, 0x01, 0x01}},
    {0x0B, {0x10, 0x00, 0x30}, 6, 2, {0x14, 0x00}},
}};

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

uint8_t KemoHWData::ReadINIValue(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& path) {
    std::wstring text;
    const uint32_t count = ProfileReadString(section, key, path, text);
    return ItemValue(count, text);
}

bool KemoHWData::ReadINIFile(const std::wstring& path) {
    iniFilePath = path;
    if (path.empty()) {
        return false;
    }
    if (PathIsRelative(path)) {
        iniFilePath = IniBaseDirectoryWithSeparator() + path;
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
    // All 17 values in one reading of the file.
    std::vector<ProfileQuery> queries;
    queries.reserve(kSettingsItems.size());
    for (const SettingsItem& item : kSettingsItems) {
        queries.push_back({item.section, item.key, {}, 0});
    }
    ProfileReadStrings(iniFilePath, queries);
    for (size_t i = 0; i < kSettingsItems.size(); ++i) {
        cfgImage[kSettingsItems[i].imageOffset] = ItemValue(queries[i].count, queries[i].value);
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
    cfgBlock[kCfgCommitOffset] = 0x00;
    cfgBlock[kCfgCommitOffset + 1] = 0x00;
    cfgBlock[kCfgCommitOffset + 2] = 0x00;

    // Each record: its data length, three address bytes and the data bytes that are not
    // settings; the settings themselves land at the block offsets of the item table.
    for (size_t k = 0; k < kCfgRecords.size(); ++k) {
        const CfgRecordLayout& record = kCfgRecords[k];
        uint8_t* start = cfgBlock.data() + kCfgRecordsOffset + k * kCfgRecordSize;
        start[0] = record.length;
        std::memcpy(start + 1, record.address, sizeof(record.address));
        std::memcpy(start + 4 + record.constantsAt, record.constants, record.constantCount);
    }
    for (const SettingsItem& item : kSettingsItems) {
        cfgBlock[item.blockOffset] = cfgImage[item.imageOffset];
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
        directory = IniBaseDirectoryWithSeparator();
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
