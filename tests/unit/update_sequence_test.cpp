// A whole configuration update on the simulated monitor: the reports on the wire, the
// console text, the monitor's bytes afterwards and the fixed pauses.
#include <gtest/gtest.h>

#include "devices_sim_fixture.h"
#include "update_test_data.h"

namespace {

using devtest::Bus;
using devtest::SimDeviceTest;

const std::string kSerial = "41-A0001";

class UpdateSequenceTest : public SimDeviceTest {
protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        iniPath = dir.file("apply.ini");
        WriteFileBytes(iniPath, devtest::kApplyIni);
    }
    std::string iniPath;
};

TEST_F(UpdateSequenceTest, AppliesTheFileWithTheExactReportsAndText) {
    const int m = AddMonitor(L"41-A0001");
    Monitor(m).componentTable = {0x01, 0x05, 0x01, 0x00, 0x02, 0x06, 0x02, 0x00,
                                 0x2a, 0x07, 0x03, 0x00, 0x04, 0x08, 0x04, 0x00};
    const std::array<uint8_t, 64> before = Monitor(m).config;
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const size_t from = Bus().transcript.size();
    const uint64_t start = Bus().clockMs;

    CaptureOutput capture;
    const bool updated = devices[0]->updateDevice(Widen(iniPath));
    const std::string printed = capture.out();
    ASSERT_TRUE(updated);

    EXPECT_EQ(Outs(kSerial, from), devtest::ExpectedUpdateOuts(kSerial));
    // Every report was answered before the next went out.
    EXPECT_EQ(Lines(kSerial, "IN", from).size(), 9u);

    const std::string want = "\nFirmware file found:  " + iniPath +
                             "\n"
                             "  Device - PID: 302c  COMP: 2a (SN='41-A0001')\n"
                             "    Starting firmware update of Product ID 302c COMP: 42\n"
                             "Updating Firmware in USB Device 302c component 42\n"
                             ".. %50  complete\n"
                             ".. %100 complete\n"
                             "Firmware update of Product ID 302c COMP: 42 finished\n"
                             "Firmware in USB Device 302c component 42 updated successfully\n"
                             "Reset to be done for PID 302c\n"
                             "Preparing the device for normal use...\n";
    EXPECT_EQ(printed, want);

    EXPECT_EQ(Monitor(m).config, devtest::ExpectedConfigAfterApply(before));
    EXPECT_FALSE(Monitor(m).updateMode);
    EXPECT_GE(Bus().clockMs - start, 11020u);

    const auto texts = LogTexts();
    for (const std::string& text : texts) {
        EXPECT_EQ(text.find("KemoVideoFlash::updateDevice"), std::string::npos) << text;
        EXPECT_EQ(text.find("KemoVideoFlash::writeKemoHWConfigBytes"), std::string::npos) << text;
    }
}

// The monitor's own values go out again unchanged when read back and re-applied.
TEST_F(UpdateSequenceTest, SavedFileAppliedBackGivesTheSameBytes) {
    const int m = AddMonitor(L"41-A0001");
    Monitor(m).config[0x12] = 0x07;  // Volume
    Monitor(m).config[0x38] = 0x03;  // Brightness
    const std::array<uint8_t, 64> before = Monitor(m).config;
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const std::string saved = dir.file("saved.ini");
    {
        CaptureOutput quiet;
        ASSERT_TRUE(devices[0]->saveCurrentConfig(Widen(saved)));
        ASSERT_TRUE(devices[0]->updateDevice(Widen(saved)));
    }
    std::array<uint8_t, 64> want = before;
    // The constants of records 4 and 5 replace whatever the monitor held there.
    const uint8_t panel[] = {0x01, 0x01, 0x14, 0x64, 0x00, 0x00, 0x01, 0x01};
    std::copy(std::begin(panel), std::end(panel), want.begin() + 0x21);
    want[0x36] = 0x14;
    want[0x37] = 0x00;
    EXPECT_EQ(Monitor(m).config, want);
}

// A record that claims more than its 16 data bytes is refused before update mode.
TEST_F(UpdateSequenceTest, OversizedRecordIsRefusedBeforeAnythingIsSent) {
    AddMonitor(L"41-A0001");
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const size_t from = Bus().transcript.size();
    for (size_t k = 0; k < 6; ++k) {
        std::array<uint8_t, kCfgBlockSize> block{};
        block[8 + 20 * k] = 17;
        CaptureOutput quiet;
        EXPECT_FALSE(devices[0]->writeKemoHWConfigBytes(block)) << k;
    }
    EXPECT_TRUE(Outs(kSerial, from).empty());
}

TEST_F(UpdateSequenceTest, FullSixteenByteRecordFillsBytesNineToTwentyFour) {
    AddMonitor(L"41-A0001");
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const size_t from = Bus().transcript.size();
    std::array<uint8_t, kCfgBlockSize> block{};
    for (size_t k = 0; k < 6; ++k) {
        block[8 + 20 * k] = 1;
        block[8 + 20 * k + 1] = 0x10;
        block[8 + 20 * k + 3] = static_cast<uint8_t>(0x30 + k);
        block[8 + 20 * k + 4] = 0x01;
    }
    // Record 5: sixteen data bytes at 0x20.
    block[108] = 16;
    block[111] = 0x20;
    for (uint8_t i = 0; i < 16; ++i) {
        block[112 + i] = static_cast<uint8_t>(0xa0 + i);
    }
    block[128] = 0x11;
    block[129] = 0x22;
    block[130] = 0x33;
    CaptureOutput quiet;
    ASSERT_TRUE(devices[0]->writeKemoHWConfigBytes(block));
    const auto outs = Outs(kSerial, from);
    ASSERT_EQ(outs.size(), 9u);
    EXPECT_EQ(outs[6],
              devtest::OutLine(kSerial, {0x01, 0x15, 0x00, 0x02, 0x00, 0x10, 0x10, 0x00, 0x20,
                                         0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8,
                                         0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf}));
    EXPECT_EQ(outs[7], devtest::OutLine(kSerial, {0x01, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
                                                  0x00, 0x11, 0x22, 0x33}));
}

}  // namespace
