// The command line of the real programs: help, refusals, exit statuses, -g.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/Help.h"
#include "tests/e2e/e2e_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string InProcessHelp() {
    CaptureOutput capture;
    PrintUsage();
    PrintExamples();
    PrintSettingsDefinition();
    return capture.out();
}

// What lock_holder says on its last line: how long the program it started ran.
long long HeldProgramMilliseconds(const std::string& err) {
    const std::string marker = "lock_holder: program ended after ";
    const size_t at = err.rfind(marker);
    return at == std::string::npos ? -1 : std::atoll(err.c_str() + at + marker.size());
}

#ifdef _WIN32
const std::string kLockHolder = "lock_holder.exe";
#else
const std::string kLockHolder = "lock_holder";
#endif

std::string InProcessUsage() {
    CaptureOutput capture;
    PrintUsage();
    return capture.out();
}

TEST_F(EndToEnd, QuestionMarkPrintsTheWholeHelpOnStandardOutputAndEndsWith1) {
    const ProcessResult result = Sim({"-?"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, InProcessHelp());
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Lines(result.out).front(),
              "marvanecfgutil Version 1.0.6 - Marvane Configuration utility");
    const std::string lastLine = "\n        01 - Enabled (default)\n";
    ASSERT_GT(result.out.size(), lastLine.size());
    EXPECT_EQ(result.out.substr(result.out.size() - lastLine.size()), lastLine);
}

TEST_F(EndToEnd, CommandLineErrorsPrintUsageOrHelpWithTheirStatus) {
    const std::string usage = InProcessUsage();
    const std::string help = InProcessHelp();
    const std::string longName(260, 'a');
    const struct {
        std::vector<std::string> arguments;
        const std::string& out;
        int status;
    } cases[] = {
        {{}, usage, 1},
        {{"-x"}, help, 1},
        {{"-i"}, help, 1},
        {{"-L", "-o", "x.ini"}, usage, 1},
        {{"-s", "41-FFFFF"}, usage, 1},
        {{"-o", "-v"}, usage, 1},  // no file written: not a success
        {{"-i", "-v"}, usage, 1},
        {{"--", "-L"}, usage, 1},
        {{"extra", "-L"}, usage, 1},
        {{"-g", longName}, usage, 1},
        {{"-l", longName, "-L"}, usage, 1},
        {{"-o", ""}, usage, 1},  // not even the configuration query may be sent
        {{"-g", ""}, usage, 1},
        {{"-i", ""}, usage, 1},
    };
    for (const auto& c : cases) {
        const ProcessResult result = Sim(c.arguments);
        std::string words;
        for (const auto& a : c.arguments) {
            words += a.substr(0, 10) + " ";
        }
        EXPECT_EQ(result.exitStatus, c.status) << words;
        EXPECT_EQ(result.out, c.out) << words;
        EXPECT_EQ(result.err, "") << words;
        EXPECT_FALSE(FileExists(StateFile()) && Transcript().find(" OUT ") != std::string::npos)
            << "a refused command line must not reach any monitor: " << words;
    }
}

TEST_F(EndToEnd, ArgumentsOf259CharactersRun) {
    // 259 characters and a terminator fill the command line's buffers exactly.
    const std::string serial(259, 'S');
    const ProcessResult list = Sim({"-L", "-s", serial});
    EXPECT_EQ(list.exitStatus, 0);
    EXPECT_EQ(list.out.rfind("Device: ", 0), 0u) << list.out;

    std::string ini = dir.file("");
    ASSERT_LT(ini.size(), 259u - 4);
    ini += std::string(259 - 4 - ini.size(), 'd') + ".ini";
    ASSERT_EQ(ini.size(), 259u);
    const ProcessResult defaults = Sim({"-g", ini});
    EXPECT_EQ(defaults.exitStatus, 0) << defaults.out;
    EXPECT_TRUE(FileExists(ini));
}

TEST_F(EndToEnd, IllegalOptionAfterVerboseEchoesTheMessageFirst) {
    const ProcessResult result = Sim({"-v", "-x"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "opalquix: illegal option -- x\n\n" + InProcessHelp());
}

TEST_F(EndToEnd, DefaultsFileHasTheTwentyTwoLines) {
    const std::string ini = dir.file("defaults.ini");
    const ProcessResult result = Sim({"-g", ini});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Generating default HW configuration to \"" + ini +
                              "\" file.\nCheck the generated \"" + ini + "\" file.\n");
    const std::vector<std::string> expected = {
        "[General]",     "Volume=20",   "Brightness=1d", "RmtPwrCtrl=01", "ExtBLEn=01",
        "[BeepOnTouch]", "BOTFreq=02",  "BOTDur=02",     "BOTVol=18",     "BOTEvent=01",
        "[POSTone]",     "Tone1Vol=18", "Tone2Vol=26",   "[OpPannel]",    "IconBright=1b",
        "[OSD]",         "OSDEn=01",    "OSDRPCEn=01",   "OSDEBLEn=00",   "OSDIBCEn=01",
        "OSDVCEn=01",    "OSDBCEn=01"};
    // The defaults object is gone before the closing line, its teardown echo with it.
    EXPECT_NE(Sim({"-v", "-g", ini}).out.find("*\n\nCheck the generated"), std::string::npos);
    std::vector<std::string> lines;
    for (const auto& line : Lines(ReadFileBytes(ini))) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    EXPECT_EQ(lines, expected);
}

