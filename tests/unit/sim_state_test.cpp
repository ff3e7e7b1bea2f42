#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "hid/HidTypes.h"
#include "sim/SimBus.h"
#include "sim/SimState.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

auto Settings(const sim::SimMonitor& m) {
    return std::tie(m.serial, m.vid, m.pid, m.version, m.usagePage, m.usage, m.reportId,
                    m.numberedFeature, m.outputReportLength, m.featureReportLength,
                    m.outputValueCapsMatch, m.otherOutputValues, m.secondCollection, m.updateMode,
                    m.componentTable, m.config);
}

TEST(SimState, EverySettingSurvivesARoundTrip) {
    std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
    sim::SimMonitor& odd = monitors.emplace_back();
    odd.serial = L"SN 0042";
    odd.vid = 0x1234;
    odd.pid = 0xABCD;
    odd.version = 0x0207;
    odd.usagePage = 0xFF00;
    odd.usage = 0x0001;
    odd.reportId = 0xFE;
    odd.numberedFeature = true;
    odd.outputReportLength = 65;
    odd.featureReportLength = 0;
    odd.outputValueCapsMatch = false;
    odd.otherOutputValues = 3;
    odd.secondCollection = true;
    odd.updateMode = true;
    for (size_t i = 0; i < 64; ++i) {
        odd.config[i] = static_cast<uint8_t>(i * 7);
        odd.componentTable[i % 16] = static_cast<uint8_t>(0xF0 - i % 16);
    }
    using F = sim::FaultKind;
    odd.faults = {{1, F::NoAnswer, 0},     {2, F::Status, 0x3F},    {4000000000u, F::Disconnect, 0},
                  {3, F::FeatureFails, 0}, {4, F::WritePending, 0}, {4, F::Vanish, 0},
                  {5, F::FlushFails, 0},   {5, F::Stale, 0xC1},     {6, F::Late, 0, 4294967295u}};

    // As edited on Windows: CRLF line ends.
    const std::string text =
        std::regex_replace(sim::FormatState(monitors), std::regex("\n"), "\r\n");
    std::vector<sim::SimMonitor> parsed;
    std::string error;
    ASSERT_TRUE(sim::ParseState(text, parsed, error)) << error;
    ASSERT_EQ(parsed.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Settings(parsed[i]), Settings(monitors[i])) << i;
    }
    ASSERT_EQ(parsed[2].faults.size(), odd.faults.size());
    for (size_t i = 0; i < odd.faults.size(); ++i) {
        const sim::ScriptedFault &a = parsed[2].faults[i], &b = odd.faults[i];
        EXPECT_EQ(std::tie(a.exchange, a.kind, a.status, a.delayMs),
                  std::tie(b.exchange, b.kind, b.status, b.delayMs))
            << i;
    }
    EXPECT_EQ(sim::FormatState(parsed), sim::FormatState(monitors));
}

// Whatever the parser accepts is saved so that it reads back the same, whatever bytes the
// serial holds: carriage returns (around tabs, as the fuzzer found), zeros, stray bytes.
TEST(SimState, SerialsReadBackAsSaved) {
    using namespace std::string_literals;
    const struct {
        std::string line;
        std::wstring serial;
    } cases[] = {
        {"monitor\t\t\t\r\t\t\t \n", L""},
        {"monitor x\r\t\n", L"x"},
        {"monitor \r\tx\n", L"x"},
        {"monitor a\rb \r\n", L"a\rb"},
        {"monitor \v \n", L"\v"},
        {"monitor ngth \0\0a@\0\r\x1b 2 st\n"s, L"ngth \0\0a@\0\r\x1b 2 st"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.line));
        std::vector<sim::SimMonitor> first;
        std::vector<sim::SimMonitor> again;
        std::string error;
        ASSERT_TRUE(sim::ParseState(c.line, first, error)) << error;
        ASSERT_EQ(first.size(), 1u);
        EXPECT_EQ(first[0].serial, c.serial);
        const std::string saved = sim::FormatState(first);
        ASSERT_TRUE(sim::ParseState(saved, again, error)) << error;
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0].serial, c.serial);
        EXPECT_EQ(sim::FormatState(again), saved);
    }
}

