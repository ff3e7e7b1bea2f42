// The option parser and the choice of run mode; the usage and the help byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Help.h"
#include "app/Options.h"
#include "log/Log.h"
#include "tests/support/Argv.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

const std::string kHelp[] = {
#include "tests/data/app/help.inc"
};
const std::string kUsage = kHelp[0];
const std::string kFullHelp = kHelp[0] + kHelp[1] + kHelp[2];

struct Parsed {
    bool run = false;
    int status = -1;
    CommandLine line;
    std::string out, err;
};

class OptionsTest : public ::testing::Test {
protected:
    void TearDown() override { FreshRun(); }
    static void FreshRun() {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
        cmdline::getoptReset();
    }
    static Parsed Parse(std::vector<std::string> args) {
        FreshRun();
        Argv argv(std::move(args));
        Parsed parsed;
        CaptureOutput capture;
        parsed.run = ParseCommandLine(argv.argc(), argv.argv(), parsed.line, parsed.status);
        parsed.out = capture.out();
        parsed.err = capture.err();
        return parsed;
    }
};

TEST_F(OptionsTest, EachCommandLineRunsOneModeSilentlyOrPrintsHelpAndEndsWithOne) {
    // The buffers of the command line hold 259 characters and a terminator: written out, so
    // that a limit moved by one in either direction fails here.
    const std::string longest(259, 'a');
    const std::string tooLong(260, 'a');
    const std::string illegal = "opalquix: illegal option -- ";
    const struct {
        std::vector<std::string> args;
        std::string out;  // printed on standard output; nothing when a mode runs
        RunMode mode = RunMode::None;
        std::string ini = "", serial = "";
        int verbose = 0;
        bool ifNeeded = false, json = false;
    } cases[] = {
        {{"-"}, kUsage},
        {{"-v"}, kUsage},
        {{"-i", "a.ini", "-L"}, kUsage},
        {{"-Lo", "x.ini"}, kUsage},
        {{"-L", "-s", "-v"}, kUsage},
        {{"-L", "-l", "-v"}, kUsage},
        {{"-i", tooLong}, kUsage},
        {{"-o" + tooLong}, kUsage},
        {{"-L", "-s", tooLong}, kUsage},
        {{"-g", tooLong}, kUsage},
        {{"-l", tooLong, "-L"}, kUsage},
        {{"-o", ""}, kUsage},  // an empty file name names no file
        {{"-g", ""}, kUsage},
        {{"-i", ""}, kUsage},
        {{"-v", "-i", ""}, kUsage},
        {{"-L", "-o", ""}, kUsage},
        {{"-o", "a.ini", "-o", ""}, kUsage},
        {{"-L", "-?"}, kFullHelp},
        {{"-x", "-v"}, kFullHelp},  // -v comes too late to echo the message
        {{"-:"}, kFullHelp},
        {{"-vx"}, illegal + "x\n\n" + kFullHelp},
        {{"-v", "-:"}, illegal + ":\n\n" + kFullHelp},
        {{"-v", "-i"}, "opalquix: option requires an argument -- i\n\n" + kFullHelp},
        {{"-vL"}, "", RunMode::ListDevices, "", "", 1},
        {{"-L", "-L"}, "", RunMode::ListDevices},
        {{"-L", "extra", "-o", "x.ini"}, "", RunMode::ListDevices},
        {{"-L", "--", "-o", "x.ini"}, "", RunMode::ListDevices},
        {{"-s", longest, "-L"}, "", RunMode::ListDevices, "", longest},
        {{"-o" + longest}, "", RunMode::WriteCurrentIni, longest},
        {{"-g", longest}, "", RunMode::WriteDefaultIni, longest},
        {{"-i", longest, "-s", longest}, "", RunMode::UpdateFromIni, longest, longest},
        {{"-l", longest, "-L"}, "", RunMode::ListDevices},
        {{"-o", "a.ini", "-o", "b.ini"}, "", RunMode::WriteCurrentIni, "b.ini"},
        {{"-g", "d.ini", "-s", "X"}, "", RunMode::WriteDefaultIni, "d.ini", "X"},
        {{"-i", "cfg.ini", "-s41-FFFFF"}, "", RunMode::UpdateFromIni, "cfg.ini", "41-FFFFF"},
        {{"-s", "", "-vi", "cfg.ini"}, "", RunMode::UpdateFromIni, "cfg.ini", "", 1},
        // Long options: whole words only, each with the modes it goes with.
        {{"--check="}, kUsage},
        {{"--check", "-v"}, kUsage},
        {{"--json", "-o", "x.ini"}, kUsage},
        {{"--if-needed", "-L"}, kUsage},
        {{"--if-needed", "--check", "a.ini"}, kUsage},
        {{"-i", "a.ini", "--check", "b.ini"}, kUsage},
        {{"-v", "--check"}, "opalquix: option '--check' requires an argument\n\n" + kFullHelp},
        {{"-v", "--chec", "a.ini"}, "opalquix: unrecognized option '--chec'\n\n" + kFullHelp},
        {{"-v", "--json=1", "-L"},
         "opalquix: option '--json' doesn't allow an argument\n\n" + kFullHelp},
        {{"--check", "a.ini", "-s", "X"}, "", RunMode::CheckAgainstIni, "a.ini", "X"},
        {{"--json", "--check=a=b.ini"},
         "",
         RunMode::CheckAgainstIni,
         "a=b.ini",
         "",
         0,
         false,
         true},
        {{"-L", "--json", "--", "--help"}, "", RunMode::ListDevices, "", "", 0, false, true},
        {{"--if-needed", "-i", "a.ini"}, "", RunMode::UpdateFromIni, "a.ini", "", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Parsed parsed = Parse(c.args);
        const bool runs = c.mode != RunMode::None;
        EXPECT_EQ(parsed.run, runs);
        EXPECT_EQ(parsed.status, runs ? 0 : 1);
        EXPECT_EQ(parsed.out, c.out);
        EXPECT_EQ(parsed.err, "");
        if (runs) {
            EXPECT_EQ(parsed.line.mode, c.mode);
            EXPECT_EQ(parsed.line.iniFileName, c.ini);
            EXPECT_EQ(parsed.line.serial, c.serial);
            EXPECT_EQ(VerboseFlag(), c.verbose);
            EXPECT_EQ(parsed.line.ifNeeded, c.ifNeeded);
            EXPECT_EQ(parsed.line.json, c.json);
        }
    }
    // Asked for, the help with the long options is no refusal.
    const Parsed help = Parse({"-L", "--help", "-x"});
    EXPECT_FALSE(help.run);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(kFullHelp + "\n\nLONG OPTIONS", 0), 0u);
}

TEST_F(OptionsTest, ParserMessagesAreLoggedOnlyAfterTheLogOption) {
    TempDir dir;
    Parse({"-l", dir.file("run.log"), "-x"});
    CloseLogHandler();
    EXPECT_NE(
        ReadFileBytes(dir.file("run.log")).find("\tError\topalquix: illegal option -- x\n\r\n"),
        std::string::npos);
    Parse({"-x", "-l", dir.file("later.log")});
    CloseLogHandler();
    EXPECT_FALSE(FileExists(dir.file("later.log")));
}

}  // namespace
