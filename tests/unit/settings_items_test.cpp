// The item table, the range check and its messages, the settings image taken from a device
// answer and the configuration write block built from an INI file.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "settings/KemoHWData.h"
#include "settings/SettingsItems.h"
#include "tests/support/CaptureStdout.h"

namespace {

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

std::string IniText(const std::vector<std::pair<std::string, std::string>>& values) {
    std::string text;
    std::string section;
    for (size_t i = 0; i < kSettingsItems.size(); ++i) {
        const std::wstring wsection = kSettingsItems[i].section;
        const std::string itemSection(wsection.begin(), wsection.end());
        if (itemSection != section) {
            section = itemSection;
            text += "[" + section + "]\r\n";
        }
        const std::wstring wkey = kSettingsItems[i].key;
        text += std::string(wkey.begin(), wkey.end()) + "=" + values[i].second + "\r\n";
    }
    return text;
}

// Keys, sections, order, defaults and block offsets are checked by the default file and
// the block tests; here the ranges, at both ends of each.
TEST(SettingsItemsTest, EveryItemRangeIsInclusiveAndBelowTheMarker) {
    const int ranges[][2] = {{0, 0x28}, {0, 0x20}, {0, 1},    {0, 1},    {1, 3},    {1, 0x0A},
                             {0, 0x28}, {0, 3},    {0, 0x28}, {0, 0x28}, {0, 0x20}, {0, 1},
                             {0, 1},    {0, 1},    {0, 1},    {0, 1},    {0, 1}};
    ASSERT_EQ(std::size(ranges), kSettingsItems.size());
    CaptureOutput capture;  // the messages are checked elsewhere
    for (size_t i = 0; i < kSettingsItems.size(); ++i) {
        const SettingsItem& item = kSettingsItems[i];
        const auto check = [&item](int value) {
            return KemoHWData::CheckItemMinMax(static_cast<uint8_t>(value), item.key, item.min,
                                               item.max, item.def);
        };
        const int min = ranges[i][0];
        const int max = ranges[i][1];
        EXPECT_TRUE(check(min)) << i;
        EXPECT_TRUE(check(max)) << i;
        EXPECT_TRUE(check(item.def)) << i;
        EXPECT_FALSE(check(max + 1)) << i;
        if (min > 0) {
            EXPECT_FALSE(check(min - 1)) << i;
        }
        EXPECT_FALSE(check(kInvalidItemValue)) << i;
    }
}

struct CheckCase {
    uint8_t value;
    size_t item;
    bool accepted;
    const char* output;
};

TEST(SettingsItemsTest, RangeCheckMessages) {
    const CheckCase cases[] = {
        {0x28, 0, true, ""},
        {0x00, 0, true, ""},
        {0x29, 0, false,
         "Error: Item \"Volume\" is too high 41 (0x29). Check the configuration file used.\n"
         "- Min: 0 (0x00)\n- Max: 40 (0x28)\n- Default: 32 (0x20)\n"},
        {0x00, 4, false,
         "Error: Item \"BOTFreq\" is too low 0 (0x00). Check the configuration file used.\n"
         "- Min: 1 (0x01)\n- Max: 3 (0x03)\n- Default: 2 (0x02)\n"
         "Check the configuration file used."},
        {0x00, 5, false,
         "Error: Item \"BOTDur\" is too low 0 (0x00). Check the configuration file used.\n"
         "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n"
         "Check the configuration file used."},
        {0x01, 5, true, ""},
        {0x0A, 5, true, ""},
        {0x0B, 5, false,
         "Error: Item \"BOTDur\" is too high 11 (0x0b). Check the configuration file used.\n"
         "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n"},
        {0xFE, 13, false,
         "Error: Item \"OSDEBLEn\" is too high 254 (0xfe). Check the configuration file used.\n"
         "- Min: 0 (0x00)\n- Max: 1 (0x01)\n- Default: 0 (0x00)\n"},
        // 0xFF is the marker for a value that is not two hex digits, never "too high".
        {0xFF, 10, false,
         "Error: Invalid value entry for item \"IconBright\".\n"
         "Check the [min-max] values allowed.\n"},
        {0xFF, 4, false,
         "Error: Invalid value entry for item \"BOTFreq\".\n"
         "Check the [min-max] values allowed.\n"},
    };
    for (const CheckCase& c : cases) {
        const SettingsItem& item = kSettingsItems[c.item];
        CaptureOutput capture;
        const bool accepted =
            KemoHWData::CheckItemMinMax(c.value, item.key, item.min, item.max, item.def);
        EXPECT_EQ(accepted, c.accepted) << c.output;
        EXPECT_EQ(capture.out(), c.output);
        EXPECT_EQ(capture.err(), "");
    }
}

TEST(SettingsItemsTest, CheckAllItemsReportsOnlyTheFirstBadItem) {
    KemoHWData data;
    for (const SettingsItem& item : kSettingsItems) {
        data.CfgImage()[item.imageOffset] = item.def;
    }
    {
        CaptureOutput capture;
        EXPECT_TRUE(data.CheckAllItems());
        EXPECT_EQ(capture.out(), "");
    }
    data.CfgImage()[0x33] = 0x02;  // OSDIBCEn, item 15
    data.CfgImage()[0x01] = 0xFF;  // BOTDur, item 6
    CaptureOutput capture;
    EXPECT_FALSE(data.CheckAllItems());
    EXPECT_EQ(capture.out(),
              "Error: Invalid value entry for item \"BOTDur\".\n"
              "Check the [min-max] values allowed.\n");
    EXPECT_EQ(data.CfgImage()[0x33], 0x02);  // the check changes nothing
}

std::vector<uint8_t> Answer(size_t size, uint8_t base) {
    std::vector<uint8_t> answer(size);
    for (size_t i = 0; i < size; ++i) {
        answer[i] = static_cast<uint8_t>(base + i);
    }
    return answer;
}

TEST(SettingsItemsTest, LoadCurrentCfgTakesBytes7To70) {
    KemoHWData data;
    EXPECT_FALSE(data.HasDeviceCfg());
    EXPECT_FALSE(data.LoadCurrentCfg());  // nothing held yet

    const std::vector<uint8_t> answer = Answer(72, 0x40);
    data.StoreRawCfg(answer.data(), static_cast<uint32_t>(answer.size()));
    EXPECT_EQ(data.RawCfgSize(), 72u);
    EXPECT_TRUE(data.LoadCurrentCfg());
    EXPECT_TRUE(data.HasDeviceCfg());
    for (size_t i = 0; i < kCfgImageSize; ++i) {
        EXPECT_EQ(data.CfgImage()[i], answer[7 + i]) << i;
    }
}

TEST(SettingsItemsTest, ShortAnswerLeavesImageAndSaysSo) {
    KemoHWData data;
    const std::vector<uint8_t> good = Answer(71, 0x10);
    data.StoreRawCfg(good.data(), static_cast<uint32_t>(good.size()));
    ASSERT_TRUE(data.LoadCurrentCfg());
    const auto image = data.CfgImage();

    for (const size_t size : {size_t{70}, size_t{7}, size_t{1}}) {
        const std::vector<uint8_t> shortAnswer = Answer(size, 0x90);
        data.StoreRawCfg(shortAnswer.data(), static_cast<uint32_t>(shortAnswer.size()));
        EXPECT_FALSE(data.LoadCurrentCfg()) << size;
        EXPECT_FALSE(data.HasDeviceCfg()) << size;
        EXPECT_EQ(data.CfgImage(), image) << size;
    }
}

class CfgBlockTest : public ::testing::Test {
protected:
    bool Build(KemoHWData& data, const std::string& ini) {
        const std::string path = dir.file("block.ini");
        WriteFileBytes(path, ini);
        CaptureOutput capture;
        const bool built = data.SetCfgBytes(dir.wfile("block.ini"));
        output = capture.out();
        return built;
    }
    TempDir dir;
    std::string output;
};

std::vector<std::pair<std::string, std::string>> Defaults() {
    return {{"Volume", "20"},   {"Brightness", "1d"}, {"RmtPwrCtrl", "01"}, {"ExtBLEn", "01"},
            {"BOTFreq", "02"},  {"BOTDur", "02"},     {"BOTVol", "18"},     {"BOTEvent", "01"},
            {"Tone1Vol", "18"}, {"Tone2Vol", "26"},   {"IconBright", "1b"}, {"OSDEn", "01"},
            {"OSDRPCEn", "01"}, {"OSDEBLEn", "00"},   {"OSDIBCEn", "01"},   {"OSDVCEn", "01"},
            {"OSDBCEn", "01"}};
}

TEST_F(CfgBlockTest, DefaultsGiveTheBlockByteForByte) {
    KemoHWData data;
    // Bytes the device reported that are not items must not reach the block.
    const std::vector<uint8_t> answer(80, 0xAA);
    data.StoreRawCfg(answer.data(), static_cast<uint32_t>(answer.size()));
    ASSERT_TRUE(data.LoadCurrentCfg());

    ASSERT_TRUE(Build(data, IniText(Defaults())));
    EXPECT_EQ(output, "");
    const std::vector<uint8_t> expected =
        Hex("33303243 30313939"                             // "302C" "0199"
            "01ff0000 01000000 00000000 00000000 00000000"  // record 0
            "02107352 01010000 00000000 00000000 00000000"  // record 1
            "04100000 02021801 00000000 00000000 00000000"  // record 2
            "03100010 18262000 00000000 00000000 00000000"  // record 3
            "09100020 1b010114 64000001 01000000 00000000"  // record 4
            "0b100030 01010001 01011400 1d010100 00000000"  // record 5
            "000000");
    ASSERT_EQ(expected.size(), kCfgBlockSize);
    const auto& block = data.CfgBlock();
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()), expected);
}

