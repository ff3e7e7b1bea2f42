// The unchanged Windows program end to end on the emulated machine, through Wine's own HID
// stack: Wine's udev bus turns the emulated hidraw nodes into HID devices, and the real
// SetupAPI walk, hid.dll, Wine's HID class driver and overlapped I/O carry every report to
// the simulator's controller model behind the nodes. Each run is compared with
// marvanecfgutil-sim (and, where it is quick, the Linux program) on the same monitors: the
// same console bytes (line ends aside), exit status, INI file and reports on the wire.
//
// What this proves: the Windows program's walk, binding, channel and update sequence work
// against a real HID class stack reading and writing real (emulated) device nodes, with
// real waits and time-outs, and say what the other builds say.
// What it cannot prove: Wine's HID stack is not Windows' own. Three things here are test
// set-up only, never in the product: the prefix's hid.dll answers HidD_FlushQueue itself
// (Wine 8 lacks the flush) and forwards the rest to Wine's hid.dll; each emulated node has
// one application collection (Wine 8 joins a node's collections into one interface); and
// the controllers carry no report ids, the only kind the program can talk to.
//
// One Wine prefix is made once and copied for each case; each case starts its wineserver
// inside its own emulated machine, so that Wine's bus sees that machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/SimBus.h"
#include "sim/SimState.h"
#include "tests/e2e/e2e_support.h"
#include "tests/linux/bed_Machine.h"
#include "tests/linux/bed_PrivateRun.h"

