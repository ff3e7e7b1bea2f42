// The item ranges, the range check and its messages, and the settings image taken from a
// device answer.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "settings/KemoHWData.h"
#include "tests/support/CaptureStdout.h"

namespace {

bool Check(size_t index, int value) {
    const SettingsItem& item = kSettingsItems[index];
    return KemoHWData::CheckItemMinMax(static_cast<uint8_t>(value), item.key, item.min, item.max,
                                       item.def);
}

// Keys, sections, order, defaults and block offsets show in the default file and the block
// tests; here each range, inclusive at both ends, and the invalid marker above them all.
TEST(SettingsItemsTest, EveryItemRange) {
    const int ranges[][2] = {{0, 0x28}, {0, 0x20}, {0, 1},    {0, 1},    {1, 3},    {1, 0x0A},
                             {0, 0x28}, {0, 3},    {0, 0x28}, {0, 0x28}, {0, 0x20}, {0, 1},
                             {0, 1},    {0, 1},    {0, 1},    {0, 1},    {0, 1}};
    ASSERT_EQ(std::size(ranges), kSettingsItems.size());
    CaptureOutput quiet;
    for (size_t i = 0; i < kSettingsItems.size(); ++i) {
        const auto [min, max] = ranges[i];
        EXPECT_TRUE(Check(i, min) && Check(i, max) && Check(i, kSettingsItems[i].def)) << i;
        EXPECT_FALSE(Check(i, max + 1) || (min > 0 && Check(i, min - 1)) || Check(i, 0xFF)) << i;
    }
}

TEST(SettingsItemsTest, RangeCheckMessages) {
    const struct {
        size_t item;
        uint8_t value;
        const char* output;  // "" for an accepted value
    } cases[] = {
        {5, 0x01, ""},
        {5, 0x0A, ""},
        {5, 0x00,  // sic: the too-low message ends without a line end
         "Error: Item \"BOTDur\" is too low 0 (0x00). Check the configuration file used.\n"
         "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n"
         "Check the configuration file used."},
        {5, 0x0B,
         "Error: Item \"BOTDur\" is too high 11 (0x0b). Check the configuration file used.\n"
         "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n"},
        {10, 0xFF,
         "Error: Invalid value entry for item \"IconBright\".\nCheck the [min-max] values "
         "allowed.\n"}};
    for (const auto& c : cases) {
        CaptureOutput capture;
        EXPECT_EQ(Check(c.item, c.value), *c.output == '\0') << c.output;
        EXPECT_EQ(capture.out(), c.output);
        EXPECT_EQ(capture.err(), "");
    }
}

TEST(SettingsItemsTest, CheckAllItemsReportsOnlyTheFirstBadItem) {
    KemoHWData data;  // an image of zeros: BOTFreq and BOTDur too low
    data.CfgImage()[0x00] = 0xFF;
    CaptureOutput capture;
    EXPECT_FALSE(data.CheckAllItems());
    EXPECT_EQ(capture.out(),
              "Error: Invalid value entry for item \"BOTFreq\".\n"
              "Check the [min-max] values allowed.\n");
}

// Bytes 7 to 70 of an answer are the image. A shorter answer leaves the image as it was and
// says so: the image is then not the device's current configuration.
TEST(SettingsItemsTest, LoadCurrentCfgNeedsTheWholeImage) {
    KemoHWData data;
    EXPECT_FALSE(data.LoadCurrentCfg());  // nothing held yet
    std::vector<uint8_t> answer(72);
    std::iota(answer.begin(), answer.end(), uint8_t{0});
    data.StoreRawCfg(answer.data(), 72);
    ASSERT_TRUE(data.LoadCurrentCfg());
    const auto image = data.CfgImage();
    EXPECT_TRUE(image[0] == 7 && image[63] == 70 && data.HasDeviceCfg());
    for (const uint32_t size : {70u, 7u, 1u}) {
        const std::vector<uint8_t> shortAnswer(size, 0x90);
        data.StoreRawCfg(shortAnswer.data(), size);
        EXPECT_FALSE(data.LoadCurrentCfg()) << size;
        EXPECT_FALSE(data.HasDeviceCfg()) << size;
        EXPECT_EQ(data.CfgImage(), image) << size;
    }
}

}  // namespace
