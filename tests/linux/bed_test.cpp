// The Linux program on the emulated machine against the simulator on the same monitors: the
// same console bytes, exit statuses and files, and the same reports on the wire. Every case
// runs the real program, which waits in real time (an update is about 11 s a monitor), so
// the update runs are few and each case is its own CTest test.

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimState.h"
#include "tests/e2e/e2e_support.h"
#include "tests/linux/bed_Machine.h"
#include "tests/linux/bed_PrivateRun.h"

namespace {

constexpr char kOneMonitor[] = "monitor 41-A0001\n";
constexpr char kRunLock[] = "/run/marvanecfgutil.lock";

[[maybe_unused]] const auto* const kPrivateRun =
    ::testing::AddGlobalTestEnvironment(new bed::PrivateRun);

std::vector<std::string> TranscriptLines(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    std::erase_if(lines, [](const std::string& l) { return l.empty() || l[0] == '#'; });
    return lines;
}

// One command line run twice: by marvanecfgutil-sim on monitors given as state text, and by
// marvanecfgutil on the bed laid out for the same monitors. "{ini}" in the arguments is an
// INI file both runs use in turn (taken and removed after each run); `iniText`, when given,
// is written there before each run.
struct Comparison {
    ProcessResult sim, bed;
    std::string simIni, bedIni;
    std::vector<std::string> simTranscript, bedTranscript;
};

Comparison RunBoth(const std::string& state, std::vector<std::string> arguments,
                   const std::string& iniText = "", const bed::Extras& extras = {}) {
    Comparison c;
    TempDir shared, simDir, bedDir;
    const std::string ini = shared.file("settings.ini");
    std::replace(arguments.begin(), arguments.end(), std::string("{ini}"), ini);
    auto run = [&](const std::string& program, const std::string& dir, std::string& iniOut) {
        if (!iniText.empty()) {
            WriteFileBytes(ini, iniText);
        }
        const ProcessResult r = RunProcess(BuiltProgram(program), arguments, dir);
        iniOut = FileExists(ini) ? ReadFileBytes(ini) : "";
        std::remove(ini.c_str());
        return r;
    };
    WriteFileBytes(simDir.file(sim::kStateFileName), state);
    c.sim = run(kSimProgram, simDir.path(), c.simIni);
    c.simTranscript = TranscriptLines(ReadFileBytes(simDir.file(sim::kTranscriptFileName)));

    std::vector<sim::SimMonitor> monitors;
    std::string error;
    EXPECT_TRUE(sim::ParseState(state, monitors, error)) << error;
    bed::Machine machine(monitors, extras);
    EXPECT_TRUE(machine.ok()) << machine.error();
    c.bed = run("marvanecfgutil", bedDir.path(), c.bedIni);
    c.bedTranscript = machine.transcript();
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

const std::string kDefaultState = sim::FormatState(sim::DefaultMonitors());

// A settings file that changes a few values of the factory settings.
std::string ChangedSettings() {
    TempDir dir;
    const std::string ini = dir.file("defaults.ini");
    WriteFileBytes(dir.file(sim::kStateFileName), kOneMonitor);
    RunProcess(BuiltProgram(kSimProgram), {"-g", ini}, dir.path());
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

// Command lines on the default machine (or the given state and departures from the layout).
// A row with `status` >= 0 also pins the exit status, one with `shows` a text that the
// output or the INI file holds.
struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool changedSettings = false;  // written to {ini} first
    bool traffic = true;
    int status = -1;
    const char* shows = "";
    const char* state = nullptr;  // nullptr: the default monitors
    bed::Extras extras = {};
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class BedEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(BedEndToEnd, SameAsTheSimulator) {
    const Case& k = GetParam();
    const Comparison c = RunBoth(k.state != nullptr ? k.state : kDefaultState, k.arguments,
                                 k.changedSettings ? ChangedSettings() : "", k.extras);
    ExpectSame(c, k.traffic);
    if (k.status >= 0) {
        EXPECT_EQ(c.bed.exitStatus, k.status);
    }
    EXPECT_NE((c.bed.out + c.bedIni).find(k.shows), std::string::npos) << c.bed.out;
}

// The first monitor already holds the changed settings, so --if-needed leaves it alone.
const char kHoldsChangedSettings[] =
    "monitor 41-A0001\n  config 12 11\n  config 32 01\n"
    "  config 38 0a\nmonitor 41-A0002\n";
const char kOtherUsage[] = "monitor 41-A0001\n  usage a100\n";
// Numbered input and output reports, a feature report without id: the layout of state files
// of the earlier simulator, on one node with the second collection.
const char kNumberedReports[] =
    "monitor 41-A0001\n  report-id 05\n  other-output-values 2\n  second-collection yes\n";
const char kEarlierState[] = "monitor 41-A0001\n  report-id 01\n";
// A controller numbering every report: the program's feature fetch (id 0) is refused.
const char kNumbered[] = "monitor 41-A0001\n  report-id 01\n  numbered-feature yes\n";
// A node of two collections whose other one reports before every answer.
const char kTwo[] = "monitor 41-A0001\n  report-id 01\n  second-collection yes\nmonitor 41-A0002\n";
const bed::Extras kChatty = {false, false, false, true};
const bed::Extras kBluetooth = {false, false, true};

// A monitor whose only collection has another usage is not one of ours; one with other
// output values before its command value, another report id and a second collection still
// is. A uhid device without a USB device above it is passed over (a node whose descriptor
// cannot be parsed: BedWalks). A numbered controller is refused its feature report as on
// Windows; reports of another collection on the controller's node change nothing; a
// Bluetooth monitor behind a USB dongle is listed under its own serial, not the dongle's.
const Case kCases[] = {
    {"List", {"-L"}, false, true, 0, "serial/id=41-A0002"},
    {"Save", {"-o", "{ini}", "-s", "41-A0002"}, false, true, -1, "[General]"},
    {"SaveWithAnUnknownSerial", {"-o", "{ini}", "-s", "41-B9999"}},
    {"Defaults", {"-g", "{ini}"}},
    {"ApplyBySerial", {"-i", "{ini}", "-s", "41-A0002"}, true, true, 0},
    {"ApplyToEveryMonitor", {"-i", "{ini}"}, true},
    {"NoMonitorAttached", {"-L"}, false, false, -1, "", ""},
    {"OtherUsageIsNotOurs", {"-L"}, false, false, -1, "", kOtherUsage},
    {"NumberedReportsAndSecondCollection", {"-o", "{ini}"}, false, true, -1, "", kNumberedReports},
    {"DeviceWithoutUsbParent", {"-L"}, false, true, 0, "", nullptr, {true, false}},
    {"CheckFindsDrift", {"--check", "{ini}"}, true, true, 2, "differs: Volume monitor=20 file=11"},
    {"CheckAsJson",
     {"--json", "--check", "{ini}", "-s", "41-A0001"},
     true,
     true,
     2,
     "\"differences\":[{\"section\":\"General\",\"key\":\"Volume\""},
    {"ListAsJson", {"-L", "--json"}, false, true, 0, "\"serial\":\"41-A0002\""},
    {"ApplyOnlyWhereNeeded",
     {"--if-needed", "-i", "{ini}"},
     true,
     true,
     0,
     "Device '41-A0001' already matches, not updated.\n\nFirmware file found:",
     kHoldsChangedSettings},
    {"EarlierStateFile", {"-o", "{ini}"}, false, true, 0, "[General]", kEarlierState},
    {"EveryReportNumbered", {"-L"}, false, true, 1, "getFeature - err=00000057\n", kNumbered},
    {"OtherCollectionList", {"-L"}, false, true, 0, "serial/id=41-A0001", kTwo, kChatty},
    {"OtherCollectionSave", {"-o", "{ini}"}, false, true, 0, "[General]", kTwo, kChatty},
    {"OtherCollectionApply", {"-i", "{ini}", "-s", "41-A0001"}, true, true, 0, "", kTwo, kChatty},
    {"BluetoothMonitor", {"-L"}, false, true, 0, "serial/id=41-A0002", nullptr, kBluetooth},
};

INSTANTIATE_TEST_SUITE_P(Rows, BedEndToEnd, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The faults that matter on Linux, at each exchange where the program can meet them:
// during -i the reset into update mode is exchange 2, the records 3 to 8, the commit 9;
// during -o, --check and -i --if-needed the configuration query is exchange 2.
struct FaultCase {
    const char* name;
    const char* mode;  // "-i", "-o", "--check" or "--if-needed" (with -i)
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
    const std::string mode = f.mode;
    std::vector<std::string> arguments = {f.mode, "{ini}"};
    if (mode == "--if-needed") {
        arguments.insert(arguments.begin() + 1, "-i");
    }
    ExpectSame(RunBoth(state, arguments, mode != "-o" ? ChangedSettings() : ""));
}

const FaultCase kFaults[] = {
    {"ResetNoAnswer", "-i", 2, "no-answer"},
    {"ResetStatus40", "-i", 2, "status 40"},
    {"ResetVanishes", "-i", 2, "disconnect"},
    {"RecordNoAnswer", "-i", 5, "no-answer"},
    {"RecordStatus40", "-i", 5, "status 40"},
    {"RecordVanishes", "-i", 5, "disconnect"},
    {"CommitNoAnswer", "-i", 9, "no-answer"},
    {"CommitStatus40", "-i", 9, "status 40"},
    {"CommitVanishes", "-i", 9, "disconnect"},
    {"ConfigQueryNoAnswer", "-o", 2, "no-answer"},
    {"ConfigQueryStatus40", "-o", 2, "status 40"},
    {"ConfigQueryVanishes", "-o", 2, "disconnect"},
    {"CheckQueryNoAnswer", "--check", 2, "no-answer"},
    {"IfNeededQueryNoAnswer", "--if-needed", 2, "no-answer"},
};

INSTANTIATE_TEST_SUITE_P(Rows, BedFault, ::testing::ValuesIn(kFaults),
                         [](const auto& row) { return std::string(row.param.name); });

std::vector<std::string> WalkLines(const std::string& out) {
    std::vector<std::string> lines = Lines(out);
    std::erase_if(lines, [](const std::string& l) { return l.rfind("ZelHidDisplayList::", 0); });
    return lines;
}

// The walks find the touch interface and each monitor once (the keyboard and the second
// collection of the first monitor are passed over without a line), and pass over the root
// hub with the Windows line. Linux has no last error there: it says 0.
TEST(BedWalks, VerboseListFindsWhatTheSimulatorFinds) {
    const Comparison c = RunBoth(kDefaultState, {"-L", "-v"});
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

// A Bluetooth monitor paired with a USB dongle is no USB device: it has no release number
// (0000) and keeps its own serial, however the dongle is named.
TEST(BedWalks, ABluetoothMonitorHasNothingOfItsDongle) {
    const Comparison c = RunBoth(kDefaultState, {"-L", "-v"}, "", {false, false, true});
    EXPECT_EQ(c.bed.exitStatus, 0);
    EXPECT_NE(c.bed.out.find("\n0f66:302c 0000 41-A0002\n"), std::string::npos) << c.bed.out;
    EXPECT_NE(c.bed.out.find("\n0f66:302c 0100 41-A0001\n"), std::string::npos) << c.bed.out;
    EXPECT_EQ(c.bed.out.find("8891"), std::string::npos) << c.bed.out;
    EXPECT_EQ(c.bed.out.find("BT-DONGLE"), std::string::npos) << c.bed.out;
}

// Listing opens the monitors' nodes (once each, for the channel) and no other: opening a
// hidraw node powers its device up and starts polling it, so the walk decides from sysfs.
TEST(BedWalks, ListingOpensOnlyTheMonitors) {
    std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
    sim::SimMonitor numbered = monitors[1];
    numbered.serial = L"41-A0003";
    numbered.reportId = 0x01;
    numbered.secondCollection = true;  // on the controller's node, which numbers its reports
    monitors.push_back(numbered);
    bed::Machine machine(monitors, {true, false, true});  // uhid keyboard, the last on Bluetooth
    ASSERT_TRUE(machine.ok()) << machine.error();
    TempDir dir;
    const ProcessResult r = RunProcess(BuiltProgram("marvanecfgutil"), {"-L"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("serial/id=41-A0003"), std::string::npos) << r.out;
    size_t monitorNodes = 0;
    std::string others;
    for (const bed::Machine::NodeOpens& node : machine.opens()) {
        SCOPED_TRACE(node.devnode);
        if (node.monitor) {
            ++monitorNodes;
            EXPECT_EQ(node.opens, 1);
        } else {
            EXPECT_EQ(node.opens, 0);
            others += node.devnode + " ";
        }
    }
    // Keyboard, touch controller, the first monitor's second collection, the uhid keyboard.
    EXPECT_EQ(monitorNodes, 3u);
    EXPECT_EQ(others, "/dev/hidraw0 /dev/hidraw1 /dev/hidraw3 /dev/hidraw6 ");
}

// A node whose descriptor cannot be parsed is passed over with a line saying so, and the walk
// goes on: the touch controller is not found, both monitors are.
TEST(BedWalks, ANodeWithABrokenDescriptorIsPassedOverWithALine) {
    const Comparison c = RunBoth(kDefaultState, {"-L", "-v"}, "", {false, true});
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

// One lock for the machine: a run started anywhere waits while another holds it.
TEST(BedRunLock, ARunWaitsForTheMachinesLockHeldFromAnotherDirectory) {
    bed::Machine machine(sim::DefaultMonitors());
    ASSERT_TRUE(machine.ok()) << machine.error();
    TempDir holder, runner;
    const std::string script = "cd \"$1\" && exec \"$0\" -L";
    const ProcessResult held = RunProcess(BuiltProgram(kLockHolder),
                                          {"file", kRunLock, "1500", "/bin/sh", "-c", script,
                                           BuiltProgram("marvanecfgutil"), runner.path()},
                                          holder.path());
    EXPECT_EQ(held.exitStatus, 0) << held.err;
    EXPECT_EQ(held.out.rfind("Device: 0f66:302c  serial/id=41-A0001\n", 0), 0u) << held.out;
    EXPECT_GE(HeldProgramMilliseconds(held.err), 1500) << held.err;
}

// Another user can neither hold the lock a run made nor put anything at its name first.
TEST(BedRunLock, AnotherUserCanNeitherHoldNorPlantIt) {
    bed::Machine machine(sim::DefaultMonitors());
    ASSERT_TRUE(machine.ok()) << machine.error();
    TempDir dir;
    auto asNobody = [&](const std::string& script) {
        return RunProcess("/usr/bin/setpriv",
                          {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
                           script + " 2>/dev/null; exit 0", kRunLock},
                          "/");
    };
    ASSERT_EQ(RunProcess(BuiltProgram("marvanecfgutil"), {"-L"}, dir.path()).exitStatus, 0);
    EXPECT_EQ(asNobody("exec 9<\"$0\" && flock -n 9 && echo held").out, "");
    ASSERT_EQ(std::remove(kRunLock), 0);
    EXPECT_EQ(asNobody("ln -s /tmp \"$0\" && echo link; mkfifo \"$0\" && echo fifo; "
                       ": >\"$0\" && echo file")
                  .out,
              "");
    struct stat info {};
    EXPECT_NE(lstat(kRunLock, &info), 0);
}

}  // namespace
