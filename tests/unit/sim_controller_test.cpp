// The simulated video controller: what it answers, what it stages and commits, and how the
// scripted faults and the virtual clock behave. Driven through the bus's transfer entry
// points, and through the simulated HidIo where the channel's own behaviour matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "hid/HidClock.h"
#include "hid/HidIo.h"
#include "hid/HidTypes.h"
#include "log/Log.h"
#include "sim/SimBus.h"
#include "tests/support/CaptureStdout.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

std::vector<uint8_t> Report(std::initializer_list<uint8_t> head, size_t length = 264) {
    std::vector<uint8_t> bytes(length, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

const std::vector<uint8_t> kFirmwareQuery = Report({1, 6, 0, 0x20, 0, 0xFF, 0xFF, 0, 1});
const std::vector<uint8_t> kConfigQuery = Report({1, 6, 0, 0x20, 0, 0xFF, 0x01, 0, 0});
const std::vector<uint8_t> kEnterUpdate = Report({1, 4, 0, 1, 0});
const std::vector<uint8_t> kLeaveUpdate = Report({1, 4, 0, 0, 0x40});
const std::vector<uint8_t> kCommit = Report({1, 5, 0, 2, 0});

// A record write of the given address and data.
std::vector<uint8_t> Record(uint8_t a0, uint8_t a1, uint8_t a2,
                            std::initializer_list<uint8_t> data) {
    std::vector<uint8_t> bytes(264, 0);
    const size_t n = data.size();
    bytes[0] = 1;
    bytes[1] = static_cast<uint8_t>(n + 5);
    bytes[3] = 0x02;
    bytes[5] = static_cast<uint8_t>(n);
    bytes[6] = a0;
    bytes[7] = a1;
    bytes[8] = a2;
    std::copy(data.begin(), data.end(), bytes.begin() + 9);
    return bytes;
}

class SimControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Bus().reset();
        monitor = Bus().addMonitor(L"41-A0001");
        iface = Bus().monitorInterface(monitor);
        ASSERT_GE(iface, 0);
    }
    void TearDown() override { Bus().reset(); }

    sim::SimMonitor& M() { return Bus().monitors[static_cast<size_t>(monitor)]; }

    uint32_t Write(const std::vector<uint8_t>& report) {
        return Bus().writeReport(iface, report.data(), static_cast<uint32_t>(report.size()));
    }

    // Sends a report and reads its answer; -1 when no answer came.
    int Exchange(const std::vector<uint8_t>& report) {
        EXPECT_EQ(Write(report), 0u);
        uint8_t answer[9];
        if (Bus().readReport(iface, answer) != 0) {
            return -1;
        }
        EXPECT_EQ(answer[0], M().reportId);
        return answer[1];
    }

    std::vector<uint8_t> Feature(uint32_t length) {
        std::vector<uint8_t> buffer(length, 0);
        EXPECT_EQ(Bus().getFeature(iface, buffer.data(), length), 0u);
        return buffer;
    }

    int monitor = -1;
    int iface = -1;
};

TEST_F(SimControllerTest, QueriesAnswerWithTheTableAndTheConfiguration) {
    M().componentTable = {1, 5, 1, 0, 2, 6, 2, 0x80, 3, 7, 3, 0, 4, 8, 4, 1};
    for (size_t i = 0; i < 64; ++i) {
        M().config[i] = static_cast<uint8_t>(0xC0 + i);
    }
    EXPECT_EQ(Exchange(kFirmwareQuery), 0x01);
    std::vector<uint8_t> levels = Feature(128);
    EXPECT_EQ(levels[0], 0);  // the report id byte as the caller left it
    EXPECT_TRUE(
        std::equal(M().componentTable.begin(), M().componentTable.end(), levels.begin() + 7));
    EXPECT_EQ(levels[23], 0);

    EXPECT_EQ(Exchange(kConfigQuery), 0x01);
    std::vector<uint8_t> config = Feature(128);
    EXPECT_TRUE(std::equal(M().config.begin(), M().config.end(), config.begin() + 7));
    EXPECT_EQ(config[71], 0);

    const auto& t = Bus().transcript;
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0], "41-A0001 OUT " + sim::HexBytes(kFirmwareQuery.data(), 264));
    EXPECT_EQ(t[1], "41-A0001 IN 01 01 00 00 00 00 00 00 00");
    EXPECT_EQ(t[2], "41-A0001 FEATURE " + sim::HexBytes(levels.data(), 128));
    EXPECT_EQ(t[5].rfind("41-A0001 FEATURE 00 40 00 01 00 00 00 c0 c1 ", 0), 0u);
}

