// Writing the monitor's current configuration and the factory defaults to INI files.
#include <gtest/gtest.h>

#include "devices_sim_fixture.h"
#include "settings/KemoHWData.h"

namespace {

using devtest::Bus;
using devtest::SimDeviceTest;

const std::string kSerial = "41-A0001";

class ConfigFileTest : public SimDeviceTest {};

uint8_t IniValue(const std::string& path, const wchar_t* section, const wchar_t* key) {
    return KemoHWData::ReadINIValue(section, key, Widen(path));
}

TEST_F(ConfigFileTest, CurrentConfigurationFollowsTheMonitor) {
    const int m = AddMonitor(L"41-A0001");
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const std::string first = dir.file("first.ini");
    const std::string second = dir.file("second.ini");
    const size_t from = Bus().transcript.size();
    {
        CaptureOutput quiet;
        EXPECT_TRUE(devices[0]->saveCurrentConfig(Widen(first)));
    }
    const auto outs = Outs(kSerial, from);
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(outs[0],
              devtest::OutLine(kSerial, {0x01, 0x06, 0x00, 0x20, 0x00, 0xff, 0x01, 0x00, 0x00}));
    const auto& config = Monitor(m).config;
    for (const SettingsItem& item : kSettingsItems) {
        EXPECT_EQ(IniValue(first, item.section, item.key), config[item.imageOffset])
            << Narrow(item.key);
    }

    // The file follows the monitor, not what the object read before.
    Monitor(m).config[0x12] = 0x03;  // Volume
    Monitor(m).config[0x32] = 0x01;  // OSDEBLEn
    {
        CaptureOutput quiet;
        EXPECT_TRUE(devices[0]->saveCurrentConfig(Widen(second)));
    }
    EXPECT_EQ(IniValue(second, L"General", L"Volume"), 0x03);
    EXPECT_EQ(IniValue(second, L"OSD", L"OSDEBLEn"), 0x01);
}

// An answer without the whole 64-byte image gives no file, whatever was read before.
TEST_F(ConfigFileTest, ShortOrMissingConfigurationWritesNoFile) {
    const struct {
        const char* name;
        uint16_t featureLength;
        std::vector<sim::ScriptedFault> faults;
        const char* firstLine;
    } cases[] = {
        {"70-byte answer", 70, {}, ""},
        {"empty answer", 0, {}, ""},
        {"no answer", 128, {{2, sim::FaultKind::NoAnswer, 0}}, "timeout revc\n"},
        {"bad status", 128, {{2, sim::FaultKind::Status, 0x00}}, ""},
        {"feature report refused", 128, {{2, sim::FaultKind::FeatureFails, 0}}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreshRun();
        const int m = AddMonitor(L"41-A0001");
        Monitor(m).featureReportLength = c.featureLength;
        Monitor(m).faults = c.faults;
        const auto devices = Discover();
        ASSERT_EQ(devices.size(), 1u);
        const std::string path = dir.file("current.ini");
        CaptureOutput capture;
        EXPECT_FALSE(devices[0]->saveCurrentConfig(Widen(path)));
        const std::string printed = capture.out();
        EXPECT_FALSE(FileExists(path));
        const std::string error = "Error: Reading the configuration of device '41-A0001' failed.\n";
        if (c.firstLine != nullptr) {
            EXPECT_EQ(printed, c.firstLine + error);
        } else {
            EXPECT_TRUE(printed.size() >= error.size() &&
                        printed.compare(printed.size() - error.size(), error.size(), error) == 0)
                << printed;
        }
    }
}

// A good read followed by a failed one must not write the earlier read as current.
TEST_F(ConfigFileTest, FailedReadAfterAGoodOneWritesNoFile) {
    const int m = AddMonitor(L"41-A0001");
    Monitor(m).faults = {{3, sim::FaultKind::FeatureFails, 0}};
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    CaptureOutput quiet;
    EXPECT_TRUE(devices[0]->saveCurrentConfig(Widen(dir.file("good.ini"))));
    EXPECT_FALSE(devices[0]->saveCurrentConfig(Widen(dir.file("second.ini"))));
    EXPECT_FALSE(FileExists(dir.file("second.ini")));
}

TEST_F(ConfigFileTest, DefaultsNeedNoMonitor) {
    AddMonitor(L"41-A0001");
    KemoVideoFlash device;
    const std::string path = dir.file("defaults.ini");
    {
        CaptureOutput quiet;
        EXPECT_TRUE(device.saveDefaultConfig(Widen(path)));
    }
    for (const SettingsItem& item : kSettingsItems) {
        EXPECT_EQ(IniValue(path, item.section, item.key), item.def) << Narrow(item.key);
    }
    EXPECT_TRUE(Bus().transcript.empty());

    CaptureOutput quiet;
    EXPECT_FALSE(device.saveDefaultConfig(Widen(dir.file("no-such-dir/defaults.ini"))));
    EXPECT_FALSE(FileExists(dir.file("no-such-dir/defaults.ini")));
}

}  // namespace
