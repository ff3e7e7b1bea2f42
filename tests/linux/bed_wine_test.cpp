// The Windows program under Wine's own HID stack on the bed, against marvanecfgutil-sim on
// the same monitors: console bytes (line ends aside), status, INI file and reports. For Wine
// 8 only: the prefix's hid.dll adds HidD_FlushQueue, each node has one collection, and the
// controllers carry no report ids. Each case starts its own prefix and wineserver inside its
// own machine, so that Wine's bus sees that machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/SimBus.h"
#include "sim/SimState.h"
#include "tests/e2e/e2e_support.h"
#include "tests/linux/bed_Machine.h"

namespace {

[[maybe_unused]] const auto* const kPrivateRun =
    ::testing::AddGlobalTestEnvironment(new bed::PrivateRun);

const std::string kWindowsBin = MARVANE_WINDOWS_BUILD_DIR "/bin/";
const std::string kExe = kWindowsBin + "marvanecfgutil.exe";
const std::string kProbe = kWindowsBin + "bed_winprobe.exe";
const std::string kTestHid = MARVANE_WINDOWS_BUILD_DIR "/winehid/hid.dll";

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

void StopServer() {
    RunProcess("/usr/bin/wineserver", {"-k"}, "/");
    RunProcess("/usr/bin/wineserver", {"-w"}, "/");
}

// A new prefix for programs started from here on, with the test's hid.dll (Wine's own
// beside it as hidwine.dll).
std::string MakePrefix(const std::string& dir) {
    for (const std::string& file : {kExe, kProbe, kTestHid, std::string("/usr/bin/wine")}) {
        if (!FileExists(file)) {
            return "no " + file + " (build the windows preset, install Wine)";
        }
    }
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"WINEPREFIX", dir},
                                      {"WINEDEBUG", "-all"},
                                      {"WINEDLLOVERRIDES", "mscoree,mshtml=;hid=n"},
                                      {"DISPLAY", ""},
                                      {"WAYLAND_DISPLAY", ""}}) {
        setenv(name, value.c_str(), 1);
    }
    // Wine 8 starts its udev bus only with the SDL bus off.
    const bool made = Wine({"cmd", "/c", "exit"}, dir).exitStatus == 0 &&
                      Wine({"reg", "add", "HKLM\\System\\CurrentControlSet\\Services\\winebus",
                            "/v", "Enable SDL", "/t", "REG_DWORD", "/d", "0", "/f"},
                           dir)
                              .exitStatus == 0;
    StopServer();
    namespace fs = std::filesystem;
    const fs::path system = fs::path(dir) / "drive_c/windows/system32";
    std::error_code error;
    fs::rename(system / "hid.dll", system / "hidwine.dll", error);
    if (!error) {
        fs::copy_file(kTestHid, system / "hid.dll", error);
    }
    return made && !error ? "" : "making the prefix failed " + error.message();
}

const char kTwoMonitors[] = "monitor 41-A0001\nmonitor 41-A0002\n";
const char kThreeFaulted[] =
    "monitor 41-A0001\nfault 5 no-answer\nmonitor 41-A0002\nfault 5 status 40\n"
    "monitor 41-A0003\nfault 5 disconnect\n";

struct Outcome {
    ProcessResult result;
    std::string ini;
    std::vector<std::string> transcript;
};