// The answer is as long as the monitor's feature report, cut off where it ends; nothing
// beyond it is written into a larger buffer.
TEST_F(SimControllerTest, FeatureReportFollowsTheDeclaredLength) {
    for (uint16_t length : {uint16_t{128}, uint16_t{71}, uint16_t{23}, uint16_t{22}, uint16_t{7},
                            uint16_t{1}, uint16_t{0}}) {
        SCOPED_TRACE(length);
        M().featureReportLength = length;
        Bus().transcript.clear();
        EXPECT_EQ(Exchange(kConfigQuery), 0x01);
        std::vector<uint8_t> buffer(200, 0xAA);
        buffer[0] = 0;
        ASSERT_EQ(Bus().getFeature(iface, buffer.data(), 200), 0u);
        for (size_t i = 7; i < 71 && i < length; ++i) {
            EXPECT_EQ(buffer[i], M().config[i - 7]) << i;
        }
        for (size_t i = std::max<size_t>(length, 1); i < 200; ++i) {
            ASSERT_EQ(buffer[i], 0xAA) << i;
        }
        ASSERT_EQ(Bus().transcript.size(), 3u);
        EXPECT_EQ(Bus().transcript[2], "41-A0001 FEATURE " + sim::HexBytes(buffer.data(), length));
        if (length > 1) {
            std::vector<uint8_t> small(length - 1u, 0);
            EXPECT_EQ(Bus().getFeature(iface, small.data(), length - 1u),
                      sim::kErrorInvalidParameter);
        }
    }
}

TEST_F(SimControllerTest, FeatureFetchNeedsAnAcceptedQuery) {
    std::vector<uint8_t> buffer(128, 0);
    EXPECT_EQ(Bus().getFeature(iface, buffer.data(), 128), sim::kErrorGenFailure);
    EXPECT_EQ(Exchange(kFirmwareQuery), 0x01);
    EXPECT_EQ(Exchange(kEnterUpdate), 0x01);  // any other report replaces the answer
    EXPECT_EQ(Bus().getFeature(iface, buffer.data(), 128), sim::kErrorGenFailure);
    EXPECT_EQ(Exchange(Report({1, 6, 0, 0x20, 0, 0xFF, 0x02, 0, 0})), 0x80);  // unknown selector
    EXPECT_EQ(Bus().getFeature(iface, buffer.data(), 128), sim::kErrorGenFailure);
}

struct Step {
    std::vector<uint8_t> report;
    int status;
};

