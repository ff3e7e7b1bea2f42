// Failures during a configuration update: each exchange failing in each way ends the update
// at once with its log line and a false result; a bad settings file sends nothing at all.
#include <gtest/gtest.h>

#include <algorithm>

#include "devices_sim_fixture.h"
#include "update_test_data.h"

namespace {

using devtest::Bus;
using devtest::SimDeviceTest;

const std::string kSerial = "41-A0001";
const char kWriteFailed[] = "KemoVideoFlash::updateDevice, unable to write configuration to device";
const char kSetFailed[] = "KemoVideoFlash::updateDevice, unable to set the configuration bytes";

class UpdateFaultTest : public SimDeviceTest {
protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        iniPath = dir.file("apply.ini");
        WriteFileBytes(iniPath, devtest::kApplyIni);
    }

    // Discovers one monitor with the given faults and runs an update; the transcript and
    // log are left for the caller.
    bool RunUpdate(std::vector<sim::ScriptedFault> faults, const std::string& path) {
        FreshRun();
        const int m = AddMonitor(L"41-A0001");
        Monitor(m).faults = std::move(faults);
        const auto devices = Discover();
        EXPECT_EQ(devices.size(), 1u);
        if (devices.size() != 1) {
            return false;
        }
        from = Bus().transcript.size();
        CaptureOutput quiet;
        return devices[0]->updateDevice(Widen(path));
    }

    std::string iniPath;
    size_t from = 0;
};

// Exchanges of an update, counted from 1 with discovery's firmware query: 2 is the
// update-mode reset, 3 to 8 the six records, 9 the commit, 10 the controller reset.
TEST_F(UpdateFaultTest, EveryExchangeFailingEndsTheUpdate) {
    const auto expected = devtest::ExpectedUpdateOuts(kSerial);
    for (uint32_t exchange = 2; exchange <= 9; ++exchange) {
        const bool isReset = exchange == 2;
        const struct {
            sim::FaultKind kind;
            uint8_t status;
            const char* line;  // the failing operation's own line, if it writes one
        } faults[] = {
            {sim::FaultKind::NoAnswer, 0,
             isReset ? "timeout revc"
                     : "KemoVideoFlash::writeKemoHWConfigBytes, recvInputReport failed"},
            {sim::FaultKind::Status, 0x40,
             isReset ? "KemoVideoFlash::startUpdate, bad status 0x40"
                     : "KemoVideoFlash::writeKemoHWConfigBytes, bad write status 0x40"},
            {sim::FaultKind::Status, 0x80,
             isReset ? "KemoVideoFlash::startUpdate, bad status 0x80"
                     : "KemoVideoFlash::writeKemoHWConfigBytes, bad write status 0x80"},
            {sim::FaultKind::Disconnect, 0,
             isReset ? "KemoVideoFlash::startUpdate, sendOutputReport MCU RESET failed" : nullptr},
        };
        for (const auto& fault : faults) {
            SCOPED_TRACE(testing::Message()
                         << "exchange " << exchange << " kind " << static_cast<int>(fault.kind)
                         << " status " << int(fault.status));
            EXPECT_FALSE(RunUpdate({{exchange, fault.kind, fault.status}}, iniPath));

            // Sent: the reports before the failing one, and the failing one unless the
            // write itself failed. Nothing after it: no commit, no reset.
            const auto outs = Outs(kSerial, from);
            const size_t before = exchange - 2;
            // A write that fails never reaches the monitor.
            EXPECT_EQ(outs.size(), fault.kind == sim::FaultKind::Disconnect ? before : before + 1);
            for (size_t i = 0; i < outs.size(); ++i) {
                EXPECT_EQ(outs[i], expected[i]) << i;
            }
            // A commit whose answer is lost was still applied by the controller.
            if (!(exchange == 9 && fault.kind == sim::FaultKind::NoAnswer)) {
                EXPECT_EQ(Monitor(0).config, sim::DefaultMonitorConfig());
            }

            const auto texts = LogTexts();
            if (fault.line != nullptr) {
                EXPECT_EQ(std::count(texts.begin(), texts.end(), fault.line), 1);
            }
            ASSERT_FALSE(texts.empty());
            EXPECT_EQ(texts.back(), kWriteFailed);
        }
    }
}

