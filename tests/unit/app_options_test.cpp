// The option parser and the choice of run mode; the usage and the help byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Options.h"
#include "log/Log.h"
#include "tests/support/Argv.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

const std::string kFullHelp = ReadFileBytes(MARVANE_HELP_FILE);
const std::string kUsage = kFullHelp.substr(0, kFullHelp.find("\nEXAMPLE COMMANDS:"));

struct Parsed {
    bool run = false;
    int status = -1;
    std::string out, err;
    std::string line;  // what a run was told: "<mode> <file> <serial>" and the flags set
};

void FreshRun() {
    CloseLogHandler();
    GetLogSettings() = CLogSettings{};
    VerboseFlag() = 0;
}

Parsed Parse(std::vector<std::string> args) {
    FreshRun();
    Argv argv(std::move(args));
    Parsed parsed;
    CommandLine line;
    CaptureOutput capture;
    parsed.run = ParseCommandLine(argv.argc(), argv.argv(), line, parsed.status);
    parsed.out = capture.out();
    parsed.err = capture.err();
    const char* modes[] = {"-", "?", "o", "g", "?", "i", "L", "check"};
    parsed.line = std::string(modes[static_cast<int>(line.mode)]) + " " + line.iniFileName + " " +
                  line.serial + (VerboseFlag() ? " v" : "") + (line.ifNeeded ? " if-needed" : "") +
                  (line.json ? " json" : "");
    return parsed;
}

struct OptionsTest : ::testing::Test {
    void TearDown() override { FreshRun(); }
};

TEST_F(OptionsTest, EachCommandLineRunsOneModeSilentlyOrPrintsHelpAndEndsWithOne) {
    // 259 characters fit the buffers, 260 do not.
    const std::string longest(259, 'a');
    const std::string tooLong(260, 'a');
    const std::string illegal = "opalquix: illegal option -- ";
    const struct {
        std::vector<std::string> args;
        std::string out;        // printed on standard output; nothing when a mode runs
        std::string line = "";  // the run, as Parsed::line; empty for a refusal
    } cases[] = {
        {{"-"}, kUsage},
        {{"-v"}, kUsage},
        {{"extra", "-L"}, kUsage},
        {{"-i", "a.ini", "-L"}, kUsage},
        {{"-Lo", "x.ini"}, kUsage},
        {{"-L", "-s", "-v"}, kUsage},
        {{"-L", "-l", "-v"}, kUsage},
        {{"-o", "-v"}, kUsage},  // no file written: not a success
        {{"-i", tooLong}, kUsage},
        {{"-L", "-s", tooLong}, kUsage},
        {{"-l", tooLong, "-L"}, kUsage},
        {{"-o", ""}, kUsage},  // an empty file name names no file
        {{"-L", "-o", ""}, kUsage},
        {{"-o", "a.ini", "-o", ""}, kUsage},
        {{"-L", "-?"}, kFullHelp},
        {{"-x", "-v"}, kFullHelp},  // -v comes too late to echo the message
        {{"-:"}, kFullHelp},
        {{"-vx"}, illegal + "x\n\n" + kFullHelp},
        {{"-v", "-i"}, "opalquix: option requires an argument -- i\n\n" + kFullHelp},
        {{"-vL"}, "", "L   v"},
        {{"-L", "extra", "-o", "x.ini"}, "", "L  "},
        {{"-L", "--", "-o", "x.ini"}, "", "L  "},
        {{"-s", longest, "-L"}, "", "L  " + longest},
        {{"-o" + longest}, "", "o " + longest + " "},
        {{"-i", longest, "-s", longest}, "", "i " + longest + " " + longest},
        {{"-l", longest, "-L"}, "", "L  "},
        {{"-o", "a.ini", "-o", "b.ini"}, "", "o b.ini "},
        {{"-i", "cfg.ini", "-s41-FFFFF"}, "", "i cfg.ini 41-FFFFF"},
        {{"-s", "", "-vi", "cfg.ini"}, "", "i cfg.ini  v"},
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
        {{"--check", "a.ini", "-s", "X"}, "", "check a.ini X"},
        {{"--json", "--check=a=b.ini"}, "", "check a=b.ini  json"},
        {{"-L", "--json", "--", "--help"}, "", "L   json"},
        {{"--if-needed", "-i", "a.ini"}, "", "i a.ini  if-needed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Parsed parsed = Parse(c.args);
        const bool runs = !c.line.empty();
        EXPECT_EQ(parsed.run, runs);
        EXPECT_EQ(parsed.status, runs ? 0 : 1);
        EXPECT_EQ(parsed.out, c.out);
        EXPECT_EQ(parsed.err, "");
        if (runs) {
            EXPECT_EQ(parsed.line, c.line);
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
