// Changing a monitor's configuration and reading it back: the reports of an update, its
// console text and pauses, every exchange failing, and no file from a bad read.
#include <gtest/gtest.h>

#include "devices_sim_fixture.h"
#include "settings/KemoHWData.h"

namespace {

using devtest::OutLine;
using sim::FaultKind;

const char kWriteFailed[] = "KemoVideoFlash::updateDevice, unable to write configuration to device";

// Every value differs from the factory default, so a wrong source shows.
const char kApplyIni[] =
    "[General]\r\nVolume=15\r\nBrightness=1a\r\nRmtPwrCtrl=00\r\nExtBLEn=00\r\n"
    "[BeepOnTouch]\r\nBOTFreq=03\r\nBOTDur=05\r\nBOTVol=10\r\nBOTEvent=02\r\n"
    "[POSTone]\r\nTone1Vol=11\r\nTone2Vol=22\r\n[OpPannel]\r\nIconBright=0C\r\n[OSD]\r\n"
    "OSDEn=00\r\nOSDRPCEn=00\r\nOSDEBLEn=01\r\nOSDIBCEn=00\r\nOSDVCEn=00\r\nOSDBCEn=00\r\n";

// The update-mode reset, the six records, the commit and the controller reset for kApplyIni.
const std::vector<std::string> kUpdateOuts = {
    OutLine({0x01, 0x04, 0x00, 0x01, 0x00}),
    OutLine({0x01, 0x06, 0x00, 0x02, 0x00, 0x01, 0xff, 0x00, 0x00, 0x01}),
    OutLine({0x01, 0x07, 0x00, 0x02, 0x00, 0x02, 0x10, 0x73, 0x52, 0x01, 0x01}),
    OutLine({0x01, 0x09, 0x00, 0x02, 0x00, 0x04, 0x10, 0x00, 0x00, 0x03, 0x05, 0x10, 0x02}),
    OutLine({0x01, 0x08, 0x00, 0x02, 0x00, 0x03, 0x10, 0x00, 0x10, 0x11, 0x22, 0x15}),
    OutLine({0x01, 0x0e, 0x00, 0x02, 0x00, 0x09, 0x10, 0x00, 0x20, 0x0c, 0x01, 0x01, 0x14, 0x64,
             0x00, 0x00, 0x01, 0x01}),
    OutLine({0x01, 0x10, 0x00, 0x02, 0x00, 0x0b, 0x10, 0x00, 0x30, 0x00,
             0x00, 0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x1a, 0x00, 0x00}),
    OutLine({0x01, 0x05, 0x00, 0x02, 0x00}),
    OutLine({0x01, 0x04, 0x00, 0x00, 0x40}),
};

// The default configuration with the data of the four records to 10 00 <offset> over it.
std::array<uint8_t, 64> ConfigAfterApply() {
    std::array<uint8_t, 64> config = sim::DefaultMonitorConfig();
    for (size_t r = 3; r < 7; ++r) {
        auto byte = [&](size_t i) {
            return std::stoi(kUpdateOuts[r].substr(13 + 3 * i, 2), 0, 16);
        };
        for (int i = 0; i < byte(5); ++i) {
            config[size_t(byte(8) + i)] = uint8_t(byte(9 + size_t(i)));
        }
    }
    return config;
}

class UpdateTest : public devtest::SimDeviceTest {
protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        WriteFileBytes(iniPath, kApplyIni);
    }
    static bool Update(KemoVideoFlash* device, const std::string& path,
                       std::string* printed = nullptr) {
        CaptureOutput capture;
        const bool updated = device->updateDevice(Widen(path));
        if (printed != nullptr) {
            *printed = capture.out();
        }
        return updated;
    }
    const std::string iniPath = dir.file("apply.ini");
};

TEST_F(UpdateTest, AppliesTheFileWithTheExactReportsTextAndPauses) {
    KemoVideoFlash* device = Start([](sim::SimMonitor& m) {
        m.componentTable = {1, 5, 1, 0, 2, 6, 2, 0, 0x2a, 7, 3, 0, 4, 8, 4, 0};
    });
    ASSERT_NE(device, nullptr);
    std::string printed;
    ASSERT_TRUE(Update(device, iniPath, &printed));
    EXPECT_EQ(Outs(from), kUpdateOuts);
    // The third component's number, in hex once and then in decimal.
    EXPECT_EQ(printed, "\nFirmware file found:  " + iniPath +
                           "\n  Device - PID: 302c  COMP: 2a (SN='41-A0001')\n"
                           "    Starting firmware update of Product ID 302c COMP: 42\n"
                           "Updating Firmware in USB Device 302c component 42\n"
                           ".. %50  complete\n.. %100 complete\n"
                           "Firmware update of Product ID 302c COMP: 42 finished\n"
                           "Firmware in USB Device 302c component 42 updated successfully\n"
                           "Reset to be done for PID 302c\n"
                           "Preparing the device for normal use...\n");
    EXPECT_EQ(Monitor().config, ConfigAfterApply());
    EXPECT_FALSE(Monitor().updateMode);
    EXPECT_GE(Bus().clockMs, 11020u);
}