TEST_F(EndToEnd, DefaultsIntoAMissingFolderFailWithTheDirectoryError) {
    const std::string missing = dir.file("missing");
    const std::string ini =
        missing + static_cast<char>(std::filesystem::path::preferred_separator) + "x.ini";
    const ProcessResult result = Sim({"-g", ini});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Generating default HW configuration to \"" + ini +
                              "\" file.\nError: Directory [" + missing +
                              static_cast<char>(std::filesystem::path::preferred_separator) +
                              "] does not exist.\n");
    EXPECT_FALSE(FileExists(missing));
}

TEST_F(EndToEnd, ARunWaitsWhileAnotherHoldsTheMonitorsThenGoesOn) {
    const ProcessResult plain = Sim({"-L"});
    ASSERT_EQ(plain.exitStatus, 0);
    // Another run holds the simulator's lock for 1.5 s while this one starts.
    const ProcessResult held = RunProcess(
        BuiltProgram(kLockHolder),
        {"file", "marvanecfgutil-sim.lock", "1500", BuiltProgram(kSimProgram), "-L"}, dir.path());
    EXPECT_EQ(held.exitStatus, 0) << held.err;
    EXPECT_EQ(held.out, plain.out);
    EXPECT_GE(HeldProgramMilliseconds(held.err), 1500) << held.err;
}

TEST_F(EndToEnd, DefaultsUsageErrorsAndOtherDirectoriesDoNotWaitForTheLock) {
    TempDir elsewhere;
    const std::string ini = dir.file("defaults.ini");
    const struct {
        std::string lockFile;
        std::vector<std::string> arguments;
        int status;
    } cases[] = {
        {"marvanecfgutil-sim.lock", {"-g", ini}, 0},
        {"marvanecfgutil-sim.lock", {"-o", ""}, 1},
        {"marvanecfgutil-sim.lock", {"-x"}, 1},
        {elsewhere.file("marvanecfgutil-sim.lock"), {"-L"}, 0},  // another state file's lock
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"file", c.lockFile, "8000",
                                              BuiltProgram(kSimProgram)};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProcessResult held = RunProcess(BuiltProgram(kLockHolder), arguments, dir.path());
        EXPECT_EQ(held.exitStatus, c.status) << c.arguments.front() << held.err;
        EXPECT_LT(HeldProgramMilliseconds(held.err), 8000) << c.arguments.front() << held.err;
    }
    EXPECT_TRUE(FileExists(ini));
}

#ifndef _WIN32
TEST_F(EndToEnd, TheSimulatorHonoursAnyFlockOnItsLockFile) {
    ASSERT_EQ(Sim({"-L"}).exitStatus, 0);
    // flock(1) holds the lock for 2 s; the simulator starts 0.5 s into it.
    const std::string script =
        "flock marvanecfgutil-sim.lock sleep 2 & sleep 0.5; start=$(date +%s%N); \"$0\" -L "
        ">/dev/null; status=$?; end=$(date +%s%N); wait; echo \"$status $(((end - start) / "
        "1000000))\"";
    const ProcessResult result =
        RunProcess("/bin/sh", {"-c", script, BuiltProgram(kSimProgram)}, dir.path());
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    long long status = -1;
    long long waited = -1;
    ASSERT_EQ(std::sscanf(result.out.c_str(), "%lld %lld", &status, &waited), 2) << result.out;
    EXPECT_EQ(status, 0);
    EXPECT_GE(waited, 1000);
}

TEST_F(EndToEnd, AWaitingRunSeesTheMonitorsAsTheRunBeforeItLeftThem) {
    ASSERT_EQ(Sim({"-L"}).exitStatus, 0);  // writes the default state file
    // While the lock is held, the simulator starts (reading the state file), and then the
    // holder changes the state, as a run that applied a file would.
    const std::string script =
        "\"$0\" -L & sleep 0.5; sed -i 's/^monitor 41-A0001/monitor 41-B0001/' "
        "marvanecfgutil-sim.state; wait $!";
    const ProcessResult held = RunProcess(BuiltProgram(kLockHolder),
                                          {"file", "marvanecfgutil-sim.lock", "1500", "/bin/sh",
                                           "-c", script, BuiltProgram(kSimProgram)},
                                          dir.path());
    EXPECT_EQ(held.exitStatus, 0) << held.err;
    EXPECT_EQ(held.out.rfind("Device: 0f66:302c  serial/id=41-B0001\n", 0), 0u) << held.out;
}

TEST_F(EndToEnd, FifoAsLogFileNeitherHangsNorChangesTheRun) {
    const ProcessResult plain = Sim({"-L"});
    ASSERT_EQ(plain.exitStatus, 0);
    const std::string fifo = dir.file("log.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Killed after 30 s if it hangs, so the run fails instead of the test hanging.
    const auto run = [&] {
        return RunProcess("/usr/bin/timeout",
                          {"-s", "KILL", "30", BuiltProgram(kSimProgram), "-l", fifo, "-L"},
                          dir.path());
    };
    ProcessResult result = run();  // nobody reads: the old open() waited for a reader
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, plain.out);
    EXPECT_EQ(result.err, "");

    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    result = run();  // a reader waits: the FIFO opens, but is no log file
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, plain.out);
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "a log line went into the FIFO";
    close(reader);
}

TEST_F(EndToEnd, WithoutRootTheRunIsRefusedBeforeAnythingElse) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    // A copy in the scratch folder: the build tree may sit where nobody else can enter.
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const std::string program = dir.file(kSimProgram);
    std::filesystem::copy_file(BuiltProgram(kSimProgram), program);
    const ProcessResult result =
        RunProcess("/usr/bin/setpriv",
                   {"--reuid=65534", "--regid=65534", "--clear-groups", program, "-L"}, dir.path());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "\nMust be run in command-line with Administrative rights.\n");
    EXPECT_EQ(Transcript().find(" OUT "), std::string::npos) << "no monitor may be reached";
}
#endif

}  // namespace
