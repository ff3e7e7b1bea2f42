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
    Bytes bytes = Report({0, static_cast<uint8_t>(data.size() + 5), 0, 2, 0,
                          static_cast<uint8_t>(data.size()), a0, a1, a2});
    std::copy(data.begin(), data.end(), bytes.begin() + 9);
    return bytes;
}

// The status of the report's answer, -1 when it was lost or not sent; an empty report
// fetches the feature report instead: 0 when it came, -3 when refused.
int Step(int iface, const Bytes& report) {
    if (report.empty()) {
        Bytes feature(128, 0);
        return Bus().getFeature(iface, feature.data(), 128) == 0 ? 0 : -3;
    }
    uint8_t answer[9];
    const bool answered =
        Bus().writeReport(iface, report.data(), 264) == 0 && Bus().readReport(iface, answer) == 0;
    return answered ? answer[1] : -1;
}

// Records land only in update mode, only on the commit and only at 10 00 <offset> inside
// the 64 bytes; a scripted fault hits the nth report the monitor receives and no other.
TEST(SimController, StagingCommitAndFaults) {
    const Bytes query = Report({0, 6, 0, 0x20, 0, 0xFF, 0xFF, 0, 1});
    const Bytes config = Report({0, 6, 0, 0x20, 0, 0xFF, 0x01, 0, 0});
    const Bytes enter = Report({0, 4, 0, 1, 0}), commit = Report({0, 5, 0, 2, 0});
    const Bytes leave = Report({0, 4, 0, 0, 0x40});
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
        // The configuration is not reported while it is being rewritten; the levels are.
        {"queries in update mode",
         {},
         {{enter, 1}, {config, 0x80}, {get, -3}, {query, 1}, {leave, 1}, {config, 1}, {get, 0}},
         none},
        {"left without a commit", {}, {{enter, 1}, {r1, 0}, {leave, 1}, {commit, 0x80}}, none},
        {"0x80 at 2", {{2, F::Status, 0x80}}, {{enter, 1}, {r1, 0x80}, {r2, 0}, {commit, 0}}, last},
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

// A feature report is fetched with the id the collection declares for it, or refused with
// ERROR_INVALID_PARAMETER before the controller hears of it, as the HID class driver does: a
// controller without ids (the default) answers id 0; one that numbers every report
// (`numbered-feature yes`) refuses the product's id 0; the layout of earlier state files
// (`report-id 01` alone: numbered input and output, a feature report without id) answers id 0.
TEST(SimController, FeatureReportsOnlyForTheDeclaredId) {
    const struct {
        const char* name;
        uint8_t reportId;
        bool numberedFeature;
        uint8_t declared;  // the one id a fetch may ask for
    } cases[] = {
        {"no report ids", 0x00, false, 0x00},
        {"earlier state files", 0x01, false, 0x00},
        {"every report numbered", 0x01, true, 0x01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus().reset();
        sim::SimMonitor monitor;
        monitor.serial = L"41-A0001";
        monitor.reportId = c.reportId;
        monitor.numberedFeature = c.numberedFeature;
        const int iface = Bus().monitorInterface(Bus().addMonitor(monitor));
        Bytes query = Report({c.reportId, 6, 0, 0x20, 0, 0xFF, 0xFF, 0, 1});
        uint8_t answer[9] = {};
        ASSERT_EQ(Bus().writeReport(iface, query.data(), 264), 0u);
        ASSERT_EQ(Bus().readReport(iface, answer), 0u);
        EXPECT_EQ(answer[0], c.reportId);  // the input report's id
        for (const uint8_t id : {uint8_t(c.declared ^ 1), uint8_t(c.declared ^ 2)}) {
            Bytes feature(128, 0);
            feature[0] = id;
            EXPECT_EQ(Bus().getFeature(iface, feature.data(), 128), kErrorInvalidParameter)
                << int(id);
        }
        // Nothing was asked of the controller: the answer is still there for the right id.
        EXPECT_EQ(Bus().transcript.size(), 2u);
        Bytes feature(128, 0);
        feature[0] = c.declared;
        EXPECT_EQ(Bus().getFeature(iface, feature.data(), 128), 0u);
        EXPECT_EQ(feature[0], c.declared);
        EXPECT_EQ(feature[3], 0xFF);  // the firmware levels' selector
    }
    Bus().reset();
}

}  // namespace
