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

void FreshRun() {
    CloseLogHandler();
    GetLogSettings() = CLogSettings{};
    VerboseFlag() = 0;
}

// The status, for a run "runs <mode> <file> <serial>" and the flags set, then a line end and
// everything printed (standard output, then standard error).
std::string Parse(std::vector<std::string> args) {
    FreshRun();
    Argv argv(std::move(args));
    CommandLine line;
    int status = -1;
    CaptureOutput capture;
    const bool run = ParseCommandLine(argv.argc(), argv.argv(), line, status);
    const char* modes[] = {"-", "?", "o", "g", "?", "i", "L", "check"};
    return std::to_string(status) +
           (run ? " runs " + std::string(modes[static_cast<int>(line.mode)]) + " " +
                      line.iniFileName + " " + line.serial + (VerboseFlag() ? " v" : "") +
                      (line.ifNeeded ? " if-needed" : "") + (line.json ? " json" : "")
                : "") +
           "\n" + capture.out() + capture.err();
}

struct OptionsTest : ::testing::Test {
    void TearDown() override { FreshRun(); }
};

TEST_F(OptionsTest, EachCommandLineRunsOneModeSilentlyOrPrintsHelpAndEndsWithOne) {
    // 259 characters fit the buffers, 260 do not.
    const std::string longest(259, 'a');
    const std::string tooLong(260, 'a');
    const std::string usage = "1\n" + kUsage;
    const auto help = [](const std::string& message) { return "1\n" + message + kFullHelp; };
    const auto runs = [](const std::string& line) { return "0 runs " + line + "\n"; };
    const struct {
        std::vector<std::string> args;
        std::string result;
    } cases[] = {
        {{"-"}, usage},
        {{"-v"}, usage},
        {{"extra", "-L"}, usage},
        {{"-i", "a.ini", "-L"}, usage},
        {{"-Lo", "x.ini"}, usage},
        {{"-L", "-s", "-v"}, usage},
        {{"-L", "-l", "-v"}, usage},
        {{"-o", "-v"}, usage},  // no file written: not a success
        {{"-i", tooLong}, usage},
        {{"-L", "-s", tooLong}, usage},
        {{"-l", tooLong, "-L"}, usage},
        {{"-o", ""}, usage},  // an empty file name names no file
        {{"-L", "-o", ""}, usage},
        {{"-o", "a.ini", "-o", ""}, usage},
        {{"-L", "-?"}, help("")},
        {{"-x", "-v"}, help("")},  // -v comes too late to echo the message
        {{"-:"}, help("")},
        {{"-vx"}, help("opalquix: illegal option -- x\n\n")},
        {{"-v", "-i"}, help("opalquix: option requires an argument -- i\n\n")},
        {{"-vL"}, runs("L   v")},
        {{"-L", "extra", "-o", "x.ini"}, runs("L  ")},
        {{"-L", "--", "-o", "x.ini"}, runs("L  ")},
        {{"-s", longest, "-L"}, runs("L  " + longest)},
        {{"-o" + longest}, runs("o " + longest + " ")},
        {{"-i", longest, "-s", longest}, runs("i " + longest + " " + longest)},
        {{"-l", longest, "-L"}, runs("L  ")},
        {{"-o", "a.ini", "-o", "b.ini"}, runs("o b.ini ")},
        {{"-i", "cfg.ini", "-s41-FFFFF"}, runs("i cfg.ini 41-FFFFF")},
        {{"-s", "", "-vi", "cfg.ini"}, runs("i cfg.ini  v")},
        // Long options: whole words only, each with the modes it goes with.
        {{"--check="}, usage},
        {{"--check", "-v"}, usage},
        {{"--json", "-o", "x.ini"}, usage},
        {{"--if-needed", "-L"}, usage},
        {{"--if-needed", "--check", "a.ini"}, usage},
        {{"-i", "a.ini", "--check", "b.ini"}, usage},
        {{"-v", "--check"}, help("opalquix: option '--check' requires an argument\n\n")},
        {{"-v", "--chec", "a.ini"}, help("opalquix: unrecognized option '--chec'\n\n")},
        {{"-v", "--json=1", "-L"}, help("opalquix: option '--json' doesn't allow an argument\n\n")},
        {{"--check", "a.ini", "-s", "X"}, runs("check a.ini X")},
        {{"--json", "--check=a=b.ini"}, runs("check a=b.ini  json")},
        {{"-L", "--json", "--", "--help"}, runs("L   json")},
        {{"--if-needed", "-i", "a.ini"}, runs("i a.ini  if-needed")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.args), c.result) << ::testing::PrintToString(c.args);
    }
    // Asked for, the help with the long options is no refusal.
    EXPECT_EQ(Parse({"-L", "--help", "-x"}).rfind("0\n" + kFullHelp + "\n\nLONG OPTIONS", 0), 0u);
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