TEST_F(CfgBlockTest, EveryItemLandsAtItsBlockOffset) {
    KemoHWData data;
    const std::vector<std::pair<std::string, std::string>> values = {
        {"Volume", "28"},   {"Brightness", "00"}, {"RmtPwrCtrl", "00"}, {"ExtBLEn", "00"},
        {"BOTFreq", "03"},  {"BOTDur", "0A"},     {"BOTVol", "00"},     {"BOTEvent", "03"},
        {"Tone1Vol", "01"}, {"Tone2Vol", "27"},   {"IconBright", "20"}, {"OSDEn", "00"},
        {"OSDRPCEn", "00"}, {"OSDEBLEn", "01"},   {"OSDIBCEn", "00"},   {"OSDVCEn", "00"},
        {"OSDBCEn", "00"}};
    ASSERT_TRUE(Build(data, IniText(values)));
    const std::vector<uint8_t> expected =
        Hex("33303243 30313939"
            "01ff0000 01000000 00000000 00000000 00000000"
            "02107352 01010000 00000000 00000000 00000000"
            "04100000 030a0003 00000000 00000000 00000000"
            "03100010 01272800 00000000 00000000 00000000"
            "09100020 20010114 64000001 01000000 00000000"
            "0b100030 00000100 00001400 00000000 00000000"
            "000000");
    const auto& block = data.CfgBlock();
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()), expected);
    for (size_t i = 0; i < kSettingsItems.size(); ++i) {
        const uint8_t value = static_cast<uint8_t>(std::stoi(values[i].second, nullptr, 16));
        EXPECT_EQ(block[kSettingsItems[i].blockOffset], value) << i;
        EXPECT_EQ(data.CfgImage()[kSettingsItems[i].imageOffset], value) << i;
    }
}

TEST_F(CfgBlockTest, FailedReadLeavesTheBlockAsItWas) {
    KemoHWData data;
    ASSERT_TRUE(Build(data, IniText(Defaults())));
    const auto before = data.CfgBlock();
    auto values = Defaults();
    values[9].second = "29";  // Tone2Vol above 0x28
    values[0].second = "1f";  // a valid, different Volume
    EXPECT_FALSE(Build(data, IniText(values)));
    EXPECT_EQ(output,
              "Error: Item \"Tone2Vol\" is too high 41 (0x29). Check the configuration file used.\n"
              "- Min: 0 (0x00)\n- Max: 40 (0x28)\n- Default: 38 (0x26)\n");
    EXPECT_EQ(data.CfgBlock(), before);
    // The values read stay in the image.
    EXPECT_EQ(data.CfgImage()[0x12], 0x1F);
    EXPECT_EQ(data.CfgImage()[0x11], 0x29);
}

}  // namespace
