// The simulator's state file, as users write and edit it.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "sim/SimState.h"

namespace {

auto Settings(const sim::SimMonitor& m) {
    std::vector<std::tuple<uint32_t, sim::FaultKind, uint8_t, uint32_t>> faults;
    for (const sim::ScriptedFault& f : m.faults) {
        faults.emplace_back(f.exchange, f.kind, f.status, f.delayMs);
    }
    return std::tuple(m.serial, m.vid, m.pid, m.version, m.usagePage, m.usage, m.reportId,
                      m.numberedFeature, m.outputReportLength, m.featureReportLength,
                      m.outputValueCapsMatch, m.otherOutputValues, m.secondCollection, m.updateMode,
                      m.componentTable, m.config, faults);
}

// Every setting away from its default, and a serial with the bytes the fuzzer found troubling
// (carriage returns, a vertical tab, zeros, stray bytes), read back as saved.
TEST(SimState, EverySettingSurvivesARoundTrip) {
    using namespace std::string_literals;
    std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
    sim::SimMonitor& odd = monitors.emplace_back();
    odd.serial = L"a\rb \v\0\0a@\0\r\x1b 2"s;
    odd.vid = 0x1234;
    odd.pid = 0xABCD;
    odd.version = 0x0207;
    odd.usagePage = 0xFF00;
    odd.usage = 0x0001;
    odd.reportId = 0xFE;
    odd.numberedFeature = odd.secondCollection = odd.updateMode = true;
    odd.outputReportLength = 65;
    odd.featureReportLength = 0;
    odd.outputValueCapsMatch = false;
    odd.otherOutputValues = 3;
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
}

// A bad line names itself and changes nothing; so does a monitor whose lines contradict each
// other, on its monitor line.
TEST(SimState, BadLinesAreReportedAndChangeNothing) {
    const std::string kFaultKinds =
        "fault kinds: no-answer, disconnect, feature-fails, write-pending, vanish, flush-fails, "
        "status <hex byte>, stale <hex byte>, late <milliseconds>";
    const std::string m = "# x\nmonitor A\n";
    const struct {
        std::string text, error;
    } cases[] = {
        {"vid 0f66\n", "line 1: 'vid' before the first monitor line"},
        {m + "brightness 10", "line 3: unknown setting 'brightness'"},
        {m + std::string("vid 0f\0 66", 10), "line 3: vid takes four hex digits"},
        {m + "output-report-length -1",
         "line 3: output-report-length takes a decimal number up to 65535"},
        {m + "components 01:10105 02:0002 03:0210 04:0107",
         "line 3: bad component entry '01:10105' (number:level[:flags] in hex)"},
        {m + "config 3f 01 02", "line 3: config bytes reach past the 64 configuration bytes"},
        {m + "fault 99999999999 no-answer",
         "line 3: fault takes an exchange number from 1 and a kind"},
        {m + "fault 2 late 4294967296", "line 3: " + kFaultKinds},
        {m + "fault 2 vanish 10", "line 3: " + kFaultKinds},
        {m + "mode flash", "line 3: mode takes normal or update"},
        {m + "numbered-feature yes\nmonitor B\n",
         "line 2: the monitor's numbered-feature yes needs a report-id other than 00"},
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

}  // namespace
