// The simulator's state file and the session around a run: what is read, what is kept,
// what is refused, and what reaches the transcript.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "log/Log.h"
#include "sim/SimBus.h"
#include "sim/SimState.h"
#include "tests/support/CaptureStdout.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

void ExpectSameSettings(const sim::SimMonitor& a, const sim::SimMonitor& b) {
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.vid, b.vid);
    EXPECT_EQ(a.pid, b.pid);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.usagePage, b.usagePage);
    EXPECT_EQ(a.usage, b.usage);
    EXPECT_EQ(a.reportId, b.reportId);
    EXPECT_EQ(a.outputReportLength, b.outputReportLength);
    EXPECT_EQ(a.featureReportLength, b.featureReportLength);
    EXPECT_EQ(a.outputValueCapsMatch, b.outputValueCapsMatch);
    EXPECT_EQ(a.secondCollection, b.secondCollection);
    EXPECT_EQ(a.componentTable, b.componentTable);
    EXPECT_EQ(a.config, b.config);
    ASSERT_EQ(a.faults.size(), b.faults.size());
    for (size_t i = 0; i < a.faults.size(); ++i) {
        EXPECT_EQ(a.faults[i].exchange, b.faults[i].exchange);
        EXPECT_EQ(a.faults[i].kind, b.faults[i].kind);
        EXPECT_EQ(a.faults[i].status, b.faults[i].status);
    }
}

TEST(SimStateText, EverySettingSurvivesARoundTrip) {
    std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
    sim::SimMonitor odd;
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
    for (size_t i = 0; i < 16; ++i) {
        odd.componentTable[i] = static_cast<uint8_t>(0xF0 - i);
    }
    for (size_t i = 0; i < 64; ++i) {
        odd.config[i] = static_cast<uint8_t>(i * 7);
    }
    odd.faults = {{1, sim::FaultKind::NoAnswer, 0},
                  {2, sim::FaultKind::Status, 0x3F},
                  {4000000000u, sim::FaultKind::Disconnect, 0},
                  {3, sim::FaultKind::FeatureFails, 0}};
    monitors.push_back(odd);

    std::vector<sim::SimMonitor> parsed;
    std::string error;
    const std::string text = sim::FormatState(monitors);
    ASSERT_TRUE(sim::ParseState(text, parsed, error)) << error;
    ASSERT_EQ(parsed.size(), monitors.size());
    for (size_t i = 0; i < monitors.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectSameSettings(parsed[i], monitors[i]);
    }
    EXPECT_EQ(sim::FormatState(parsed), text);
}

// What a user writes by hand: comments, blank lines, CRLF, only the settings that differ.
TEST(SimStateText, HandWrittenFileTakesDefaultsForTheRest) {
    const std::string text =
        "# my bench\r\n"
        "\r\n"
        "monitor  BENCH-1  \r\n"
        "    config 12 28\r\n"
        "\tcomponents 01:0105 02:0002:80 03:0x0210 04:0107\r\n"
        "  fault 3 status 0x80\r\n"
        "monitor\n";
    std::vector<sim::SimMonitor> parsed;
    std::string error;
    ASSERT_TRUE(sim::ParseState(text, parsed, error)) << error;
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0].serial, L"BENCH-1");
    std::array<uint8_t, 64> config = sim::DefaultMonitorConfig();
    config[0x12] = 0x28;
    EXPECT_EQ(parsed[0].config, config);
    const std::array<uint8_t, 16> table = {1, 5, 1, 0, 2, 2, 0, 0x80, 3, 0x10, 2, 0, 4, 7, 1, 0};
    EXPECT_EQ(parsed[0].componentTable, table);
    ASSERT_EQ(parsed[0].faults.size(), 1u);
    EXPECT_EQ(parsed[0].faults[0].kind, sim::FaultKind::Status);
    EXPECT_EQ(parsed[0].faults[0].status, 0x80);
    EXPECT_EQ(parsed[0].reportId, 0x01);
    EXPECT_EQ(parsed[0].featureReportLength, 128);
    EXPECT_EQ(parsed[1].serial, L"");

    ASSERT_TRUE(sim::ParseState("# nothing attached\n", parsed, error));
    EXPECT_TRUE(parsed.empty());
}