// Records wait in update mode for the commit, which applies those addressed 10 00 <offset>
// to the configuration bytes; everything else is accepted and left alone, or refused.
TEST_F(SimControllerTest, RecordsAreStagedAndAppliedOnCommit) {
    const std::array<uint8_t, 64> before = M().config;
    std::array<uint8_t, 64> volumes = before;
    volumes[0x10] = 0x28;
    volumes[0x11] = 0x27;
    volumes[0x12] = 0x26;
    std::array<uint8_t, 64> sixteen = before;
    for (size_t i = 0; i < 16; ++i) {
        sixteen[0x30 + i] = static_cast<uint8_t>(i + 1);
    }
    std::array<uint8_t, 64> last = before;
    last[0x3F] = 0x5A;
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::array<uint8_t, 64> config;
        size_t commits;
    } cases[] = {
        {"outside update mode",
         {{Record(0x10, 0, 0x10, {0x28, 0x27, 0x26}), 0x80}, {kCommit, 0x80}},
         before,
         0},
        {"staged then committed",
         {{kEnterUpdate, 0x01},
          {Record(0x10, 0, 0x10, {0x28, 0x27, 0x26}), 0x00},
          {kCommit, 0x00},
          {kLeaveUpdate, 0x01}},
         volumes,
         1},
        {"other addresses ignored",
         {{kEnterUpdate, 0x01},
          {Record(0xFF, 0, 0, {0x01}), 0x00},
          {Record(0x10, 0x73, 0x52, {0x01, 0x01}), 0x00},
          {kCommit, 0x00}},
         before,
         1},
        {"reset drops what was not committed",
         {{kEnterUpdate, 0x01},
          {Record(0x10, 0, 0x10, {0x28, 0x27, 0x26}), 0x00},
          {kLeaveUpdate, 0x01},
          {kEnterUpdate, 0x01},
          {kCommit, 0x00}},
         before,
         1},
        {"sixteen data bytes",
         {{kEnterUpdate, 0x01},
          {Record(0x10, 0, 0x30, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}), 0x00},
          {kCommit, 0x00}},
         sixteen,
         1},
        {"last byte reachable, one past refused",
         {{kEnterUpdate, 0x01},
          {Record(0x10, 0, 0x3F, {0x5A}), 0x00},
          {Record(0x10, 0, 0x3F, {0x5B, 0x5C}), 0x80},
          {kCommit, 0x00}},
         last,
         1},
        {"malformed reports refused",
         {{kEnterUpdate, 0x01},
          // a stray byte after the data
          {[] {
               auto r = Record(0x10, 0, 0x10, {0x28});
               r[11] = 1;
               return r;
           }(),
           0x80},
          // length field that disagrees with N
          {[] {
               auto r = Record(0x10, 0, 0x10, {0x28});
               r[1] = 7;
               return r;
           }(),
           0x80},
          // more than 16 data bytes
          {Report({1, 22, 0, 2, 0, 17, 0x10, 0, 0}), 0x80},
          {Report({1, 4, 0, 1, 1}), 0x80},  // a reset the controller does not know
          {kCommit, 0x00}},
         before,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            EXPECT_EQ(Exchange(c.steps[i].report), c.steps[i].status) << "step " << i;
        }
        EXPECT_EQ(M().config, c.config);
        EXPECT_EQ(M().commits, c.commits);
    }
}

TEST_F(SimControllerTest, WritesOfTheWrongShapeFailWithoutReachingTheController) {
    std::vector<uint8_t> wrongId = kEnterUpdate;
    wrongId[0] = 2;
    EXPECT_EQ(Write(wrongId), sim::kErrorInvalidParameter);
    const std::vector<uint8_t> shortReport = Report({1, 4, 0, 1, 0}, 65);
    EXPECT_EQ(Write(shortReport), sim::kErrorInvalidParameter);
    EXPECT_TRUE(Bus().transcript.empty());
    EXPECT_FALSE(M().updateMode);
    // Both still count as exchanges for the fault script.
    EXPECT_EQ(M().exchanges, 2u);
}

