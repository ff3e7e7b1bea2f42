#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "sim/SimBus.h"
#include "sim/SimState.h"

namespace {

auto Settings(const sim::SimMonitor& m) {
    return std::tie(m.serial, m.vid, m.pid, m.version, m.usagePage, m.usage, m.reportId,
                    m.outputReportLength, m.featureReportLength, m.outputValueCapsMatch,
                    m.secondCollection, m.componentTable, m.config);
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
    odd.outputReportLength = 65;
    odd.featureReportLength = 0;
    odd.outputValueCapsMatch = false;
    odd.secondCollection = true;
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
        {"fault 2 late -1", kFaultKinds},
        {"fault 2 vanish 10", kFaultKinds},
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

}  // namespace