TEST(SimStateText, BadLinesAreReportedAndChangeNothing) {
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"vid 0f66\n", "line 1: 'vid' before the first monitor line"},
        {"monitor A\nbrightness 10\n", "line 2: unknown setting 'brightness'"},
        {"monitor A\nvid 10000\n", "line 2: vid takes four hex digits"},
        {"monitor A\nvid\n", "line 2: vid takes four hex digits"},
        {"monitor A\nvid 0f66 0f67\n", "line 2: vid takes four hex digits"},
        {"monitor A\nreport-id 1g\n", "line 2: report-id takes two hex digits"},
        {"monitor A\noutput-report-length 0x108\n",
         "line 2: output-report-length takes a decimal number up to 65535"},
        {"monitor A\nfeature-report-length 65536\n",
         "line 2: feature-report-length takes a decimal number up to 65535"},
        {"monitor A\nfeature-report-length -1\n",
         "line 2: feature-report-length takes a decimal number up to 65535"},
        {"monitor A\noutput-value-caps yes\n", "line 2: output-value-caps takes match or other"},
        {"monitor A\nsecond-collection 1\n", "line 2: second-collection takes yes or no"},
        {"monitor A\ncomponents 01:0105 02:0002 03:0210\n",
         "line 2: components takes four entries number:level[:flags]"},
        {"monitor A\ncomponents 01:0105 02:0002 03:0210 04\n",
         "line 2: bad component entry '04' (number:level[:flags] in hex)"},
        {"monitor A\ncomponents 01:10105 02:0002 03:0210 04:0107\n",
         "line 2: bad component entry '01:10105' (number:level[:flags] in hex)"},
        {"monitor A\nconfig 3f 01 02\n",
         "line 2: config bytes reach past the 64 configuration bytes"},
        {"monitor A\nconfig 40 01\n", "line 2: config bytes reach past the 64 configuration bytes"},
        {"monitor A\nconfig ff\n", "line 2: config takes a hex offset and at least one hex byte"},
        {"monitor A\nconfig 00 01 100\n", "line 2: bad config byte '100'"},
        {"monitor A\nfault 0 no-answer\n",
         "line 2: fault takes an exchange number from 1 and a kind"},
        {"monitor A\nfault 99999999999 no-answer\n",
         "line 2: fault takes an exchange number from 1 and a kind"},
        {"monitor A\nfault 2 status\n",
         "line 2: fault kinds: no-answer, disconnect, feature-fails, status <hex byte>"},
        {"monitor A\nfault 2 status 100\n",
         "line 2: fault kinds: no-answer, disconnect, feature-fails, status <hex byte>"},
        {"monitor A\nfault 2 explode\n",
         "line 2: fault kinds: no-answer, disconnect, feature-fails, status <hex byte>"},
        {"monitor A\nfault 2 no-answer now\n",
         "line 2: fault kinds: no-answer, disconnect, feature-fails, status <hex byte>"},
        {std::string("monitor A\nvid 0f\0"
                     "66\n",
                     19),
         "line 2: vid takes four hex digits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
        std::string error;
        EXPECT_FALSE(sim::ParseState(c.text, monitors, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(monitors.size(), 2u);
    }

    std::string many;
    for (size_t i = 0; i <= sim::kMaxStateMonitors; ++i) {
        many += "monitor M" + std::to_string(i) + "\n";
    }
    std::vector<sim::SimMonitor> monitors;
    std::string error;
    EXPECT_FALSE(sim::ParseState(many, monitors, error));
    EXPECT_EQ(error, "line 65: more than 64 monitors");
}

// ---- Sessions ----------------------------------------------------------------------------

struct FakeRun {
    static inline int status = 0;
    static inline bool called = false;
    static inline size_t monitorsSeen = 0;
    static inline bool changeConfig = false;
    static inline bool exchange = false;

    static int Entry(int, char*[]) {
        called = true;
        monitorsSeen = Bus().monitors.size();
        if (changeConfig) {
            Bus().monitors[1].config[0x38] = 0x05;
        }
        if (exchange) {
            Bus().transcript.push_back("41-A0001 OUT 01");
            Bus().transcript.push_back("41-A0001 IN 01 01");
        }
        return status;
    }
    static void Reset() {
        status = 0;
        called = false;
        monitorsSeen = 0;
        changeConfig = false;
        exchange = false;
    }
};

class SimSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeRun::Reset();
        Bus().reset();
    }
    void TearDown() override { Bus().reset(); }

    int Run(std::vector<std::string> words, sim::EntryFunction entry = FakeRun::Entry) {
        words.insert(words.begin(), "marvanecfgutil-sim");
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        return sim::RunSimSession(dir.path(), static_cast<int>(words.size()), argv.data(), entry);
    }
    std::string State() const { return ReadFileBytes(dir.file(sim::kStateFileName)); }
    std::string Transcript() const { return ReadFileBytes(dir.file(sim::kTranscriptFileName)); }

    TempDir dir;
};

TEST_F(SimSessionTest, MissingStateIsCreatedWithTheDefaultMonitors) {
    FakeRun::status = 7;
    EXPECT_EQ(Run({"-L"}), 7);
    EXPECT_EQ(FakeRun::monitorsSeen, 2u);
    EXPECT_EQ(State(), sim::FormatState(sim::DefaultMonitors()));
    // Nothing was exchanged, so there is nothing to append.
    EXPECT_FALSE(FileExists(dir.file(sim::kTranscriptFileName)));
}

