#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "hid/HidTypes.h"
#include "sim/SimBus.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

std::vector<uint8_t> Report(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> bytes(264, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

const std::vector<uint8_t> kFirmwareQuery = Report({1, 6, 0, 0x20, 0, 0xFF, 0xFF, 0, 1});
const std::vector<uint8_t> kEnter = Report({1, 4, 0, 1, 0});
const std::vector<uint8_t> kLeave = Report({1, 4, 0, 0, 0x40});
const std::vector<uint8_t> kCommit = Report({1, 5, 0, 2, 0});

// A record write of data to address a0 a1 a2.
std::vector<uint8_t> Record(uint8_t a0, uint8_t a1, uint8_t a2,
                            std::initializer_list<uint8_t> data) {
    std::vector<uint8_t> bytes = Report({1, static_cast<uint8_t>(data.size() + 5), 0, 2, 0,
                                         static_cast<uint8_t>(data.size()), a0, a1, a2});
    std::copy(data.begin(), data.end(), bytes.begin() + 9);
    return bytes;
}

class SimControllerTest : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override { Bus().reset(); }

    void Fresh() {
        Bus().reset();
        iface = Bus().monitorInterface(Bus().addMonitor(L"41-A0001"));
        ASSERT_GE(iface, 0);
    }
    sim::SimMonitor& M() { return Bus().monitors[0]; }

    // The answer's status; -1 when the answer was lost, -2 when the write found the
    // monitor disconnected.
    int Exchange(const std::vector<uint8_t>& report) {
        const uint32_t error = Bus().writeReport(iface, report.data(), 264);
        if (error != 0) {
            EXPECT_EQ(error, kErrorDeviceNotConnected);
            return -2;
        }
        uint8_t answer[9];
        return Bus().readReport(iface, answer) == 0 ? answer[1] : -1;
    }

    int iface = -1;
};

// Only records addressed 10 00 <offset> inside the 64 bytes land, and only on the commit.
TEST_F(SimControllerTest, RecordsAreStagedAndAppliedOnCommit) {
    const std::array<uint8_t, 64> before = M().config;
    std::array<uint8_t, 64> after = before;
    after[0x10] = 0x28;
    after[0x3F] = 0x5A;
    std::vector<uint8_t> stray = Record(0x10, 0, 0x10, {0x28});
    stray[11] = 1;
    const std::vector<uint8_t> r1 = Record(0x10, 0, 0x10, {0x28});
    const std::vector<uint8_t> r2 = Record(0x10, 0, 0x3F, {0x5A});
    const struct {
        const char* name;
        std::vector<std::pair<std::vector<uint8_t>, int>> steps;  // report, status
        std::array<uint8_t, 64> config;
    } cases[] = {
        {"outside update mode", {{r1, 0x80}, {kCommit, 0x80}}, before},
        {"committed", {{kEnter, 1}, {r1, 0}, {r2, 0}, {kCommit, 0}, {kLeave, 1}}, after},
        {"not committed", {{kEnter, 1}, {r1, 0}, {kLeave, 1}, {kEnter, 1}, {kCommit, 0}}, before},
        {"refused or ignored",
         {{kEnter, 1},
          {Record(0xFF, 0, 0x10, {1}), 0},
          {Record(0x10, 0x73, 0x10, {1}), 0},
          {Record(0x10, 0, 0x3F, {1, 2}), 0x80},
          {stray, 0x80},
          {Report({1, 22, 0, 2, 0, 17, 0x10, 0, 0x10}), 0x80},
          {kCommit, 0}},
         before},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            EXPECT_EQ(Exchange(c.steps[i].first), c.steps[i].second) << "step " << i;
        }
        EXPECT_EQ(M().config, c.config);
    }
}

// Exchanges: 1 firmware query and its feature fetch, 2 update mode, 3 a record, 4 commit.
TEST_F(SimControllerTest, FaultsHitTheirOwnExchange) {
    using sim::FaultKind;
    const struct {
        const char* name;
        sim::ScriptedFault fault;
        bool fetched;
        std::vector<int> statuses;  // of exchanges 2 to 4
        bool applied;
    } cases[] = {
        {"feature fetch fails", {1, FaultKind::FeatureFails, 0}, false, {1, 0, 0}, true},
        {"record answered 0x3f", {3, FaultKind::Status, 0x3F}, true, {1, 0x3F, 0}, true},
        {"record refused", {3, FaultKind::Status, 0x80}, true, {1, 0x80, 0}, false},
        {"commit answered 0x40", {4, FaultKind::Status, 0x40}, true, {1, 0, 0x40}, false},
        {"update mode refused", {2, FaultKind::Status, 0x00}, true, {0, 0x80, 0x80}, false},
        {"record answer lost", {3, FaultKind::NoAnswer, 0}, true, {1, -1, 0}, true},
        {"commit answer lost", {4, FaultKind::NoAnswer, 0}, true, {1, 0, -1}, true},
        {"disconnected", {3, FaultKind::Disconnect, 0}, true, {1, -2, -2}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        M().faults = {c.fault};
        EXPECT_EQ(Exchange(kFirmwareQuery), 1);
        std::vector<uint8_t> feature(128, 0);
        EXPECT_EQ(Bus().getFeature(iface, feature.data(), 128) == 0, c.fetched);
        EXPECT_EQ(Exchange(kEnter), c.statuses[0]);
        EXPECT_EQ(Exchange(Record(0x10, 0, 0x12, {0x28})), c.statuses[1]);
        EXPECT_EQ(Exchange(kCommit), c.statuses[2]);
        EXPECT_EQ(M().config[0x12] == 0x28, c.applied);
    }
}

}  // namespace