namespace {

[[maybe_unused]] const auto* const kPrivateRun =
    ::testing::AddGlobalTestEnvironment(new bed::PrivateRun);

const std::string kWindowsBin = MARVANE_WINDOWS_BUILD_DIR "/bin/";
const std::string kExe = kWindowsBin + "marvanecfgutil.exe";
const std::string kProbe = kWindowsBin + "bed_winprobe.exe";
const std::string kTestHid = MARVANE_WINDOWS_BUILD_DIR "/winehid/hid.dll";
const std::string kTemplate = MARVANE_WINE_PREFIX_TEMPLATE;

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The path as a Windows program names it: Wine maps the Unix root to drive Z:.
std::string WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

ProcessResult Wine(const std::vector<std::string>& arguments, const std::string& dir) {
    return RunProcess("/usr/bin/wine", arguments, dir);
}

void Server(const char* option) {
    RunProcess("/usr/bin/wineserver", {option}, "/");
}

// What a case needs and may lack: the Windows build and Wine.
std::string Missing() {
    for (const std::string& file : {kExe, kProbe, kTestHid}) {
        if (!FileExists(file)) {
            return "no " + file + " (build the windows preset first)";
        }
    }
    return FileExists("/usr/bin/wine") && FileExists("/usr/bin/wineserver")
               ? ""
               : "Wine is not installed";
}

// Wine's settings for every program started from here on.
void UsePrefix(const std::string& dir) {
    for (const auto& [name, value] :
         {std::pair<const char*, std::string>{"WINEPREFIX", dir},
          {"WINEDEBUG", "-all"},
          // Wine's own hid.dll gives way to the test one in the prefix's system folder.
          {"WINEDLLOVERRIDES", "mscoree,mshtml=;hid=n"},
          {"DISPLAY", ""},
          {"WAYLAND_DISPLAY", ""}}) {
        setenv(name, value.c_str(), 1);
    }
}

// A new prefix in `dir`, its Wine stopped, with Wine's own hid.dll beside it as hidwine.dll
// for the test one to forward to.
bool MakePrefix(const std::string& dir) {
    UsePrefix(dir);
    // Wine 8 starts its udev bus only with the SDL bus off.
    const bool made = Wine({"cmd", "/c", "exit"}, dir).exitStatus == 0 &&
                      Wine({"reg", "add", "HKLM\\System\\CurrentControlSet\\Services\\winebus",
                            "/v", "Enable SDL", "/t", "REG_DWORD", "/d", "0", "/f"},
                           dir)
                              .exitStatus == 0;
    Server("-k");
    Server("-w");
    namespace fs = std::filesystem;
    const fs::path system = fs::path(dir) / "drive_c/windows/system32";
    std::error_code error;
    fs::copy_file(system / "hid.dll", system / "hidwine.dll", fs::copy_options::overwrite_existing,
                  error);
    return made && !error;
}

// Made once by the first CTest test of the Wine cases, then copied by each case (a copy
// takes a second; making one, many): the cases run at once, each with its own wineserver.
TEST(WinePrefix, MakeTheTemplateForTheCases) {
    const std::string missing = Missing();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    std::filesystem::remove_all(kTemplate);  // symbolic links are removed, not followed
    std::filesystem::create_directories(kTemplate);
    ASSERT_TRUE(MakePrefix(kTemplate));
}

// The monitors, each with one collection, whose reports carry no id (or the given one);
// a third one is a copy of the second. `faults` adds fault lines to monitor k (from 0).
std::string State(size_t monitors, uint8_t reportId,
                  const std::vector<std::pair<size_t, std::string>>& faults = {}) {
    std::vector<sim::SimMonitor> all = sim::DefaultMonitors();
    while (all.size() < monitors) {
        all.push_back(all.back());
        all.back().serial = L"41-A000" + std::to_wstring(all.size());
    }
    all.resize(monitors);
    for (sim::SimMonitor& m : all) {
        m.reportId = reportId;
        m.numberedFeature = reportId != 0;  // every report numbered, the feature report too
        m.secondCollection = false;
    }
    std::string text;
    for (size_t k = 0; k < all.size(); ++k) {
        const std::string block = sim::FormatState({all[k]});
        text += k == 0 ? block : block.substr(block.find("\nmonitor "));
        for (const auto& [monitor, line] : faults) {
            text += monitor == k ? line + "\n" : "";
        }
    }
    return text;
}

// A settings file that changes a few values of the factory settings.
const std::string kChangedSettings = [] {
    std::string text = IniWith("Volume=20", "Volume=11");
    text.replace(text.find("OSDEBLEn=00"), 11, "OSDEBLEn=01");
    return text;
}();

// One command line of a session. "{ini}" in the arguments is the INI file, written with the
// changed settings first when `changedSettings` is set, and taken and removed after the run.
struct Step {
    std::vector<std::string> arguments;
    bool changedSettings = false;
    bool compared = true;   // with the simulator's run of the same step
    bool linuxToo = false;  // and with the Linux program's (quick steps only)
};

// What one step gave: console, status, the INI file and the reports of this step alone.
struct Outcome {
    ProcessResult result;
    std::string ini;
    std::vector<std::string> transcript;
};

std::vector<std::string> TranscriptLines(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    std::erase_if(lines, [](const std::string& l) { return l.empty() || l[0] == '#'; });
    return lines;
}

// Runs the steps one after the other; `run` runs one command line and returns the whole
// transcript so far.
template <typename RunOne>
std::vector<Outcome> RunSteps(const std::vector<Step>& steps, const std::string& ini,
                              bool windowsPath, RunOne run) {
    std::vector<Outcome> outcomes;
    size_t seen = 0;
    for (const Step& step : steps) {
        std::vector<std::string> arguments = step.arguments;
        std::replace(arguments.begin(), arguments.end(), std::string("{ini}"),
                     windowsPath ? WindowsPath(ini) : ini);
        if (step.changedSettings) {
            WriteFileBytes(ini, kChangedSettings);
        }
        Outcome o;
        const std::vector<std::string> transcript = run(arguments, o.result);
        o.transcript.assign(transcript.begin() + static_cast<long>(seen), transcript.end());
        seen = transcript.size();
        o.ini = FileExists(ini) ? ReadFileBytes(ini) : "";
        std::remove(ini.c_str());
        outcomes.push_back(std::move(o));
    }
    return outcomes;
}

std::vector<sim::SimMonitor> Monitors(const std::string& state) {
    std::vector<sim::SimMonitor> monitors;
    std::string error;
    EXPECT_TRUE(sim::ParseState(state, monitors, error)) << error;
    return monitors;
}

class WineOnBed : public ::testing::Test {
protected:
    // One prefix for every case: its making (wineboot) is what costs the seconds.
    static void SetUpTestSuite() {
        missing = Missing();
        if (!missing.empty()) {
            return;
        }
        prefix = std::make_unique<TempDir>();
        const bool made =
            FileExists(kTemplate + "/system.reg")
                ? RunProcess("/bin/cp", {"-a", kTemplate + "/.", prefix->path()}, "/").exitStatus ==
                      0
                : MakePrefix(prefix->path());
        UsePrefix(prefix->path());
        namespace fs = std::filesystem;
        std::error_code error;
        fs::copy_file(kTestHid, fs::path(prefix->path()) / "drive_c/windows/system32/hid.dll",
                      fs::copy_options::overwrite_existing, error);
        if (!made || error) {
            problem = "making the Wine prefix failed";
        }
    }
    static void TearDownTestSuite() { prefix.reset(); }

