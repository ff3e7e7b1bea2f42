// The video controller's protocol against the simulated monitor: report bytes on the wire,
// status rules, the report id, the component table and the clean-up of a failed start.
#include <gtest/gtest.h>

#include <algorithm>

#include "devices/KemoVideoFlash.h"
#include "devices_sim_fixture.h"

namespace {

using devtest::Bus;
using devtest::OutLine;
using devtest::SimDeviceTest;

const std::string kSerial = "41-A0001";

class VideoProtocolTest : public SimDeviceTest {};

// The channel is terminated between the object's own line and its base's: the banner
// shows it.
bool TerminatedInsideDestructor(const std::vector<std::string>& texts) {
    auto destroyed = std::find(texts.begin(), texts.end(), "KemoVideoFlash Destroyed");
    if (destroyed == texts.end() || destroyed + 2 >= texts.end()) {
        return false;
    }
    auto banner = destroyed + 1;
    while (banner != texts.end() && banner->empty()) {
        ++banner;
    }
    if (banner == texts.end() ||
        banner->rfind("*************************** HidIo::terminate ", 0) != 0) {
        return false;
    }
    auto base = std::find(banner, texts.end(), "ZelHidFlash Destroyed");
    return base != texts.end();
}

TEST_F(VideoProtocolTest, FirmwareQueryAndLevelsOfADiscoveredMonitor) {
    const int m = AddMonitor(L"41-A0001");
    Monitor(m).componentTable = {0x01, 0x05, 0x01, 0x00, 0x02, 0x10, 0x02, 0x80,
                                 0x03, 0xff, 0x00, 0x01, 0x04, 0x00, 0xab, 0x02};
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);

    const auto outs = Outs(kSerial);
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(outs[0], OutLine(kSerial, {0x01, 0x06, 0x00, 0x20, 0x00, 0xff, 0xff, 0x00, 0x01}));

    DeviceLevels levels;
    EXPECT_TRUE(devices[0]->getFirmwareLevels(levels));
    EXPECT_EQ(levels.vid, 0x0F66);
    EXPECT_EQ(levels.pid, 0x302C);
    EXPECT_EQ(levels.serial, L"41-A0001");
    ASSERT_EQ(levels.components.size(), 4u);
    const std::wstring names[] = {L"MCU", L"HW_CFG", L"SCALAR", L"CAPSENSE"};
    const uint16_t expected[] = {0x0105, 0x0210, 0x00ff, 0xab00};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(levels.components[i].name, names[i]);
        EXPECT_EQ(levels.components[i].level, expected[i]) << i;
    }
    // Reporting exchanges nothing with the monitor.
    EXPECT_EQ(Outs(kSerial).size(), 1u);

    const auto texts = LogTexts();
    auto at = std::find(texts.begin(), texts.end(), "0f66:302c 0100 41-A0001");
    ASSERT_NE(at, texts.end());
    const char* lines[] = {"Component[01]:\tgen=05\trev=01\tflags=00\tlevel=0105",
                           "Component[02]:\tgen=10\trev=02\tflags=80\tlevel=0210",
                           "Component[03]:\tgen=ff\trev=00\tflags=01\tlevel=00ff",
                           "Component[04]:\tgen=00\trev=ab\tflags=02\tlevel=ab00",
                           "KemoVideoFlash::initialise - Ok"};
    for (const char* line : lines) {
        ++at;
        ASSERT_NE(at, texts.end());
        EXPECT_EQ(*at, line);
    }
}

