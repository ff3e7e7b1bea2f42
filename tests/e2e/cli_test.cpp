// The command line of the real programs: help, refusals, exit statuses, -g, relative names,
// the run lock.
#include <filesystem>
#include <random>

#include "tests/e2e/e2e_support.h"
#include "tests/support/ProfileCases.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// Relative INI file names: taken from the current directory on POSIX, from the program's own
// directory on Windows.
TEST_F(EndToEnd, RelativeIniNamesFollowTheRuleOfTheBuild) {
    const std::string name = "marvane-" + std::to_string(std::random_device{}()) + ".ini";
    fs::path folder = dir.path(), elsewhere = fs::path(BuiltProgram(kSimProgram)).parent_path();
#ifdef _WIN32
    std::swap(folder, elsewhere);
#endif
    ProcessResult result = Sim({"-g", name});
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_TRUE(FileExists((folder / name).string()));
    EXPECT_FALSE(FileExists((elsewhere / name).string()));
    // The same name reaches the same file when applied; a missing one is reported with the
    // full path it was looked for at.
    result = Sim({"-i", name});
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(result.out.find("Error"), std::string::npos) << result.out;
    result = Sim({"-i", "none-" + name});
    EXPECT_NE(result.out.find("Error: File [" + (folder / ("none-" + name)).string() +
                              "] does not exist.\n"),
              std::string::npos)
        << result.out;
    fs::remove(folder / name);
}

TEST_F(EndToEnd, DefaultsFileAndIntoAMissingFolder) {
    const std::string ini = dir.file("defaults.ini");
    ProcessResult result = Sim({"-g", ini});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Generating default HW configuration to \"" + ini +
                              "\" file.\nCheck the generated \"" + ini + "\" file.\n");
    // Wine's writer drops blank lines that Windows keeps.
    EXPECT_EQ(profile_cases::WithoutBlankLines(ReadFileBytes(ini)), profile_cases::kDefaultFile);
    // The defaults object is gone before the closing line, its teardown echo with it.
    EXPECT_NE(Sim({"-v", "-g", ini}).out.find("*\n\nCheck the generated"), std::string::npos);

    const std::string missing =
        dir.file("missing") + static_cast<char>(fs::path::preferred_separator);
    result = Sim({"-g", missing + "x.ini"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Generating default HW configuration to \"" + missing +
                              "x.ini\" file.\nError: Directory [" + missing +
                              "] does not exist.\n");
    EXPECT_FALSE(FileExists(missing));
}

// Another run holds the simulator's lock: a run waits for it; a run beside another state file
// does not, nor does a refused command line, which prints the usage or the help, ends with 1
// and sends nothing.
TEST_F(EndToEnd, ARunWaitsWhileAnotherHoldsTheMonitorsUnlessItNeedsNone) {
    const ProcessResult plain = Sim({"-L"});
    ASSERT_EQ(plain.exitStatus, 0);
    const std::string help = ReadFileBytes(MARVANE_HELP_FILE);
    const std::string usage = help.substr(0, help.find("\nEXAMPLE COMMANDS:"));
    TempDir elsewhere;
    const std::string lock = "marvanecfgutil-sim.lock";
    const struct {
        std::string lockFile, holdMs;
        std::vector<std::string> arguments;
        int status;
        std::string out;
    } cases[] = {
        {lock, "1500", {"-L"}, 0, plain.out},
        {elsewhere.file(lock), "8000", {"-L"}, 0, plain.out},
        {lock, "8000", {}, 1, usage},
        {lock, "8000", {"-o", ""}, 1, ""},  // the status only: Windows' holder drops a ""
        {lock, "8000", {"-?"}, 1, help},
        {lock, "8000", {"-v", "-x"}, 1, "opalquix: illegal option -- x\n\n" + help},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lockFile + " " + ::testing::PrintToString(c.arguments));
        std::vector<std::string> arguments = {"file", c.lockFile, c.holdMs,
                                              BuiltProgram(kSimProgram)};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProcessResult held = RunProcess(BuiltProgram(kLockHolder), arguments, dir.path());
        EXPECT_EQ(held.exitStatus, c.status) << held.err;
        const long long ran = HeldProgramMilliseconds(held.err);
        EXPECT_TRUE(c.holdMs == "1500" ? ran >= 1500 : ran < 8000) << held.err;
        if (!c.out.empty()) {
            EXPECT_EQ(held.out, c.out);
        }
    }
    EXPECT_EQ(QueriesOnly(Transcript()), 3u * 2u);  // the listings'; a refused run sends none
}