// "{ini}": the INI file, holding changed settings before -i. `run` returns the transcript.
template <typename RunOne>
std::vector<Outcome> RunSteps(const std::vector<std::vector<std::string>>& steps,
                              const std::string& ini, bool windowsPath, RunOne run) {
    std::vector<Outcome> outcomes;
    size_t seen = 0;
    for (std::vector<std::string> arguments : steps) {
        if (std::find(arguments.begin(), arguments.end(), "-i") != arguments.end()) {
            WriteFileBytes(ini, IniWith("Volume=20", "Volume=11"));
        }
        std::replace(arguments.begin(), arguments.end(), std::string("{ini}"),
                     windowsPath ? WindowsPath(ini) : ini);
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

class WineOnBed : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string failed = MakePrefix(prefix.path());
        if (failed.rfind("no ", 0) == 0) {
            GTEST_SKIP() << failed;
        }
        ASSERT_EQ(failed, "");
    }

    // The command lines under Wine (one session) and by the simulator; those without -v
    // are compared.
    std::vector<Outcome> Compare(const std::string& state,
                                 const std::vector<std::vector<std::string>>& steps) {
        std::vector<sim::SimMonitor> monitors;
        std::string error;
        EXPECT_TRUE(sim::ParseState(state, monitors, error)) << error;
        TempDir shared, wineDir, simDir;
        const std::string ini = shared.file("settings.ini");
        std::vector<Outcome> wine;
        {
            bed::Machine machine(monitors);
            EXPECT_TRUE(machine.ok()) << machine.error();
            // Wine's bus brings the nodes up in the background: wait until it lists them all.
            RunProcess("/usr/bin/wineserver", {"-p"}, "/");
            Wine({"cmd", "/c", "exit"}, wineDir.path());
            for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                 std::chrono::steady_clock::now() < end &&
                 Count(Wine({kProbe}, wineDir.path()).out, "\n") < monitors.size() + 2;
                 std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
            }
            wine = RunSteps(steps, ini, true,
                            [&](std::vector<std::string> arguments, ProcessResult& r) {
                                arguments.insert(arguments.begin(), kExe);
                                r = Wine(arguments, wineDir.path());
                                return machine.transcript();
                            });
            StopServer();
        }
        WriteFileBytes(simDir.file(sim::kStateFileName), state);
        const std::vector<Outcome> sim =
            RunSteps(steps, ini, false, [&](const auto& arguments, ProcessResult& r) {
                r = RunProcess(BuiltProgram(kSimProgram), arguments, simDir.path());
                std::vector<std::string> lines =
                    Lines(ReadFileBytes(simDir.file(sim::kTranscriptFileName)));
                std::erase_if(lines, [](const auto& l) { return l.empty() || l[0] == '#'; });
                return lines;
            });
        // Wine's console ends lines in "\r\n"; the program names the file as it was given.
        for (size_t k = 0; k < steps.size(); ++k) {
            for (std::string* text : {&wine[k].result.out, &wine[k].result.err}) {
                std::erase(*text, '\r');
                ReplaceAll(*text, WindowsPath(ini), ini);
            }
            if (std::find(steps[k].begin(), steps[k].end(), "-v") != steps[k].end()) {
                continue;
            }
            SCOPED_TRACE("step " + std::to_string(k) + ":\n" + wine[k].result.out +
                         wine[k].result.err);
            EXPECT_EQ(wine[k].result.out, sim[k].result.out);
            EXPECT_EQ(wine[k].result.err, sim[k].result.err);
            EXPECT_EQ(wine[k].result.exitStatus, sim[k].result.exitStatus);
            EXPECT_EQ(wine[k].ini, sim[k].ini);
            EXPECT_EQ(wine[k].transcript, sim[k].transcript);
        }
        return wine;
    }

    TempDir prefix;
};

TEST_F(WineOnBed, EveryModeGivesWhatTheSimulatorGives) {
    const std::vector<Outcome> wine = Compare(kTwoMonitors, {{"-L", "-v"},
                                                             {"-L"},
                                                             {"-s", "41-A0002", "-o", "{ini}"},
                                                             {"-i", "{ini}", "-s", "41-A0002"}});
    ASSERT_EQ(wine.size(), 4u);
    for (const auto& [step, shows] : std::vector<std::pair<size_t, std::string>>{
             {1, "serial/id=41-A0002"}, {2, "[General]"}, {3, "(SN='41-A0002')"}}) {
        EXPECT_EQ(wine[step].result.exitStatus, 0) << step;
        EXPECT_NE((wine[step].result.out + wine[step].ini).find(shows), std::string::npos)
            << step << ": " << shows;
    }
    EXPECT_EQ(Count(wine[3].result.out, "updated successfully"), 1u);

    // The walk finds touch and both monitors, not the keyboard; Wine's HID devices have no
    // parent, so the hub walk says nothing.
    const std::string& out = wine[0].result.out;
    const std::string found = "found supported flash chip - vid=";
    for (const auto& [text, count] : std::vector<std::pair<std::string, size_t>>{
             {found + "0x03eb, pid=0x212c, usage page=0xff00, usage=0x0001", 1},
             {found + "0x0f66, pid=0x302c, usage page=0xff45, usage=0xa000", 2},
             {found, 3},
             {"enumerateUsb", 0}}) {
        EXPECT_EQ(Count(out, text), count) << text << out;
    }
    EXPECT_EQ(wine[0].result.exitStatus, 0);
}

// Three monitors meeting at their third record no answer, a refusal and removal: each fails
// with its line, the others still run. (A stale report is no case: Wine's bus queues it only
// after the flush that should drop it.)
TEST_F(WineOnBed, FaultsDuringAnUpdateGiveWhatTheSimulatorGives) {
    const std::vector<Outcome> wine = Compare(kThreeFaulted, {{"-i", "{ini}"}});
    ASSERT_EQ(wine.size(), 1u);
    EXPECT_EQ(wine[0].result.exitStatus, 1);
    for (const char* serial : {"41-A0001", "41-A0002", "41-A0003"}) {
        EXPECT_EQ(Count(wine[0].result.out,
                        "Error: Updating device '" + std::string(serial) + "' failed."),
                  1u)
            << serial;
    }
}

}  // namespace
