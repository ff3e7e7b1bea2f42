#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
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
    const auto faults = [](const sim::SimMonitor& m) {
        std::vector<std::tuple<uint32_t, sim::FaultKind, uint8_t, uint32_t>> all;
        for (const sim::ScriptedFault& f : m.faults) {
            all.emplace_back(f.exchange, f.kind, f.status, f.delayMs);
        }
        return all;
    };
    EXPECT_EQ(faults(parsed[2]), faults(odd));
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
        std::vector<sim::SimMonitor> first, again;
        std::string error;
        ASSERT_TRUE(sim::ParseState(c.line, first, error) && first.size() == 1) << error;
        EXPECT_EQ(first[0].serial, c.serial);
        ASSERT_TRUE(sim::ParseState(sim::FormatState(first), again, error) && again.size() == 1);
        EXPECT_EQ(again[0].serial, c.serial);
    }
}

// A bad line names itself and changes nothing; so does a monitor whose lines contradict each
// other, on its monitor line.
TEST(SimState, BadLinesAreReportedAndChangeNothing) {
    const std::string kFaultKinds =
        "fault kinds: no-answer, disconnect, feature-fails, write-pending, vanish, flush-fails, "
        "status <hex byte>, stale <hex byte>, late <milliseconds>";
    const std::string kNumbered =
        "line 2: the monitor's numbered-feature yes needs a report-id other than 00";
    const std::string m = "# x\nmonitor A\n";
    const struct {
        std::string text, error;
    } cases[] = {
        {"vid 0f66\n", "line 1: 'vid' before the first monitor line"},
        {m + "brightness 10", "line 3: unknown setting 'brightness'"},
        {m + "vid 10000", "line 3: vid takes four hex digits"},
        {m + std::string("vid 0f\0 66", 10), "line 3: vid takes four hex digits"},
        {m + "output-report-length -1",
         "line 3: output-report-length takes a decimal number up to 65535"},
        {m + "components 01:10105 02:0002 03:0210 04:0107",
         "line 3: bad component entry '01:10105' (number:level[:flags] in hex)"},
        {m + "config 3f 01 02", "line 3: config bytes reach past the 64 configuration bytes"},
        {m + "config 00 01 100", "line 3: bad config byte '100'"},
        {m + "fault 99999999999 no-answer",
         "line 3: fault takes an exchange number from 1 and a kind"},
        {m + "fault 2 status 100", "line 3: " + kFaultKinds},
        {m + "fault 2 late 4294967296", "line 3: " + kFaultKinds},
        {m + "fault 2 vanish 10", "line 3: " + kFaultKinds},
        {m + "mode flash", "line 3: mode takes normal or update"},
        {m + "numbered-feature 01", "line 3: numbered-feature takes yes or no"},
        {m + "numbered-feature yes\n", kNumbered},
        {m + "numbered-feature yes\nmonitor B\n", kNumbered},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
        std::string error;
        EXPECT_FALSE(sim::ParseState(c.text + "\n", monitors, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(monitors.size(), 2u);
    }
}

// One exchange with the first monitor: the status byte of its answer.
uint8_t Send(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> report(264, 0);
    std::copy(head.begin(), head.end(), report.begin());
    sim::SimBus& bus = sim::SimBus::instance();
    EXPECT_EQ(bus.writeReport(bus.monitorInterface(0), report.data(), 264), 0u);
    uint8_t answer[9] = {};
    EXPECT_EQ(bus.readReport(bus.monitorInterface(0), answer), 0u);
    return answer[1];
}

// A monitor left in update mode by one run is still in it on the next, as the hardware is,
// without the records staged before; a reset leaves it, and so does dropping off the bus.
TEST(SimState, UpdateModeOutlivesTheRunUntilAResetLeavesIt) {
    const sim::EntryFunction runs[] = {
        [](int, char**) {
            EXPECT_EQ(Send({0, 4, 0, 1, 0}), sim::kStatusQueryOk);
            EXPECT_EQ(Send({0, 6, 0, 2, 0, 1, 0x10, 0, 0x10, 0x28}), sim::kStatusWriteOk);
            return 1;  // as a run whose update failed before the commit
        },
        [](int, char**) {
            EXPECT_TRUE(sim::SimBus::instance().monitors[0].updateMode);
            EXPECT_TRUE(sim::SimBus::instance().monitors[0].stagedRecords.empty());
            EXPECT_EQ(Send({0, 4, 0, 0, 0x40}), sim::kStatusQueryOk);
            return 0;
        },
        [](int, char**) {
            EXPECT_EQ(Send({0, 4, 0, 1, 0}), sim::kStatusQueryOk);
            sim::SimBus& bus = sim::SimBus::instance();
            bus.monitors[0].faults = {{2, sim::FaultKind::Disconnect, 0}};
            const std::vector<uint8_t> record(264, 1);
            EXPECT_EQ(bus.writeReport(bus.monitorInterface(0), record.data(), 264),
                      kErrorDeviceNotConnected);
            return 1;
        },
    };
    const int statuses[] = {1, 0, 1};
    const char* modesAfter[] = {"UN", "NN", "NN"};
    TempDir dir;
    char name[] = "marvanecfgutil-sim";
    char* argv[] = {name, nullptr};
    for (size_t i = 0; i < std::size(runs); ++i) {
        EXPECT_EQ(sim::RunSimSession(dir.path(), 1, argv, runs[i]), statuses[i]) << i;
        std::vector<sim::SimMonitor> monitors;
        std::string error, modes;
        EXPECT_TRUE(sim::ParseState(ReadFileBytes(dir.file(sim::kStateFileName)), monitors, error));
        for (const sim::SimMonitor& monitor : monitors) {
            modes += monitor.updateMode ? "U" : "N";
            EXPECT_EQ(monitor.config, sim::DefaultMonitorConfig()) << i;
        }
        EXPECT_EQ(modes, modesAfter[i]) << i;
    }
    sim::SimBus::instance().reset();
}

}  // namespace