    void SetUp() override {
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        ASSERT_TRUE(problem.empty()) << problem;
    }

    // The Windows program on the bed laid out for the monitors of `state`, all steps in one
    // Wine session. `probe` also keeps what bed_winprobe.exe lists.
    static std::vector<Outcome> RunWine(const std::string& state, const std::vector<Step>& steps,
                                        const std::string& ini, std::string* probe = nullptr) {
        TempDir dir;
        const std::vector<sim::SimMonitor> monitors = Monitors(state);
        bed::Machine machine(monitors);
        EXPECT_TRUE(machine.ok()) << machine.error();
        // A wineserver and Wine's device services started inside this machine; the bus
        // brings its devices up in the background, so wait until it lists every node (the
        // keyboard, the touch controller and the monitors) rather than for a fixed time.
        Server("-p");
        Wine({"cmd", "/c", "exit"}, dir.path());
        std::string listed;
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
             std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
            listed = Wine({kProbe}, dir.path()).out;
            if (std::count(listed.begin(), listed.end(), '\n') >=
                static_cast<std::ptrdiff_t>(monitors.size() + 2)) {
                break;
            }
        }
        if (probe != nullptr) {
            *probe = listed;
            std::erase(*probe, '\r');
        }
        std::vector<Outcome> outcomes =
            RunSteps(steps, ini, true, [&](std::vector<std::string> arguments, ProcessResult& r) {
                arguments.insert(arguments.begin(), kExe);
                r = Wine(arguments, dir.path());
                return machine.transcript();
            });
        Server("-k");
        Server("-w");
        // Wine's console ends lines in "\r\n"; the program names the file as it was given.
        for (Outcome& o : outcomes) {
            for (std::string* text : {&o.result.out, &o.result.err}) {
                std::erase(*text, '\r');
                std::string inJson = WindowsPath(ini);  // as --json writes it: \ escaped
                ReplaceAll(inJson, "\\", "\\\\");
                ReplaceAll(*text, inJson, ini);
                ReplaceAll(*text, WindowsPath(ini), ini);
            }
        }
        return outcomes;
    }

    // The same steps by marvanecfgutil-sim, or by the Linux program on the bed.
    static std::vector<Outcome> RunOther(const std::string& program, const std::string& state,
                                         const std::vector<Step>& steps, const std::string& ini) {
        TempDir dir;
        const std::string built = BuiltProgram(program);
        if (program == kSimProgram) {
            WriteFileBytes(dir.file(sim::kStateFileName), state);
            return RunSteps(steps, ini, false, [&](const auto& arguments, ProcessResult& r) {
                r = RunProcess(built, arguments, dir.path());
                return TranscriptLines(ReadFileBytes(dir.file(sim::kTranscriptFileName)));
            });
        }
        bed::Machine machine(Monitors(state));
        return RunSteps(steps, ini, false, [&](const auto& arguments, ProcessResult& r) {
            r = RunProcess(built, arguments, dir.path());
            return machine.transcript();
        });
    }