#ifndef _WIN32
// The holder sets Volume=05 while the waiting run (its state already read) is to apply the
// factory file: it must apply it over the holder's change, though it saw the factory value.
TEST_F(EndToEnd, AWaitingRunAppliesItsFileOverTheChangesOfTheRunBeforeIt) {
    TempDir other;
    const std::string factory = dir.file("factory.ini");
    WriteFileBytes(factory, IniWith("", ""));
    WriteFileBytes(other.file("volume05.ini"), IniWith("Volume=20", "Volume=05"));
    ASSERT_EQ(
        RunProcess(BuiltProgram(kSimProgram), {"-i", other.file("volume05.ini")}, other.path())
            .exitStatus,
        0);
    ASSERT_EQ(Sim({"-L"}).exitStatus, 0);  // the factory state file

    // The shell holds the lock, starts the run without its descriptor, waits until the program
    // itself (past exec) has the lock file open, so has read the state, then puts in the
    // Volume=05 state and lets go.
    const std::string script =
        "exec 9>>marvanecfgutil-sim.lock && flock 9 || exit 9\n"
        "\"$0\" -i \"$1\" 9>&- & run=$!\n"
        "until readlink /proc/$run/exe | grep -q 'marvanecfgutil-sim$' &&\n"
        "      readlink /proc/$run/fd/* | grep -q 'marvanecfgutil-sim.lock$'; do\n"
        "  kill -0 $run 2>/dev/null || exit 8; sleep 0.05\n"
        "done\n"
        "cp \"$2\" marvanecfgutil-sim.state && exec 9>&- && wait $run\n";
    const ProcessResult waited = RunProcess(
        "/bin/sh",
        {"-c", script, BuiltProgram(kSimProgram), factory, other.file("marvanecfgutil-sim.state")},
        dir.path());
    EXPECT_EQ(waited.exitStatus, 0) << waited.out << waited.err;

    const std::string saved = dir.file("saved.ini");
    ASSERT_EQ(Sim({"-o", saved, "-s", "41-A0001"}).exitStatus, 0);
    EXPECT_EQ(Lines(ReadFileBytes(saved)), Lines(IniWith("", "")));
}

// The log's own tests cover a FIFO with a reader waiting; here the run itself goes on.
TEST_F(EndToEnd, FifoAsLogFileNeitherHangsNorChangesTheRun) {
    const ProcessResult plain = Sim({"-L"});
    ASSERT_EQ(plain.exitStatus, 0);
    const std::string fifo = dir.file("log.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Killed after 30 s if it hangs, so the run fails instead of the test hanging.
    const ProcessResult result =
        RunProcess("/usr/bin/timeout",
                   {"-s", "KILL", "30", BuiltProgram(kSimProgram), "-l", fifo, "-L"}, dir.path());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, plain.out);
    EXPECT_EQ(result.err, "");
}

TEST_F(EndToEnd, WithoutRootTheRunIsRefusedBeforeAnythingElse) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    // A copy in the scratch folder: the build tree may sit where nobody else can enter.
    fs::permissions(dir.path(), fs::perms::all);
    const std::string program = dir.file(kSimProgram);
    fs::copy_file(BuiltProgram(kSimProgram), program);
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