// Exchanges counted from 1 with discovery's firmware query: 2 is the update-mode reset (it
// passes on status bit 0), 3 to 8 the records and 9 the commit (they fail on bits 7 and 6),
// 10 the controller reset, whose result is not examined. A failure ends the update at once.
TEST_F(UpdateTest, EveryExchangeFailingOrPassing) {
    for (uint32_t exchange = 2; exchange <= 10; ++exchange) {
        const bool reset = exchange == 2;
        for (const auto& [kind, status] : {std::pair<FaultKind, uint8_t>{FaultKind::NoAnswer, 0},
                                           {FaultKind::Status, 0x40},
                                           {FaultKind::Status, 0x80},
                                           {FaultKind::Disconnect, 0},
                                           {FaultKind::Status, uint8_t(reset ? 0x81 : 0x3f)}}) {
            SCOPED_TRACE(testing::Message() << "exchange " << exchange << " kind " << int(kind)
                                            << " status " << int(status));
            const bool passes = exchange == 10 || (kind == FaultKind::Status && (status & 1) != 0);
            // The failing step's own log line; a record whose write fails has none.
            std::string line;
            if (kind == FaultKind::NoAnswer) {
                line = reset ? "timeout revc"
                             : "KemoVideoFlash::writeKemoHWConfigBytes, recvInputReport failed";
            } else if (kind == FaultKind::Status) {
                line = (reset ? "KemoVideoFlash::startUpdate, bad status 0x"
                              : "KemoVideoFlash::writeKemoHWConfigBytes, bad write status 0x") +
                       sim::HexBytes(&status, 1);
            } else if (reset) {
                line = "KemoVideoFlash::startUpdate, sendOutputReport MCU RESET failed";
            }
            KemoVideoFlash* device = Start({{exchange, kind, status}});
            ASSERT_NE(device, nullptr);
            EXPECT_EQ(Update(device, iniPath), passes);
            // Sent: the reports before the failing one, and that one unless its write failed.
            const size_t sent =
                passes && exchange < 10 ? 9 : exchange - (kind == FaultKind::Disconnect ? 2 : 1);
            EXPECT_EQ(Outs(from), std::vector<std::string>(kUpdateOuts.begin(),
                                                           kUpdateOuts.begin() + long(sent)));
            // A commit whose answer is lost was still applied by the controller.
            if (exchange != 9 || kind != FaultKind::NoAnswer) {
                EXPECT_EQ(Monitor().config == ConfigAfterApply(), passes);
            }
            const auto texts = LogTexts();
            EXPECT_EQ(std::count(texts.begin(), texts.end(), kWriteFailed), !passes);
            if (!passes) {
                EXPECT_EQ(texts.back(), kWriteFailed);
            }
            if (!line.empty() && exchange != 10) {
                EXPECT_EQ(std::count(texts.begin(), texts.end(), line), !passes) << line;
            }
        }
    }
}

// Neither a bad file nor a missing one sends anything, not even the block a good file built.
TEST_F(UpdateTest, BadFileAfterAGoodUpdateSendsNothing) {
    KemoVideoFlash* device = Start();
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(Update(device, iniPath));
    const size_t afterGood = Bus().transcript.size();
    const std::string bad = dir.file("bad.ini");
    WriteFileBytes(bad, std::string(kApplyIni).replace(11, 9, "Volume=41"));
    EXPECT_FALSE(Update(device, bad));
    EXPECT_FALSE(Update(device, dir.file("absent.ini")));
    EXPECT_TRUE(Outs(afterGood).empty());
    EXPECT_EQ(Count("KemoVideoFlash::updateDevice, unable to set the configuration bytes"), 2);
}

// A file holds what the monitor holds; a configuration answer short of its 64 bytes (under
// 71 in all) or a failed read writes no file, even after a good read.
TEST_F(UpdateTest, SavedConfigurationFollowsTheMonitorOrIsNotWritten) {
    const std::string error = "Error: Reading the configuration of device '41-A0001' failed.\n";
    for (const auto& [length, good] :
         {std::pair<uint16_t, bool>{71, true}, {70, false}, {0, false}}) {
        KemoVideoFlash* device = Start([&](sim::SimMonitor& m) {
            m.featureReportLength = length;
            m.config[0x12] = 0x03;                         // Volume
            m.faults = {{3, FaultKind::FeatureFails, 0}};  // the second read
        });
        ASSERT_NE(device, nullptr);
        for (int read = 0; read < 2; ++read) {
            SCOPED_TRACE(testing::Message() << length << " read " << read);
            const bool written = good && read == 0;
            const std::string path = dir.file(std::to_string(length) + (read ? "b" : "a"));
            CaptureOutput capture;
            EXPECT_EQ(device->saveCurrentConfig(Widen(path)), written);
            const std::string printed = capture.out();
            EXPECT_EQ(FileExists(path), written);
            EXPECT_EQ(printed.size() >= error.size() &&
                          printed.substr(printed.size() - error.size()) == error,
                      !written)
                << printed;
            for (const SettingsItem& item : kSettingsItems) {
                if (written) {
                    EXPECT_EQ(KemoHWData::ReadINIValue(item.section, item.key, Widen(path)),
                              Monitor().config[item.imageOffset])
                        << Narrow(item.key);
                }
            }
        }
    }
}

}  // namespace
