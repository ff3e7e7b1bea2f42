#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "hid/HidTypes.h"
#include "sim/SimBus.h"

namespace {

using Bytes = std::vector<uint8_t>;

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

Bytes Report(std::initializer_list<uint8_t> head) {
    Bytes bytes(264, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

Bytes Record(uint8_t a0, uint8_t a1, uint8_t a2, std::initializer_list<uint8_t> data) {
    Bytes bytes = Report({1, static_cast<uint8_t>(data.size() + 5), 0, 2, 0,
                          static_cast<uint8_t>(data.size()), a0, a1, a2});
    std::copy(data.begin(), data.end(), bytes.begin() + 9);
    return bytes;
}

// The status of the report's answer, -1 when it was lost, -2 when the monitor was gone; an
// empty report fetches the feature report instead: 0 when it came, -3 when refused.
int Step(int iface, const Bytes& report) {
    if (report.empty()) {
        Bytes feature(128, 0);
        return Bus().getFeature(iface, feature.data(), 128) == 0 ? 0 : -3;
    }
    const uint32_t error = Bus().writeReport(iface, report.data(), 264);
    if (error != 0) {
        EXPECT_EQ(error, kErrorDeviceNotConnected);
        return -2;
    }
    uint8_t answer[9];
    return Bus().readReport(iface, answer) == 0 ? answer[1] : -1;
}

// Records land only in update mode, only on the commit and only at 10 00 <offset> inside
// the 64 bytes; a scripted fault hits the nth report the monitor receives and no other.
TEST(SimController, StagingCommitAndFaults) {
    const Bytes query = Report({1, 6, 0, 0x20, 0, 0xFF, 0xFF, 0, 1});
    const Bytes config = Report({1, 6, 0, 0x20, 0, 0xFF, 0x01, 0, 0});
    const Bytes enter = Report({1, 4, 0, 1, 0}), commit = Report({1, 5, 0, 2, 0});
    const Bytes leave = Report({1, 4, 0, 0, 0x40});
    const Bytes get;  // the feature report
    const Bytes r1 = Record(0x10, 0, 0x10, {0x28}), r2 = Record(0x10, 0, 0x3F, {0x5A});
    const Bytes other = Record(0xFF, 0, 0x10, {1}), moved = Record(0x10, 1, 0x10, {1});
    const Bytes past = Record(0x10, 0, 0x3F, {1, 2});
    Bytes stray = r1;  // a byte after the data
    stray[11] = 1;
    const std::array<uint8_t, 64> none = sim::DefaultMonitorConfig();
    std::array<uint8_t, 64> last = none;
    last[0x3F] = 0x5A;
    std::array<uint8_t, 64> both = last;
    both[0x10] = 0x28;
    using F = sim::FaultKind;
    const struct {
        const char* name;
        std::vector<sim::ScriptedFault> faults;
        std::vector<std::pair<Bytes, int>> steps;  // report, status of answer
        std::array<uint8_t, 64> config;
    } cases[] = {
        {"no update mode", {}, {{r1, 0x80}, {commit, 0x80}}, none},
        {"committed", {}, {{enter, 1}, {r1, 0}, {r2, 0}, {commit, 0}}, both},
        {"no commit", {}, {{enter, 1}, {r1, 0}, {r2, 0}}, none},
        {"other records",
         {},
         {{enter, 1}, {other, 0}, {moved, 0}, {past, 0x80}, {stray, 0x80}, {commit, 0}},
         none},
        {"fetch", {{1, F::FeatureFails, 0}}, {{query, 1}, {get, -3}, {query, 1}, {get, 0}}, none},
        // The configuration is not reported while it is being rewritten; the levels are.
        {"queries in update mode",
         {},
         {{enter, 1}, {config, 0x80}, {get, -3}, {query, 1}, {leave, 1}, {config, 1}, {get, 0}},
         none},
        {"left without a commit", {}, {{enter, 1}, {r1, 0}, {leave, 1}, {commit, 0x80}}, none},
        {"enter refused", {{1, F::Status, 0}}, {{enter, 0}, {r1, 0x80}, {commit, 0x80}}, none},
        {"0x80 at 2", {{2, F::Status, 0x80}}, {{enter, 1}, {r1, 0x80}, {r2, 0}, {commit, 0}}, last},
        {"0x40 at 4", {{4, F::Status, 0x40}}, {{enter, 1}, {r1, 0}, {r2, 0}, {commit, 0x40}}, none},
        {"answer lost", {{4, F::NoAnswer, 0}}, {{enter, 1}, {r1, 0}, {r2, 0}, {commit, -1}}, both},
        {"disconnect", {{2, F::Disconnect, 0}}, {{enter, 1}, {r1, -2}, {commit, -2}}, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus().reset();
        const int iface = Bus().monitorInterface(Bus().addMonitor(L"41-A0001"));
        Bus().monitors[0].faults = c.faults;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            EXPECT_EQ(Step(iface, c.steps[i].first), c.steps[i].second) << "step " << i;
        }
        EXPECT_EQ(Bus().monitors[0].config, c.config);
    }
    Bus().reset();
}

// The faults of timing and of the input queue: a late answer is readable from its time on
// and overtaken by answers due earlier, a flush empties only what has arrived, a stale
// report waits before its exchange, a failing flush fails once, a pending write reaches
// nothing, a vanishing device fails the read that waits for its answer.
TEST(SimController, TimingAndQueueFaults) {
    using F = sim::FaultKind;
    const Bytes query = Report({1, 6, 0, 0x20, 0, 0xFF, 0xFF, 0, 1});
    const Bytes enter = Report({1, 4, 0, 1, 0}), commit = Report({1, 5, 0, 2, 0});
    const Bytes r1 = Record(0x10, 0, 0x10, {0x28});
    Bus().reset();
    const int iface = Bus().monitorInterface(Bus().addMonitor(L"41-A0001"));
    sim::SimMonitor& m = Bus().monitors[0];
    m.faults = {{1, F::Late, 0, 500},
                {3, F::Stale, 0x80, 0},
                {4, F::Stale, 0x81, 0},
                {4, F::WritePending, 0, 0},
                {6, F::Vanish, 0, 0}};
    uint8_t answer[9] = {};
    const auto write = [&](const Bytes& report) {
        return Bus().writeReport(iface, report.data(), 264);
    };
    const auto read = [&]() -> int {
        const uint32_t error = Bus().readReport(iface, answer);
        return error == 0 ? answer[1] : -static_cast<int>(error);
    };

    ASSERT_EQ(write(query), 0u);  // 1: answered 500 ms late
    EXPECT_EQ(read(), -997);
    EXPECT_EQ(Bus().readCompletesAt(iface), 500u);
    Bus().clockMs = 200;
    ASSERT_EQ(write(enter), 0u);  // 2: answered at once
    EXPECT_EQ(Bus().flushQueue(iface), 0u);
    EXPECT_EQ(read(), -997) << "the flush took the answer and the stale report, not the late one";
    Bus().clockMs = 600;
    ASSERT_EQ(write(r1), 0u);  // 3
    EXPECT_EQ(read(), 0x01) << "the late answer of exchange 1, in the order of arrival";
    EXPECT_EQ(read(), 0x00);
    EXPECT_EQ(read(), 0x81) << "the stale report before exchange 4";
    EXPECT_EQ(write(commit), kErrorIoPending);  // 4: never reaches the controller
    EXPECT_EQ(m.exchanges, 4u);
    EXPECT_EQ(read(), -997);
    EXPECT_EQ(Bus().readCompletesAt(iface), sim::kNever);
    EXPECT_EQ(m.config, sim::DefaultMonitorConfig());
    ASSERT_EQ(write(commit), 0u);  // 5
    EXPECT_EQ(read(), 0x00);
    std::array<uint8_t, 64> committed = sim::DefaultMonitorConfig();
    committed[0x10] = 0x28;
    EXPECT_EQ(m.config, committed);
    ASSERT_EQ(write(enter), 0u);  // 6: acted on, then the device leaves while the host waits
    EXPECT_TRUE(m.updateMode);
    EXPECT_EQ(read(), -997);
    EXPECT_FALSE(m.updateMode) << "off the bus, it comes back as after power-up";
    EXPECT_EQ(Bus().readCompletesAt(iface), Bus().clockMs);
    EXPECT_EQ(read(), -static_cast<int>(kErrorDeviceNotConnected));
    EXPECT_EQ(write(enter), kErrorDeviceNotConnected);
    EXPECT_EQ(
        std::count_if(Bus().transcript.begin(), Bus().transcript.end(),
                      [](const std::string& line) { return line.find(" OUT ") != line.npos; }),
        5)
        << "the pending write left no line";
    Bus().reset();
}

}  // namespace