TEST_F(VideoProtocolTest, ComponentTableNeedsTwentyThreeFeatureBytes) {
    const struct {
        uint16_t featureLength;
        bool tableRead;
    } cases[] = {{23, true}, {22, false}, {7, false}, {0, false}};
    for (const auto& c : cases) {
        FreshRun();
        const int m = AddMonitor(L"41-A0001");
        Monitor(m).featureReportLength = c.featureLength;
        Monitor(m).componentTable = {0x01, 0x05, 0x01, 0x00, 0x02, 0x06, 0x02, 0x00,
                                     0x03, 0x07, 0x03, 0x00, 0x04, 0x08, 0x04, 0x00};
        const auto devices = Discover();
        ASSERT_EQ(devices.size(), 1u) << c.featureLength;
        DeviceLevels levels;
        devices[0]->getFirmwareLevels(levels);
        ASSERT_EQ(levels.components.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            const uint16_t want = c.tableRead ? static_cast<uint16_t>((i + 1) * 256 + 5 + i) : 0;
            EXPECT_EQ(levels.components[i].level, want) << c.featureLength << " " << i;
        }
    }
}

TEST_F(VideoProtocolTest, ReportIdComesFromTheOutputValueCapability) {
    const int m = AddMonitor(L"41-A0001");
    Monitor(m).reportId = 0x07;
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->commandReportId(), std::optional<uint8_t>(0x07));
    ASSERT_TRUE(devices[0]->startUpdate(1, 0));
    const auto outs = Outs(kSerial);
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_EQ(outs[0], OutLine(kSerial, {0x07, 0x06, 0x00, 0x20, 0x00, 0xff, 0xff, 0x00, 0x01}));
    EXPECT_EQ(outs[1], OutLine(kSerial, {0x07, 0x04, 0x00, 0x01, 0x00}));
}

TEST_F(VideoProtocolTest, ConfigurationQueryAndBothResets) {
    AddMonitor(L"41-A0001");
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const size_t from = Bus().transcript.size();

    EXPECT_TRUE(devices[0]->readConfigBytes());
    EXPECT_TRUE(devices[0]->startUpdate(1, 0));
    EXPECT_TRUE(devices[0]->startUpdate(0, 0x40));

    const auto outs = Outs(kSerial, from);
    ASSERT_EQ(outs.size(), 3u);
    EXPECT_EQ(outs[0], OutLine(kSerial, {0x01, 0x06, 0x00, 0x20, 0x00, 0xff, 0x01, 0x00, 0x00}));
    EXPECT_EQ(outs[1], OutLine(kSerial, {0x01, 0x04, 0x00, 0x01, 0x00}));
    EXPECT_EQ(outs[2], OutLine(kSerial, {0x01, 0x04, 0x00, 0x00, 0x40}));
}

// Queries and resets pass on bit 0 of the status alone.
TEST_F(VideoProtocolTest, QueryAndResetStatusRule) {
    const struct {
        uint8_t status;
        bool passes;
    } cases[] = {{0x00, false}, {0x01, true}, {0x81, true}, {0xfe, false}, {0x40, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << int(c.status));
        FreshRun();
        const int m = AddMonitor(L"41-A0001");
        // Exchange 1: discovery's firmware query; 2: a configuration query; 3: a reset.
        Monitor(m).faults = {{2, sim::FaultKind::Status, c.status},
                             {3, sim::FaultKind::Status, c.status}};
        const auto devices = Discover();
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0]->flash(kSelectorConfiguration).has_value(), c.passes);
        EXPECT_EQ(devices[0]->startUpdate(1, 0), c.passes);
        char flashLine[64];
        char resetLine[64];
        std::snprintf(flashLine, sizeof flashLine, "KemoVideoFlash::flash, bad status 0x%02x",
                      c.status);
        std::snprintf(resetLine, sizeof resetLine, "KemoVideoFlash::startUpdate, bad status 0x%02x",
                      c.status);
        const auto texts = LogTexts();
        const bool flashLogged = std::count(texts.begin(), texts.end(), flashLine) == 1;
        const bool resetLogged = std::count(texts.begin(), texts.end(), resetLine) == 1;
        EXPECT_EQ(flashLogged, !c.passes);
        EXPECT_EQ(resetLogged, !c.passes);
    }
}