// Faults are scripted by exchange number; the controller acts on a report only when both
// its own status and the scripted one pass the report's rule.
TEST_F(SimControllerTest, ScriptedStatusesAndLostAnswers) {
    std::array<uint8_t, 64> changed = M().config;
    changed[0x12] = 0x28;
    const struct {
        const char* name;
        std::vector<sim::ScriptedFault> faults;
        std::vector<int> statuses;  // of: enter, record, commit
        bool applied;
    } cases[] = {
        {"none", {}, {0x01, 0x00, 0x00}, true},
        {"record answered 0x3f", {{2, sim::FaultKind::Status, 0x3F}}, {0x01, 0x3F, 0x00}, true},
        {"commit refused", {{3, sim::FaultKind::Status, 0x80}}, {0x01, 0x00, 0x80}, false},
        {"commit answered 0x40", {{3, sim::FaultKind::Status, 0x40}}, {0x01, 0x00, 0x40}, false},
        {"record refused", {{2, sim::FaultKind::Status, 0x80}}, {0x01, 0x80, 0x00}, false},
        {"enter refused", {{1, sim::FaultKind::Status, 0x00}}, {0x00, 0x80, 0x80}, false},
        {"commit answer lost", {{3, sim::FaultKind::NoAnswer, 0}}, {0x01, 0x00, -1}, true},
        {"record answer lost", {{2, sim::FaultKind::NoAnswer, 0}}, {0x01, -1, 0x00}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        M().faults = c.faults;
        EXPECT_EQ(Exchange(kEnterUpdate), c.statuses[0]);
        EXPECT_EQ(Exchange(Record(0x10, 0, 0x12, {0x28})), c.statuses[1]);
        EXPECT_EQ(Exchange(kCommit), c.statuses[2]);
        EXPECT_EQ(M().config == changed, c.applied);
    }
}

TEST_F(SimControllerTest, DisconnectionFailsEveryTransferFromItsExchangeOn) {
    M().faults = {{2, sim::FaultKind::Disconnect, 0}};
    EXPECT_EQ(Exchange(kFirmwareQuery), 0x01);
    EXPECT_EQ(Write(kConfigQuery), kErrorDeviceNotConnected);
    EXPECT_TRUE(M().disconnected);
    uint8_t answer[9];
    std::vector<uint8_t> feature(128, 0);
    EXPECT_EQ(Write(kConfigQuery), kErrorDeviceNotConnected);
    EXPECT_EQ(Bus().readReport(iface, answer), kErrorDeviceNotConnected);
    EXPECT_EQ(Bus().flushQueue(iface), kErrorDeviceNotConnected);
    EXPECT_EQ(Bus().getFeature(iface, feature.data(), 128), kErrorDeviceNotConnected);
    // Only the first query reached the monitor.
    EXPECT_EQ(Bus().transcript.size(), 2u);
}

TEST_F(SimControllerTest, FeatureFaultHitsOnlyItsOwnQuery) {
    M().faults = {{1, sim::FaultKind::FeatureFails, 0}};
    std::vector<uint8_t> buffer(128, 0);
    EXPECT_EQ(Exchange(kFirmwareQuery), 0x01);
    EXPECT_EQ(Bus().getFeature(iface, buffer.data(), 128), sim::kErrorGenFailure);
    EXPECT_EQ(Exchange(kFirmwareQuery), 0x01);
    EXPECT_EQ(Bus().getFeature(iface, buffer.data(), 128), 0u);
}

TEST_F(SimControllerTest, FlushDropsWaitingAnswers) {
    EXPECT_EQ(Write(kFirmwareQuery), 0u);
    EXPECT_EQ(Write(kConfigQuery), 0u);
    EXPECT_EQ(Bus().flushQueue(iface), 0u);
    uint8_t answer[9];
    EXPECT_EQ(Bus().readReport(iface, answer), kErrorIoPending);
    // A collection that is not the controller takes no reports and answers none.
    const int keyboardLike = static_cast<int>(Bus().interfaces.size());
    Bus().interfaces.push_back(sim::SimInterface{});
    EXPECT_EQ(Write(kFirmwareQuery), 0u);
    EXPECT_EQ(Bus().writeReport(keyboardLike, kFirmwareQuery.data(), 264),
              sim::kErrorInvalidParameter);
    EXPECT_EQ(Bus().readReport(keyboardLike, answer), kErrorIoPending);
    EXPECT_EQ(Bus().readReport(-1, answer), sim::kErrorInvalidHandle);
    EXPECT_EQ(Bus().writeReport(99, kFirmwareQuery.data(), 264), sim::kErrorInvalidHandle);
}

// ---- The channel over the simulated bus ---------------------------------------------------

class SimChannelTest : public SimControllerTest {
protected:
    void SetUp() override {
        CloseLogHandler();
        GetLogSettings().fileName = dir.file("sim.log");
        GetLogSettings().level = LogTrace;
        VerboseFlag() = 0;
        SimControllerTest::SetUp();
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        SimControllerTest::TearDown();
    }

    std::vector<std::string> LogTexts() {
        CloseLogHandler();
        std::vector<std::string> texts;
        std::istringstream in(ReadFileBytes(dir.file("sim.log")));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const size_t level = line.find('\t', line.find('\t') + 1);
            const size_t text = level == std::string::npos ? level : line.find('\t', level + 1);
            if (text != std::string::npos) {
                texts.push_back(line.substr(text + 1));
            }
        }
        return texts;
    }

    std::wstring Path() const { return Bus().interfaces[static_cast<size_t>(iface)].path; }

    TempDir dir;
};

