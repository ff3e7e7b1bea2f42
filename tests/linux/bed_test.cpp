// The Linux program on the emulated machine against the simulator on the same monitors: the
// same console bytes, exit statuses and files, and the same reports on the wire. Every case
// runs the real program, which waits in real time (an update is about 11 s a monitor), so
// the update runs are few and each case is its own CTest test.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimState.h"
#include "tests/linux/bed_Machine.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

constexpr char kOneMonitor[] = "monitor 41-A0001\n";

std::vector<std::string> TranscriptLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] != '#') {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

// One command line run twice: by marvanecfgutil-sim on monitors given as state text, and by
// marvanecfgutil on the bed laid out for the same monitors. "{ini}" in the arguments is an
// INI file both runs use in turn (the simulator's file is taken and removed before the
// Linux program runs); `iniText`, when given, is written there before each run.
struct Comparison {
    ProcessResult sim;
    bed::RunResult bed;
    std::string simIni;
    std::string bedIni;
    std::vector<std::string> simTranscript;
    std::vector<std::string> bedTranscript;
};

Comparison RunBoth(const std::string& state, std::vector<std::string> arguments,
                   const std::string& iniText = "", const bed::Extras& extras = {}) {
    Comparison c;
    TempDir shared;
    const std::string ini = shared.file("settings.ini");
    for (std::string& argument : arguments) {
        if (argument == "{ini}") {
            argument = ini;
        }
    }

    TempDir simDir;
    WriteFileBytes(simDir.file(sim::kStateFileName), state);
    if (!iniText.empty()) {
        WriteFileBytes(ini, iniText);
    }
    c.sim = RunProcess(BuiltProgram("marvanecfgutil-sim"), arguments, simDir.path());
    c.simTranscript = TranscriptLines(ReadFileBytes(simDir.file(sim::kTranscriptFileName)));
    if (FileExists(ini)) {
        c.simIni = ReadFileBytes(ini);
        std::remove(ini.c_str());
    }

    std::vector<sim::SimMonitor> monitors;
    std::string error;
    EXPECT_TRUE(sim::ParseState(state, monitors, error)) << error;
    bed::Machine machine(monitors, extras);
    EXPECT_TRUE(machine.ok()) << machine.error();
    if (!iniText.empty()) {
        WriteFileBytes(ini, iniText);
    }
    TempDir bedDir;
    c.bed = machine.run(BuiltProgram("marvanecfgutil"), arguments, bedDir.path());
    c.bedTranscript = machine.transcript();
    if (FileExists(ini)) {
        c.bedIni = ReadFileBytes(ini);
    }
    return c;
}

// Everything the user and the monitor see is the same; `traffic` says the run exchanged
// reports at all, so that two empty transcripts do not pass for a comparison.
void ExpectSame(const Comparison& c, bool traffic = true) {
    EXPECT_EQ(!c.simTranscript.empty(), traffic);
    EXPECT_EQ(c.bed.out, c.sim.out);
    EXPECT_EQ(c.bed.err, c.sim.err);
    EXPECT_EQ(c.bed.exitStatus, c.sim.exitStatus);
    EXPECT_EQ(c.bedIni, c.simIni);
    EXPECT_EQ(c.bedTranscript, c.simTranscript);
}

std::string DefaultState() {
    return sim::FormatState(sim::DefaultMonitors());
}

// A settings file that changes a few values of the factory settings.
std::string ChangedSettings() {
    TempDir dir;
    const std::string ini = dir.file("defaults.ini");
    WriteFileBytes(dir.file(sim::kStateFileName), kOneMonitor);
    RunProcess(BuiltProgram("marvanecfgutil-sim"), {"-g", ini}, dir.path());
    std::string text = ReadFileBytes(ini);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"Volume=20", "Volume=11"},
                                   {"Brightness=1d", "Brightness=0a"},
                                   {"OSDEBLEn=00", "OSDEBLEn=01"}}) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) {
            text.replace(at, from.size(), to);
        }
    }
    return text;
}

TEST(BedEndToEnd, ListIsTheSimulatorsList) {
    const Comparison c = RunBoth(DefaultState(), {"-L"});
    EXPECT_EQ(c.bed.exitStatus, 0);
    EXPECT_NE(c.bed.out.find("serial/id=41-A0002"), std::string::npos) << c.bed.out;
    ExpectSame(c);
}

TEST(BedEndToEnd, SaveWritesTheSimulatorsFile) {
    const Comparison c = RunBoth(DefaultState(), {"-o", "{ini}", "-s", "41-A0002"});
    EXPECT_NE(c.bedIni.find("[General]"), std::string::npos);
    ExpectSame(c);
}

TEST(BedEndToEnd, SaveWithAnUnknownSerialSaysSo) {
    ExpectSame(RunBoth(DefaultState(), {"-o", "{ini}", "-s", "41-B9999"}));
}

TEST(BedEndToEnd, DefaultsAreTheSimulatorsDefaults) {
    ExpectSame(RunBoth(DefaultState(), {"-g", "{ini}"}));
}

TEST(BedEndToEnd, ApplyToOneMonitorBySerial) {
    const Comparison c =
        RunBoth(DefaultState(), {"-i", "{ini}", "-s", "41-A0002"}, ChangedSettings());
    EXPECT_EQ(c.bed.exitStatus, 0);
    ExpectSame(c);
}

TEST(BedEndToEnd, ApplyToEveryMonitor) {
    ExpectSame(RunBoth(DefaultState(), {"-i", "{ini}"}, ChangedSettings()));
}