    // Runs the session three ways and compares every step that says so.
    static std::vector<Outcome> Compare(const std::string& state, const std::vector<Step>& steps,
                                        std::string* probe = nullptr) {
        TempDir shared;
        const std::string ini = shared.file("settings.ini");
        std::vector<Outcome> wine = RunWine(state, steps, ini, probe);
        const std::vector<Outcome> sim = RunOther(kSimProgram, state, steps, ini);
        std::vector<Step> quick;
        for (size_t k = 0; k < steps.size() && steps[k].linuxToo; ++k) {
            quick.push_back(steps[k]);
        }
        const std::vector<Outcome> native = RunOther("marvanecfgutil", state, quick, ini);
        for (size_t k = 0; k < steps.size(); ++k) {
            SCOPED_TRACE("step " + std::to_string(k) + ":\n" + wine[k].result.out +
                         wine[k].result.err);
            for (const auto& [other, who] :
                 {std::pair{&sim, "the simulator"}, std::pair{&native, "the Linux program"}}) {
                if (!steps[k].compared || k >= other->size()) {
                    continue;
                }
                SCOPED_TRACE(std::string("compared with ") + who);
                const Outcome& o = (*other)[k];
                EXPECT_EQ(wine[k].result.out, o.result.out);
                EXPECT_EQ(wine[k].result.err, o.result.err);
                EXPECT_EQ(wine[k].result.exitStatus, o.result.exitStatus);
                EXPECT_EQ(wine[k].ini, o.ini);
                EXPECT_EQ(wine[k].transcript, o.transcript);
            }
        }
        return wine;
    }

    static inline std::unique_ptr<TempDir> prefix;
    static inline std::string missing;  // nothing to run: the case is skipped, saying why
    static inline std::string problem;  // the prefix could not be made: the case fails
};

// Two monitors, a keyboard, the touch controller and a hub: a verbose listing (what Wine's
// walk finds, not compared), then every mode (--check as JSON of a changed file too), the update of
// one serial last. The Linux program runs the quick steps too (a full update takes its real time,
// about 11 s a monitor; the Linux bed tests compare the Linux program's updates with the
// simulator's).
TEST_F(WineOnBed, EveryModeGivesWhatTheSimulatorAndTheLinuxProgramGive) {
    std::string probe;
    const std::vector<Outcome> wine =
        Compare(State(2, 0),
                {{{"-L", "-v"}, false, false, true},
                 {{"-L"}, false, true, true},
                 {{"-s", "41-A0002", "-o", "{ini}"}, false, true, true},
                 {{"-g", "{ini}"}, false, true, true},
                 {{"--check", "{ini}", "--json"}, true, true, true},
                 {{"-i", "{ini}", "-s", "41-A0002"}, true}},
                &probe);
    ASSERT_EQ(wine.size(), 6u);
    for (const auto& [step, shows] :
         std::vector<std::pair<size_t, std::string>>{{1, "serial/id=41-A0002"},
                                                     {2, "[General]"},
                                                     {3, "Volume=20"},
                                                     {5, "(SN='41-A0002')"}}) {
        EXPECT_EQ(wine[step].result.exitStatus, 0) << step;
        EXPECT_NE((wine[step].result.out + wine[step].ini).find(shows), std::string::npos)
            << step << ": " << shows;
    }
    EXPECT_EQ(wine[4].result.exitStatus, 2);
    EXPECT_EQ(Count(wine[4].result.out, "\"matches\":false"), 2u);
    EXPECT_EQ(Count(wine[5].result.out, "updated successfully"), 1u);

    // The walk finds the touch interface and both monitors; the keyboard is passed over
    // without a line. Wine's HID devices have no parent the configuration manager can
    // return, so the hub walk has nothing to say.
    const std::string& out = wine[0].result.out;
    const std::string found = "found supported flash chip - vid=";
    for (const auto& [text, count] : std::vector<std::pair<std::string, size_t>>{
             {found + "0x03eb, pid=0x212c, usage page=0xff00, usage=0x0001", 1},
             {found + "0x0f66, pid=0x302c, usage page=0xff45, usage=0xa000", 2},
             {found, 3},
             {"vid=0x046d", 0},
             {"enumerateUsb", 0}}) {
        EXPECT_EQ(Count(out, text), count) << text << out;
    }
    EXPECT_EQ(wine[0].result.exitStatus, 0);
    // What Wine's HID stack makes of each node, read as the Windows walk reads it: ids,
    // version, usage, report lengths, output value caps (report id, usage, count), serial.
    // Wine 8 takes no bcdDevice as the version and gives devices without a serial "0000".
    for (const char* line : {
             "03eb:212c v0000 ff00:0001 in=9 out=0 feature=0 outvalues=0 serial=0000 parent=-\n",
             "046d:c31c v0000 0001:0006 in=9 out=2 feature=0 outvalues=0 serial=0000 parent=-\n",
             "0f66:302c v0000 ff45:a000 in=9 out=264 feature=128 outvalues=1 00:a001:263 "
             "serial=41-A0001 parent=-\n",
             "0f66:302c v0000 ff45:a000 in=9 out=264 feature=128 outvalues=1 00:a001:263 "
             "serial=41-A0002 parent=-\n",
         }) {
        EXPECT_EQ(Count(probe, line), 1u) << line << probe;
    }
}