TEST_F(VideoProtocolTest, UnansweredQueryAndResetTimeOut) {
    const int m = AddMonitor(L"41-A0001");
    Monitor(m).faults = {{2, sim::FaultKind::NoAnswer, 0}, {3, sim::FaultKind::NoAnswer, 0}};
    const auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    const uint64_t start = Bus().clockMs;
    {
        CaptureOutput capture;
        EXPECT_FALSE(devices[0]->flash(kSelectorConfiguration).has_value());
        EXPECT_EQ(capture.out(), "timeout revc\n");
    }
    EXPECT_GE(Bus().clockMs - start, 3000u);
    {
        CaptureOutput capture;
        EXPECT_FALSE(devices[0]->startUpdate(1, 0));
        // The reset's time-out is logged, not printed.
        EXPECT_EQ(capture.out(), "");
    }
    EXPECT_GE(Bus().clockMs - start, 6000u);
    EXPECT_TRUE(Logged("timeout revc"));
}

// A monitor that cannot be driven is dropped before a single report is sent, and one whose
// first exchange fails is dropped with its channel closed.
TEST_F(VideoProtocolTest, FailedInitialiseLeavesNothingOpen) {
    const struct {
        const char* name;
        bool valueCapsMatch;
        uint16_t outputLength;
        std::vector<sim::ScriptedFault> faults;
        size_t reportsSent;
        const char* stdoutText;
        const char* logLine;
    } cases[] = {
        {"no command value capability", false, 264, {}, 0, "", nullptr},
        {"output report of 64", true, 64, {}, 0, "", nullptr},
        {"output report of 265", true, 265, {}, 0, "", nullptr},
        {"no answer", true, 264, {{1, sim::FaultKind::NoAnswer, 0}}, 1, "timeout revc\n", nullptr},
        {"status 0x00",
         true,
         264,
         {{1, sim::FaultKind::Status, 0x00}},
         1,
         "",
         "KemoVideoFlash::flash, bad status 0x00"},
        {"disconnected", true, 264, {{1, sim::FaultKind::Disconnect, 0}}, 1, "", nullptr},
        {"feature report refused",
         true,
         264,
         {{1, sim::FaultKind::FeatureFails, 0}},
         1,
         nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreshRun();
        const int m = AddMonitor(L"41-A0001");
        Monitor(m).outputValueCapsMatch = c.valueCapsMatch;
        Monitor(m).outputReportLength = c.outputLength;
        Monitor(m).faults = c.faults;
        std::vector<KemoVideoFlash*> devices;
        CaptureOutput capture;
        devices = Discover();
        const std::string printed = capture.out();
        EXPECT_TRUE(devices.empty());
        EXPECT_FALSE(Monitor(m).open);
        EXPECT_EQ(Bus().openHandles, 0);
        EXPECT_LE(Outs(kSerial).size(), c.reportsSent);
        if (c.reportsSent == 0 && c.faults.empty()) {
            EXPECT_TRUE(Outs(kSerial).empty());
        }
        if (c.stdoutText != nullptr) {
            EXPECT_EQ(printed, c.stdoutText);
        }
        const auto texts = LogTexts();
        if (c.logLine != nullptr) {
            EXPECT_NE(std::find(texts.begin(), texts.end(), c.logLine), texts.end());
        }
        EXPECT_EQ(std::find(texts.begin(), texts.end(), "KemoVideoFlash::initialise - Ok"),
                  texts.end());
        // The object was built and torn down again, its channel terminated.
        EXPECT_TRUE(TerminatedInsideDestructor(texts));
    }
}

TEST_F(VideoProtocolTest, DestroyingADeviceTerminatesItsChannel) {
    const int m = AddMonitor(L"41-A0001");
    auto devices = Discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_TRUE(Monitor(m).open);
    list.reset();
    EXPECT_FALSE(Monitor(m).open);
    EXPECT_EQ(Bus().openHandles, 0);
    EXPECT_TRUE(TerminatedInsideDestructor(LogTexts()));
}

}  // namespace