TEST_F(SimChannelTest, OpenAndTerminateHoldAndReleaseTheMonitor) {
    {
        HidIo channel;
        EXPECT_FALSE(channel.open(L"\\\\?\\hid#vid_0f66&pid_9999#x"));
        channel.terminate();
        EXPECT_EQ(Bus().openHandles, 0);

        HidIo open;
        ASSERT_TRUE(open.open(Path()));
        EXPECT_TRUE(M().open);
        EXPECT_EQ(Bus().openHandles, 2);
        open.terminate();
        EXPECT_FALSE(M().open);
        EXPECT_EQ(Bus().openHandles, 0);
        open.terminate();
        EXPECT_EQ(Bus().openHandles, 0);

        HidIo forgotten;
        ASSERT_TRUE(forgotten.open(Path()));
    }
    // A channel dropped without terminate still lets go of the monitor.
    EXPECT_EQ(Bus().openHandles, 0);
    EXPECT_FALSE(M().open);
    const auto texts = LogTexts();
    ASSERT_GE(texts.size(), 1u);
    EXPECT_EQ(
        texts[0],
        "HidIo::open(\\\\?\\hid#vid_0f66&pid_9999#x), create hidDevRead failed, err=0x00000002");
    EXPECT_EQ(std::count(texts.begin(), texts.end(),
                         "*************************** HidIo::terminate "
                         "****************************************"),
              3);
}

TEST_F(SimChannelTest, ExchangeOnTheVirtualClock) {
    M().faults = {{2, sim::FaultKind::NoAnswer, 0}};
    HidIo channel;
    ASSERT_TRUE(channel.open(Path()));
    uint8_t answer[9];
    std::fill(answer, answer + 9, 0xEE);
    ASSERT_TRUE(channel.flushDeviceQueue());
    ASSERT_TRUE(channel.sendOutputReport(kFirmwareQuery.data(), 264));
    ASSERT_TRUE(channel.recvInputReport(answer, 3000));
    EXPECT_EQ(answer[1], 0x01);
    EXPECT_EQ(Bus().clockMs, 0u);

    ASSERT_TRUE(channel.sendOutputReport(kEnterUpdate.data(), 264));
    std::fill(answer, answer + 9, 0xEE);
    EXPECT_FALSE(channel.recvInputReport(answer, 7000));
    EXPECT_EQ(Bus().clockMs, 7000u);
    EXPECT_TRUE(std::all_of(answer, answer + 9, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(channel.isConnected());
    HidSleep(8000);
    EXPECT_EQ(Bus().clockMs, 15000u);
    channel.terminate();

    const auto texts = LogTexts();
    EXPECT_EQ(
        std::count(texts.begin(), texts.end(), "HidIo::sendOutputReport - fast write success"), 2);
}

TEST_F(SimChannelTest, DisconnectedChannelRefusesEverything) {
    M().faults = {{1, sim::FaultKind::Disconnect, 0}};
    HidIo channel;
    ASSERT_TRUE(channel.open(Path()));
    EXPECT_FALSE(channel.sendOutputReport(kFirmwareQuery.data(), 264));
    EXPECT_FALSE(channel.isConnected());
    uint8_t answer[9];
    std::vector<uint8_t> feature(128, 0);
    EXPECT_FALSE(channel.flushDeviceQueue());
    EXPECT_FALSE(channel.sendOutputReport(kFirmwareQuery.data(), 264));
    EXPECT_FALSE(channel.recvInputReport(answer, 3000));
    EXPECT_FALSE(channel.getFeature(feature.data(), 128));
    EXPECT_EQ(Bus().clockMs, 0u);
    EXPECT_EQ(M().exchanges, 1u);
    channel.terminate();

    const auto texts = LogTexts();
    const std::vector<std::string> want = {
        "HidIo::sendOutputReport - write failed, error=0x0000048f",
        "HidIo::sendOutputReport - Device Not connected #0",
        "HidIo::flushDeviceQueue - device is not connected",
        "HidIo::sendOutputReport - device is not connected",
        "HidIo::recvInputReport - device is not connected",
        "HidIo::getFeature - device is not connected",
    };
    ASSERT_GE(texts.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 6), want);
}

TEST_F(SimChannelTest, FailedFeatureFetchIsPrintedEvenWithoutVerbose) {
    M().faults = {{1, sim::FaultKind::FeatureFails, 0}};
    HidIo channel;
    ASSERT_TRUE(channel.open(Path()));
    ASSERT_TRUE(channel.sendOutputReport(kFirmwareQuery.data(), 264));
    std::vector<uint8_t> feature(128, 0);
    CaptureOutput capture;
    EXPECT_FALSE(channel.getFeature(feature.data(), 128));
    EXPECT_EQ(capture.out(), "HidIo::getFeature - err=0000001f\n");
    // Unlike a failed transfer, a failed fetch leaves the channel usable.
    EXPECT_TRUE(channel.isConnected());
    channel.terminate();
}

}  // namespace