// The update of every monitor, in a run of its own so that it overlaps the other cases.
TEST_F(WineOnBed, UpdatingEveryMonitorGivesWhatTheSimulatorGives) {
    const std::vector<Outcome> wine = Compare(State(2, 0), {{{"-i", "{ini}"}, true}});
    ASSERT_EQ(wine.size(), 1u);
    EXPECT_EQ(wine[0].result.exitStatus, 0);
    EXPECT_EQ(
        Count(wine[0].result.out, "Firmware in USB Device 302c component 3 updated successfully"),
        2u);
}

// One update of three monitors, each meeting a fault at its third record (exchange 5): no
// answer (the 7 s wait runs out), a refused record (status 0x40) and the monitor gone (its
// node then fails reads and writes as a removed device's does; no removal event reaches
// Wine's bus, so Wine's device object stays). Each fails with its line, the others still
// run, and only the reset that leaves update mode follows a failure. Not a row here: a
// stale report before a record. Wine's bus reads the nodes in turn, so the report reaches
// Wine's queue only after the flush that should drop it, where the simulator and Linux
// have it in the queue at the flush already. The Linux bed tests run these faults with the
// Linux program; here the simulator alone is the reference, to keep the run short.
TEST_F(WineOnBed, FaultsDuringAnUpdateGiveWhatTheOthersGive) {
    const std::vector<Outcome> wine = Compare(
        State(3, 0,
              {{0, "fault 5 no-answer"}, {1, "fault 5 status 40"}, {2, "fault 5 disconnect"}}),
        {{{"-i", "{ini}"}, true}});
    ASSERT_EQ(wine.size(), 1u);
    EXPECT_EQ(wine[0].result.exitStatus, 1);
    for (const char* serial : {"41-A0001", "41-A0002", "41-A0003"}) {
        EXPECT_EQ(Count(wine[0].result.out,
                        "Error: Updating device '" + std::string(serial) + "' failed."),
                  1u)
            << serial;
    }
}

// A controller whose reports carry ids: the program fetches feature reports with report id
// 0, which Windows (and Wine) refuse for a numbered collection before anything reaches the
// device; the walk finds the monitor, its initialisation fails and no monitor is left.
TEST_F(WineOnBed, NumberedControllerIsRefusedAtTheFeatureFetch) {
    TempDir dir;
    const Outcome wine = RunWine(State(1, 1), {{{"-L"}}}, dir.file("settings.ini")).at(0);
    const std::string transcript = ::testing::PrintToString(wine.transcript);
    SCOPED_TRACE(wine.result.out + wine.result.err + transcript);
    EXPECT_EQ(wine.result.out,
              "HidIo::getFeature - err=00000057\n"
              "Error: No single 7352 device is attached.\n");
    EXPECT_EQ(wine.result.exitStatus, 1);
    // The firmware query went out and was answered; the fetch itself never did.
    ASSERT_EQ(wine.transcript.size(), 2u);
    EXPECT_EQ(wine.transcript[0].rfind("41-A0001 OUT 01 06 00", 0), 0u);
    EXPECT_EQ(wine.transcript[1].rfind("41-A0001 IN 01 01", 0), 0u);
}

}  // namespace
