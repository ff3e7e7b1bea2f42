// The Linux program on the bed against the simulator on the same monitors: console bytes,
// statuses, files and reports, where the Linux backends take paths of their own. Real time
// (an update is ~11 s a monitor), so every case is a CTest test of its own.
#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "sim/SimState.h"
#include "tests/e2e/e2e_support.h"
#include "tests/linux/bed_Machine.h"

namespace {

constexpr char kRunLock[] = "/run/marvanecfgutil.lock";

[[maybe_unused]] const auto* const kPrivateRun =
    ::testing::AddGlobalTestEnvironment(new bed::PrivateRun);

const std::string kDefaultState = sim::FormatState(sim::DefaultMonitors());

// One command line by the simulator and on the bed; "{ini}" is an INI file both use in
// turn, holding changed settings before -i.
struct Comparison {
    ProcessResult sim, bed;
    std::string simIni, bedIni;
    std::vector<std::string> simTranscript, bedTranscript;
    std::string opened, others;  // the nodes of monitors' controllers and the rest
};

Comparison RunBoth(const std::string& state, std::vector<std::string> arguments,
                   const bed::Extras& extras = {}) {
    Comparison c;
    TempDir shared, simDir, bedDir;
    const std::string ini = shared.file("settings.ini");
    const bool apply = std::find(arguments.begin(), arguments.end(), "-i") != arguments.end();
    std::replace(arguments.begin(), arguments.end(), std::string("{ini}"), ini);
    auto run = [&](const std::string& program, const std::string& dir, std::string& iniOut) {
        if (apply) {
            WriteFileBytes(ini, IniWith("Volume=20", "Volume=11"));
        }
        const ProcessResult r = RunProcess(BuiltProgram(program), arguments, dir);
        iniOut = FileExists(ini) ? ReadFileBytes(ini) : "";
        std::remove(ini.c_str());
        return r;
    };
    WriteFileBytes(simDir.file(sim::kStateFileName), state);
    c.sim = run(kSimProgram, simDir.path(), c.simIni);
    c.simTranscript = Lines(ReadFileBytes(simDir.file(sim::kTranscriptFileName)));
    std::erase_if(c.simTranscript, [](const std::string& l) { return l.empty() || l[0] == '#'; });

    std::vector<sim::SimMonitor> monitors;
    std::string error;
    EXPECT_TRUE(sim::ParseState(state, monitors, error)) << error;
    bed::Machine machine(monitors, extras);
    EXPECT_TRUE(machine.ok()) << machine.error();
    c.bed = run("marvanecfgutil", bedDir.path(), c.bedIni);
    c.bedTranscript = machine.transcript();
    c.opened = machine.opens(true);
    c.others = machine.opens(false);
    return c;
}

// `traffic`: reports are exchanged, so that two empty transcripts do not pass for a match.
struct Case {
    const char* name;
    std::vector<std::string> arguments;
    const char* state = nullptr;  // nullptr: the default monitors
    bed::Extras extras = {};
    int status = 0;
    const char* shows = "";  // in the output or the INI file
    bool traffic = true;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class BedEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(BedEndToEnd, SameAsTheSimulator) {
    const Case& k = GetParam();
    const Comparison c =
        RunBoth(k.state != nullptr ? k.state : kDefaultState, k.arguments, k.extras);
    EXPECT_EQ(!c.simTranscript.empty(), k.traffic);
    EXPECT_EQ(c.bed.out, c.sim.out);
    EXPECT_EQ(c.bed.err, c.sim.err);
    EXPECT_EQ(c.bed.exitStatus, c.sim.exitStatus);
    EXPECT_EQ(c.bedIni, c.simIni);
    EXPECT_EQ(c.bedTranscript, c.simTranscript);
    EXPECT_EQ(c.bed.exitStatus, k.status);
    EXPECT_NE((c.bed.out + c.bedIni).find(k.shows), std::string::npos) << c.bed.out;
}

// During -i the reset into update mode is exchange 2 and the records 3 to 8; during -o the
// configuration query is exchange 2.
const char kFaultAt2[] = "monitor 41-A0001\nfault 2 disconnect\n";
// name, arguments, state, extras, status, shows, traffic.
const Case kCases[] = {
    {"List", {"-L"}, nullptr, {}, 0, "serial/id=41-A0002"},
    {"SaveBySerial", {"-o", "{ini}", "-s", "41-A0002"}, nullptr, {}, 0, "[General]"},
    {"ApplyBySerial", {"-i", "{ini}", "-s", "41-A0002"}, nullptr, {}, 0, "updated successfully"},
    {"NoMonitorAttached", {"-L"}, "", {}, 1, "", false},
    // A monitor whose only collection has another usage is not one of ours.
    {"OtherUsageIsNotOurs", {"-L"}, "monitor 41-A0001\n  usage a100\n", {}, 1, "", false},
    // Numbered input and output reports, output values of another usage first, a feature
    // report without id and a second collection on the same node.
    {"NumberedReportsAndSecondCollection",
     {"-o", "{ini}"},
     "monitor 41-A0001\n  report-id 05\n  other-output-values 2\n  second-collection yes\n",
     {},
     0,
     "[General]"},
    // A controller numbering every report: the program's feature fetch (id 0) is refused.
    {"EveryReportNumbered",
     {"-L"},
     "monitor 41-A0001\n  report-id 01\n  numbered-feature yes\n",
     {},
     1,
     "getFeature - err=00000057\n"},
    {"OtherCollectionReportsBeforeEveryAnswer",
     {"-i", "{ini}", "-s", "41-A0001"},
     "monitor 41-A0001\n  report-id 01\n  second-collection yes\nmonitor 41-A0002\n",
     {.chattySecondCollection = true}},
    {"ResetVanishes", {"-i", "{ini}"}, kFaultAt2, {}, 1},
    {"RecordNoAnswer", {"-i", "{ini}"}, "monitor 41-A0001\nfault 5 no-answer\n", {}, 1},
    {"RecordVanishes", {"-i", "{ini}"}, "monitor 41-A0001\nfault 5 disconnect\n", {}, 1},
    {"QueryNoAnswer", {"-o", "{ini}"}, "monitor 41-A0001\nfault 2 no-answer\n", {}, 1},
    {"QueryVanishes", {"-o", "{ini}"}, kFaultAt2, {}, 1},
};

INSTANTIATE_TEST_SUITE_P(Rows, BedEndToEnd, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

std::vector<std::string> WalkLines(const std::string& out) {
    std::vector<std::string> lines = Lines(out);
    std::erase_if(lines, [](const std::string& l) { return l.rfind("ZelHidDisplayList::", 0); });
    return lines;
}

// The walks' lines as the simulator's, except that Linux has no last error for the root
// hub: it says 0.
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

// Listing opens each monitor's node once and no other (opening powers a device up). Passed
// over: a uhid keyboard, a broken descriptor (with a line). A Bluetooth monitor behind a USB
// dongle has release 0000 and its own serial, nothing of the dongle.
TEST(BedWalks, ListingOpensOnlyTheMonitorsAndPassesOverTheRest) {
    std::vector<sim::SimMonitor> monitors = sim::DefaultMonitors();
    monitors.push_back(monitors[1]);
    monitors[2].serial = L"41-A0003";
    monitors[2].reportId = 0x01;
    monitors[2].secondCollection = true;  // on the controller's node, which numbers its reports
    const Comparison c =
        RunBoth(sim::FormatState(monitors), {"-L", "-v"},
                {.virtualKeyboard = true, .brokenTouchDescriptor = true, .bluetoothMonitor = true});
    EXPECT_EQ(c.bed.exitStatus, 0);
    EXPECT_EQ(c.bedTranscript, c.simTranscript);
    // Keyboard, touch controller, the first monitor's second collection, the uhid keyboard.
    EXPECT_EQ(c.opened, "/dev/hidraw2=1 /dev/hidraw4=1 /dev/hidraw5=1 ");
    EXPECT_EQ(c.others, "/dev/hidraw0=0 /dev/hidraw1=0 /dev/hidraw3=0 /dev/hidraw6=0 ");
    for (const char* line : {"\n0f66:302c 0000 41-A0003\n", "\n0f66:302c 0100 41-A0001\n",
                             "ZelHidDisplayList::enumerateHid - report descriptor of /dev/hidraw1 "
                             "not read, error=0x00000016 - continuing ..."}) {
        EXPECT_NE(c.bed.out.find(line), std::string::npos) << line << c.bed.out;
    }
    for (const char* absent : {"8891", "BT-DONGLE", "vid=0x03eb"}) {
        EXPECT_EQ(c.bed.out.find(absent), std::string::npos) << absent << c.bed.out;
    }
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