TEST_F(UpdateFaultTest, StatusRulesOfWritesDifferFromResets) {
    const struct {
        uint32_t exchange;
        uint8_t status;
        bool updated;
    } cases[] = {
        {2, 0x81, true},   // reset: bit 0 set passes, whatever else is set
        {2, 0x3f, true},   //
        {2, 0x3e, false},  // reset: bit 0 clear fails
        {4, 0x3f, true},   // record: only bits 7 and 6 fail it
        {4, 0x00, true},   //
        {4, 0x81, false},  //
        {9, 0x3f, true},   // commit: the record rule
        {9, 0xc0, false},  //
        {10, 0x00, true},  // the final reset is not examined
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "exchange " << c.exchange << " status " << int(c.status));
        EXPECT_EQ(RunUpdate({{c.exchange, sim::FaultKind::Status, c.status}}, iniPath), c.updated);
        if (c.updated) {
            EXPECT_EQ(Outs(kSerial, from).size(), 9u);
        }
    }
}

TEST_F(UpdateFaultTest, UnansweredFinalResetStillSucceeds) {
    ASSERT_TRUE(RunUpdate({{10, sim::FaultKind::NoAnswer, 0}}, iniPath));
    EXPECT_EQ(Outs(kSerial, from), devtest::ExpectedUpdateOuts(kSerial));
    const std::array<uint8_t, 64> want =
        devtest::ExpectedConfigAfterApply(sim::DefaultMonitorConfig());
    EXPECT_EQ(Monitor(0).config, want);
    const auto texts = LogTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "timeout revc"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), kWriteFailed), 0);
}

TEST_F(UpdateFaultTest, BadSettingsFileSendsNothing) {
    const std::string good = devtest::kApplyIni;
    auto replaced = [&](const std::string& from_, const std::string& to) {
        std::string text = good;
        const size_t at = text.find(from_);
        EXPECT_NE(at, std::string::npos) << from_;
        return text.replace(at, from_.size(), to);
    };
    const struct {
        const char* name;
        std::string text;  // empty: no file at all
    } cases[] = {
        {"missing file", ""},
        {"Volume too high", replaced("Volume=15", "Volume=29")},
        {"key missing", replaced("OSDBCEn=00\r\n", "")},
        {"not hex", replaced("BOTDur=05", "BOTDur=zz")},
        {"misspelt section", replaced("[OpPannel]", "[OpPanel]")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("bad.ini");
        std::remove(path.c_str());
        if (!c.text.empty()) {
            WriteFileBytes(path, c.text);
        }
        EXPECT_FALSE(RunUpdate({}, path));
        EXPECT_TRUE(Outs(kSerial, from).empty());
        EXPECT_EQ(Monitor(0).config, sim::DefaultMonitorConfig());
        const auto texts = LogTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), kSetFailed), 1);
    }
}

// A bad file after a good one must not send the block the good one built.
TEST_F(UpdateFaultTest, BadFileAfterAGoodUpdateSendsNothing) {
    AddMonitor(L"41-A0001");
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    CaptureOutput quiet;
    ASSERT_TRUE(devices[0]->updateDevice(Widen(iniPath)));
    const size_t afterGood = Bus().transcript.size();
    const std::string bad = dir.file("bad.ini");
    std::string text = devtest::kApplyIni;
    text.replace(text.find("Volume=15"), 9, "Volume=41");
    WriteFileBytes(bad, text);
    EXPECT_FALSE(devices[0]->updateDevice(Widen(bad)));
    EXPECT_FALSE(devices[0]->updateDevice(Widen(dir.file("absent.ini"))));
    EXPECT_TRUE(Outs(kSerial, afterGood).empty());
}

}  // namespace