TEST_F(SimSessionTest, ChangedConfigurationIsSavedAndCommentsOtherwiseKept) {
    const std::string handWritten = "# two on the bench\nmonitor X\nmonitor Y\n";
    WriteFileBytes(dir.file(sim::kStateFileName), handWritten);
    EXPECT_EQ(Run({"-L"}), 0);
    EXPECT_EQ(State(), handWritten);

    FakeRun::changeConfig = true;
    EXPECT_EQ(Run({"-i", "a.ini"}), 0);
    std::vector<sim::SimMonitor> saved;
    std::string error;
    ASSERT_TRUE(sim::ParseState(State(), saved, error)) << error;
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].serial, L"X");
    EXPECT_EQ(saved[1].config[0x38], 0x05);
    EXPECT_EQ(saved[0].config, sim::DefaultMonitorConfig());
    EXPECT_FALSE(FileExists(dir.file(std::string(sim::kStateFileName) + ".new")));
}

TEST_F(SimSessionTest, BrokenStateStopsTheRunAndIsLeftAlone) {
    const std::string broken = "monitor X\nconfig 00 zz\n";
    WriteFileBytes(dir.file(sim::kStateFileName), broken);
    CaptureOutput capture;
    EXPECT_EQ(Run({"-L"}), 1);
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(capture.err(), "marvanecfgutil-sim: " + dir.file(sim::kStateFileName) +
                                 ": line 2: bad config byte 'zz'\n");
    EXPECT_FALSE(FakeRun::called);
    EXPECT_EQ(State(), broken);
}

// A run whose new state cannot be stored must not look like a success.
TEST_F(SimSessionTest, UnsavableStateFailsTheRun) {
    Run({"-L"});
    std::filesystem::create_directory(dir.file(std::string(sim::kStateFileName) + ".new"));
    FakeRun::changeConfig = true;
    CaptureOutput capture;
    EXPECT_EQ(Run({"-i", "a.ini"}), 1);
    EXPECT_NE(capture.err().find("the monitors' new state is lost"), std::string::npos);
    EXPECT_EQ(State(), sim::FormatState(sim::DefaultMonitors()));
}

TEST_F(SimSessionTest, TranscriptGrowsByOneBlockPerRun) {
    FakeRun::exchange = true;
    EXPECT_EQ(Run({"-L"}), 0);
    FakeRun::status = 1;
    EXPECT_EQ(Run({"-o", "cur.ini", "-s", "41-A0001"}), 1);
    EXPECT_EQ(Transcript(),
              "# marvanecfgutil-sim -L (exit status 0)\n"
              "41-A0001 OUT 01\n"
              "41-A0001 IN 01 01\n"
              "# marvanecfgutil-sim -o cur.ini -s 41-A0001 (exit status 1)\n"
              "41-A0001 OUT 01\n"
              "41-A0001 IN 01 01\n");
}

// The whole road in-process: an INI applied by the product lands in the state file.
TEST_F(SimSessionTest, ProductUpdateIsKeptAcrossRuns) {
    const std::string ini = dir.file("bench.ini");
    {
        CaptureOutput capture;
        EXPECT_EQ(Run({"-g", ini}, RunCfgUtil), 0);
    }
    std::string text = ReadFileBytes(ini);
    const size_t volume = text.find("Volume=20");
    ASSERT_NE(volume, std::string::npos);
    text.replace(volume, 9, "Volume=28");
    WriteFileBytes(ini, text);
    {
        CaptureOutput capture;
        EXPECT_EQ(Run({"-i", ini, "-s", "41-A0002"}, RunCfgUtil), 0);
        EXPECT_NE(capture.out().find("updated successfully"), std::string::npos);
    }
    CloseLogHandler();
    std::vector<sim::SimMonitor> saved;
    std::string error;
    ASSERT_TRUE(sim::ParseState(State(), saved, error)) << error;
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].config, sim::DefaultMonitorConfig());
    std::array<uint8_t, 64> want = sim::DefaultMonitorConfig();
    want[0x12] = 0x28;
    EXPECT_EQ(saved[1].config, want);
    // Each run's reports went to the transcript; the second block holds the update.
    const std::string transcript = Transcript();
    EXPECT_EQ(transcript.rfind("# marvanecfgutil-sim -g ", 0), 0u);
    const size_t update = transcript.find("# marvanecfgutil-sim -i ");
    ASSERT_NE(update, std::string::npos);
    EXPECT_NE(transcript.find("41-A0002 OUT 01 08 00 02 00 03 10 00 10 18 26 28 00", update),
              std::string::npos);
}

}  // namespace