TEST(BedEndToEnd, NoMonitorAttached) {
    ExpectSame(RunBoth("", {"-L"}), false);
}

// The faults that matter on Linux, at each exchange where the program can meet them:
// during -i the reset into update mode is exchange 2, the records 3 to 8, the commit 9;
// during -o the configuration query is exchange 2.
struct FaultCase {
    const char* name;
    const char* mode;  // "-i" or "-o"
    int exchange;
    const char* fault;
};

void PrintTo(const FaultCase& f, std::ostream* out) {
    *out << f.mode << " fault " << f.exchange << " " << f.fault;
}

class BedFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(BedFault, SameLinesAndStatusAsTheSimulator) {
    const FaultCase& f = GetParam();
    const std::string state =
        std::string(kOneMonitor) + "fault " + std::to_string(f.exchange) + " " + f.fault + "\n";
    const bool apply = std::string(f.mode) == "-i";
    const Comparison c = RunBoth(state, {f.mode, "{ini}"}, apply ? ChangedSettings() : "");
    ExpectSame(c);
}

const FaultCase kFaults[] = {
    {"ResetNoAnswer", "-i", 2, "no-answer"},       {"ResetStatus40", "-i", 2, "status 40"},
    {"ResetVanishes", "-i", 2, "disconnect"},      {"RecordNoAnswer", "-i", 5, "no-answer"},
    {"RecordStatus40", "-i", 5, "status 40"},      {"RecordVanishes", "-i", 5, "disconnect"},
    {"CommitNoAnswer", "-i", 9, "no-answer"},      {"CommitStatus40", "-i", 9, "status 40"},
    {"CommitVanishes", "-i", 9, "disconnect"},     {"ConfigQueryNoAnswer", "-o", 2, "no-answer"},
    {"ConfigQueryStatus40", "-o", 2, "status 40"}, {"ConfigQueryVanishes", "-o", 2, "disconnect"},
};

INSTANTIATE_TEST_SUITE_P(Rows, BedFault, ::testing::ValuesIn(kFaults),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace

namespace {

std::vector<std::string> WalkLines(const std::string& out) {
    std::vector<std::string> lines;
    for (const std::string& line : TranscriptLines(out)) {
        if (line.rfind("ZelHidDisplayList::", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The walks find the touch interface and each monitor once (the keyboard and the second
// collection of the first monitor are passed over without a line), and pass over the root
// hub with the Windows line. Linux has no last error there: it says 0.
TEST(BedWalks, VerboseListFindsWhatTheSimulatorFinds) {
    const Comparison c = RunBoth(DefaultState(), {"-L", "-v"});
    std::vector<std::string> expected = WalkLines(c.sim.out);
    for (std::string& line : expected) {
        const size_t at = line.find("error=0x0000007a");
        if (at != std::string::npos) {
            line.replace(at, 16, "error=0x00000000");
        }
    }
    ASSERT_EQ(expected.size(), 4u) << c.sim.out;
    EXPECT_EQ(WalkLines(c.bed.out), expected) << c.bed.out;
    EXPECT_EQ(c.bed.exitStatus, 0);
    EXPECT_EQ(c.bedTranscript, c.simTranscript);
}

// A monitor whose only collection has another usage is not one of ours; a monitor with
// other output values before its command value and another report id still is.
TEST(BedWalks, CollectionsAndReportIdsAsTheSimulatorSeesThem) {
    ExpectSame(RunBoth("monitor 41-A0001\n  usage a100\n", {"-L"}), false);
    ExpectSame(
        RunBoth("monitor 41-A0001\n  report-id 05\n  other-output-values 2\n"
                "  second-collection yes\n",
                {"-o", "{ini}"}));
}

}  // namespace

namespace {

// A node whose descriptor cannot be parsed is passed over with a line saying so, and the walk
// goes on: the touch controller is not found, both monitors are, and what the user sees
// without -v is what the simulator shows.
TEST(BedWalks, ANodeWithABrokenDescriptorIsPassedOver) {
    bed::Extras extras;
    extras.brokenTouchDescriptor = true;
    ExpectSame(RunBoth(DefaultState(), {"-L"}, "", extras));

    const Comparison c = RunBoth(DefaultState(), {"-L", "-v"}, "", extras);
    EXPECT_EQ(c.bed.exitStatus, 0);
    EXPECT_EQ(c.bed.out.find("vid=0x03eb"), std::string::npos) << c.bed.out;
    EXPECT_NE(c.bed.out.find("ZelHidDisplayList::enumerateHid - report descriptor of /dev/hidraw1 "
                             "not read, error=0x00000016 - continuing ..."),
              std::string::npos)
        << c.bed.out;
    const std::string found =
        "found supported flash chip - vid=0x0f66, pid=0x302c, usage page=0xff45, usage=0xa000";
    const size_t first = c.bed.out.find(found);
    ASSERT_NE(first, std::string::npos) << c.bed.out;
    EXPECT_NE(c.bed.out.find(found, first + 1), std::string::npos) << c.bed.out;
}

// A HID device made by uhid has no USB device above it: the walk passes it over like any
// other interface that is not ours.
TEST(BedWalks, ADeviceWithoutUsbParentIsNoTrouble) {
    bed::Extras extras;
    extras.virtualKeyboard = true;
    ExpectSame(RunBoth(DefaultState(), {"-L"}, "", extras));
}

}  // namespace