// Each line follows "monitor A"; the error names line 2.
TEST(SimState, BadLinesAreReportedAndChangeNothing) {
    const std::string kFaultKinds =
        "fault kinds: no-answer, disconnect, feature-fails, write-pending, vanish, flush-fails, "
        "status <hex byte>, stale <hex byte>, late <milliseconds>";
    const struct {
        std::string line, error;
    } cases[] = {
        {"brightness 10", "unknown setting 'brightness'"},
        {"vid 10000", "vid takes four hex digits"},
        {std::string("vid 0f\0 66", 10), "vid takes four hex digits"},
        {"output-report-length -1", "output-report-length takes a decimal number up to 65535"},
        {"components 01:10105 02:0002 03:0210 04:0107",
         "bad component entry '01:10105' (number:level[:flags] in hex)"},
        {"config 3f 01 02", "config bytes reach past the 64 configuration bytes"},
        {"config 00 01 100", "bad config byte '100'"},
        {"fault 99999999999 no-answer", "fault takes an exchange number from 1 and a kind"},
        {"fault 2 status 100", kFaultKinds},
        {"fault 2 stale", kFaultKinds},
        {"fault 2 late 4294967296", kFaultKinds},
        {"fault 2 vanish 10", kFaultKinds},
        {"mode flash", "mode takes normal or update"},
        {"numbered-feature 01", "numbered-feature takes yes or no"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
        std::string error;
        EXPECT_FALSE(sim::ParseState("monitor A\n" + c.line + "\n", monitors, error));
        EXPECT_EQ(error, "line 2: " + c.error);
        EXPECT_EQ(monitors.size(), 2u);
    }
    std::vector<sim::SimMonitor> monitors;
    std::string error;
    EXPECT_FALSE(sim::ParseState("vid 0f66\n", monitors, error));
    EXPECT_EQ(error, "line 1: 'vid' before the first monitor line");
}

// A controller without report ids unless the file says otherwise. A file of the earlier
// simulator says "report-id 01" and nothing of the feature report: numbered input and output
// reports, a feature report without id, as that simulator answered. A controller that
// numbers its feature report too must name the id.
TEST(SimState, ReportIdsByDefaultAndInFilesOfTheEarlierSimulator) {
    std::vector<sim::SimMonitor> monitors;
    std::string error;
    ASSERT_TRUE(
        sim::ParseState("monitor A\nmonitor B\n  report-id 01\n"
                        "monitor C\n  numbered-feature yes\n  report-id 02\n",
                        monitors, error))
        << error;
    ASSERT_EQ(monitors.size(), 3u);
    EXPECT_EQ(std::tie(monitors[0].reportId, monitors[0].numberedFeature),
              std::make_tuple(uint8_t{0}, false));
    EXPECT_EQ(std::tie(monitors[1].reportId, monitors[1].numberedFeature),
              std::make_tuple(uint8_t{1}, false));
    EXPECT_EQ(std::tie(monitors[2].reportId, monitors[2].numberedFeature),
              std::make_tuple(uint8_t{2}, true));
    for (const sim::SimMonitor& m : sim::DefaultMonitors()) {
        EXPECT_EQ(m.reportId, 0);
        EXPECT_FALSE(m.numberedFeature);
    }
    // The error names the monitor's line, whether another monitor follows or not.
    for (const std::string text : {"# x\nmonitor A\n  numbered-feature yes\n",
                                   "# x\nmonitor A\n  numbered-feature yes\nmonitor B\n"}) {
        monitors = sim::DefaultMonitors();
        EXPECT_FALSE(sim::ParseState(text, monitors, error));
        EXPECT_EQ(error,
                  "line 2: the monitor's numbered-feature yes needs a report-id other than 00");
        EXPECT_EQ(monitors.size(), 2u);
    }
}

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

// One run's reports to the first monitor: each entry function below is a whole run.
uint8_t Send(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> report(264, 0);
    std::copy(head.begin(), head.end(), report.begin());
    const int iface = Bus().monitorInterface(0);
    EXPECT_EQ(Bus().writeReport(iface, report.data(), 264), 0u);
    uint8_t answer[9] = {};
    EXPECT_EQ(Bus().readReport(iface, answer), 0u);
    return answer[1];
}
uint8_t ConfigQuery() {
    return Send({0, 6, 0, 0x20, 0, 0xFF, 0x01, 0, 0});
}
int EnterUpdateAndStageARecord(int, char**) {
    EXPECT_EQ(ConfigQuery(), sim::kStatusQueryOk);
    EXPECT_EQ(Send({0, 4, 0, 1, 0}), sim::kStatusQueryOk);
    EXPECT_EQ(Send({0, 6, 0, 2, 0, 1, 0x10, 0, 0x10, 0x28}), sim::kStatusWriteOk);
    return 1;  // as a run whose update failed before the commit
}
int StillInUpdateMode(int, char**) {
    EXPECT_TRUE(Bus().monitors[0].updateMode);
    EXPECT_TRUE(Bus().monitors[0].stagedRecords.empty());
    EXPECT_EQ(Bus().monitors[0].exchanges, 0u);
    // The record of the last run is gone: a commit now applies nothing.
    EXPECT_EQ(Send({0, 5, 0, 2, 0}), sim::kStatusWriteOk);
    return 0;
}
int LeaveUpdateMode(int, char**) {
    EXPECT_EQ(Send({0, 4, 0, 0, 0x40}), sim::kStatusQueryOk);
    return 0;
}
int EnterUpdateThenDropOffTheBus(int, char**) {
    EXPECT_EQ(Send({0, 4, 0, 1, 0}), sim::kStatusQueryOk);
    Bus().monitors[0].faults = {{2, sim::FaultKind::Disconnect, 0}};
    const std::vector<uint8_t> record(264, 1);
    EXPECT_EQ(Bus().writeReport(Bus().monitorInterface(0), record.data(), 264),
              kErrorDeviceNotConnected);
    return 1;
}

// A monitor left in update mode by one run is still in it on the next, as the hardware is,
// until a reset leaves it; the state file says so in between.
TEST(SimState, UpdateModeOutlivesTheRunUntilAResetLeavesIt) {
    TempDir dir;
    const std::string state = dir.file(sim::kStateFileName);
    char name[] = "marvanecfgutil-sim";
    char* argv[] = {name, nullptr};
    auto modes = [&] {
        std::vector<sim::SimMonitor> monitors;
        std::string error;
        EXPECT_TRUE(sim::ParseState(ReadFileBytes(state), monitors, error)) << error;
        std::string text;
        for (const sim::SimMonitor& m : monitors) {
            text += m.updateMode ? "U" : "N";
            EXPECT_EQ(m.config, sim::DefaultMonitorConfig());
        }
        return text;
    };

    EXPECT_EQ(sim::RunSimSession(dir.path(), 1, argv, EnterUpdateAndStageARecord), 1);
    EXPECT_EQ(modes(), "UN");
    EXPECT_NE(ReadFileBytes(state).find("\n  mode update\n"), std::string::npos);
    EXPECT_EQ(sim::RunSimSession(dir.path(), 1, argv, StillInUpdateMode), 0);
    EXPECT_EQ(modes(), "UN");
    EXPECT_EQ(sim::RunSimSession(dir.path(), 1, argv, LeaveUpdateMode), 0);
    EXPECT_EQ(modes(), "NN");
    // A monitor that dropped off the bus comes back as after power-up.
    EXPECT_EQ(sim::RunSimSession(dir.path(), 1, argv, EnterUpdateThenDropOffTheBus), 1);
    EXPECT_EQ(modes(), "NN");
    Bus().reset();
}

}  // namespace
