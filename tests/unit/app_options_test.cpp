// The option parser and the choice of run mode: what is printed, where, and the exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Help.h"
#include "app/Options.h"
#include "log/Log.h"
#include "tests/support/CaptureStdout.h"

namespace {

// argv as main() receives it, with writable words.
class Argv {
public:
    explicit Argv(const std::vector<std::string>& args) {
        words.push_back("marvanecfgutil");
        words.insert(words.end(), args.begin(), args.end());
        for (std::string& word : words) {
            pointers.push_back(word.data());
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> words;
    std::vector<char*> pointers;
};

struct ParseResult {
    bool run = false;
    int exitStatus = -1;
    CommandLine commandLine;
    std::string out;
    std::string err;
};

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { FreshRun(); }
    void TearDown() override { FreshRun(); }
    static void FreshRun() {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
        cmdline::getoptReset();
    }

    static ParseResult Parse(const std::vector<std::string>& args) {
        FreshRun();
        Argv argv(args);
        ParseResult result;
        CaptureOutput capture;
        result.run =
            ParseCommandLine(argv.argc(), argv.argv(), result.commandLine, result.exitStatus);
        result.out = capture.out();
        result.err = capture.err();
        return result;
    }

    static std::string Usage() {
        CaptureOutput capture;
        PrintUsage();
        return capture.out();
    }
    static std::string FullHelp() {
        CaptureOutput capture;
        PrintUsage();
        PrintExamples();
        PrintSettingsDefinition();
        return capture.out();
    }
};

enum class Printed { Nothing, Usage, FullHelp };

struct RefusalCase {
    std::vector<std::string> args;
    std::string echo;  // console echo of a parser message, printed before the help
    Printed printed;
};

TEST_F(OptionsTest, RefusedCommandLinesPrintHelpOnStdoutAndEndWithOne) {
    const RefusalCase cases[] = {
        {{}, "", Printed::Usage},
        {{"-"}, "", Printed::Usage},
        {{"-v"}, "", Printed::Usage},
        {{"-s", "41-FFFFF"}, "", Printed::Usage},
        {{"-l", "run.log"}, "", Printed::Usage},
        {{"-L", "-o", "x.ini"}, "", Printed::Usage},
        {{"-o", "a.ini", "-g", "b.ini"}, "", Printed::Usage},
        {{"-i", "a.ini", "-L"}, "", Printed::Usage},
        {{"-Lo", "x.ini"}, "", Printed::Usage},
        {{"-o", "-v"}, "", Printed::Usage},  // nothing is written, so not a success
        {{"-g", "-v"}, "", Printed::Usage},
        {{"-i", "-v"}, "", Printed::Usage},
        {{"-L", "-s", "-v"}, "", Printed::Usage},
        {{"-L", "-l", "-v"}, "", Printed::Usage},
        {{"extra", "-L"}, "", Printed::Usage},
        {{"--", "-L"}, "", Printed::Usage},
        {{"-?"}, "", Printed::FullHelp},
        {{"-L", "-?"}, "", Printed::FullHelp},
        {{"-x"}, "", Printed::FullHelp},
        {{"-x", "-v"}, "", Printed::FullHelp},
        {{"-:"}, "", Printed::FullHelp},
        {{"-i"}, "", Printed::FullHelp},
        {{"-L", "-x"}, "", Printed::FullHelp},
        {{"-v", "-x"}, "opalquix: illegal option -- x\n\n", Printed::FullHelp},
        {{"-vx"}, "opalquix: illegal option -- x\n\n", Printed::FullHelp},
        {{"-v", "-:"}, "opalquix: illegal option -- :\n\n", Printed::FullHelp},
        {{"-v", "-i"}, "opalquix: option requires an argument -- i\n\n", Printed::FullHelp},
        {{"-v", "-L", "-s"}, "opalquix: option requires an argument -- s\n\n", Printed::FullHelp},
    };
    const std::string usage = Usage();
    const std::string fullHelp = FullHelp();
    for (const RefusalCase& c : cases) {
        std::string words;
        for (const std::string& arg : c.args) {
            words += " '" + arg + "'";
        }
        SCOPED_TRACE("args:" + words);
        const ParseResult result = Parse(c.args);
        EXPECT_FALSE(result.run);
        EXPECT_EQ(result.exitStatus, 1);
        const std::string help = c.printed == Printed::Usage ? usage : fullHelp;
        EXPECT_EQ(result.out, c.echo + help);
        EXPECT_EQ(result.err, "");
    }
}

struct AcceptedCase {
    std::vector<std::string> args;
    RunMode mode;
    std::string iniFileName;
    std::string serial;
    int verbose;
};

TEST_F(OptionsTest, AcceptedCommandLinesChooseOneModeSilently) {
    const AcceptedCase cases[] = {
        {{"-L"}, RunMode::ListDevices, "", "", 0},
        {{"-L", "-v"}, RunMode::ListDevices, "", "", 1},
        {{"-v", "-L"}, RunMode::ListDevices, "", "", 1},
        {{"-vL"}, RunMode::ListDevices, "", "", 1},
        {{"-L", "-L"}, RunMode::ListDevices, "", "", 0},
        {{"-L", "extra", "-o", "x.ini"}, RunMode::ListDevices, "", "", 0},
        {{"-L", "--", "-o", "x.ini"}, RunMode::ListDevices, "", "", 0},
        {{"-s", "41-FFFFF", "-L"}, RunMode::ListDevices, "", "41-FFFFF", 0},
        {{"-ofile.ini"}, RunMode::WriteCurrentIni, "file.ini", "", 0},
        {{"-o", "file.ini"}, RunMode::WriteCurrentIni, "file.ini", "", 0},
        {{"-o", "a.ini", "-o", "b.ini"}, RunMode::WriteCurrentIni, "b.ini", "", 0},
        {{"-g", "d.ini", "-s", "X"}, RunMode::WriteDefaultIni, "d.ini", "X", 0},
        {{"-s", "41-FFFFF", "-i", "cfg.ini"}, RunMode::UpdateFromIni, "cfg.ini", "41-FFFFF", 0},
        {{"-i", "cfg.ini", "-s41-FFFFF"}, RunMode::UpdateFromIni, "cfg.ini", "41-FFFFF", 0},
        {{"-s", "", "-i", "cfg.ini"}, RunMode::UpdateFromIni, "cfg.ini", "", 0},
        {{"-vi", "cfg.ini"}, RunMode::UpdateFromIni, "cfg.ini", "", 1},
    };
    for (const AcceptedCase& c : cases) {
        std::string words;
        for (const std::string& arg : c.args) {
            words += " '" + arg + "'";
        }
        SCOPED_TRACE("args:" + words);
        const ParseResult result = Parse(c.args);
        EXPECT_TRUE(result.run);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.commandLine.mode, c.mode);
        EXPECT_EQ(result.commandLine.iniFileName, c.iniFileName);
        EXPECT_EQ(result.commandLine.serial, c.serial);
        EXPECT_EQ(VerboseFlag(), c.verbose);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
    }
}

// The file name and serial buffers hold 259 characters: longer arguments are refused with
// the usage before anything is done with them.
TEST_F(OptionsTest, ArgumentsLongerThanTheBuffersAreRefused) {
    const std::string longest(kMaxArgumentLength, 'a');
    const std::string tooLong(kMaxArgumentLength + 1, 'a');
    const std::string usage = Usage();
    const struct {
        std::vector<std::string> args;
    } cases[] = {
        {{"-o", "%"}}, {{"-g", "%"}}, {{"-i", "%"}}, {{"-L", "-s", "%"}}, {{"-L", "-l", "%"}},
    };
    for (const auto& c : cases) {
        for (const std::string* argument : {&longest, &tooLong}) {
            std::vector<std::string> args = c.args;
            args.back() = *argument;
            SCOPED_TRACE(args[args.size() - 2] + " with " + std::to_string(argument->size()) +
                         " characters");
            const ParseResult result = Parse(args);
            if (argument == &longest) {
                EXPECT_TRUE(result.run);
                EXPECT_EQ(result.out, "");
            } else {
                EXPECT_FALSE(result.run);
                EXPECT_EQ(result.exitStatus, 1);
                EXPECT_EQ(result.out, usage);
                EXPECT_EQ(GetLogSettings().fileName, CLogSettings{}.fileName);
                EXPECT_EQ(GetLogSettings().level, LogOff);
            }
            EXPECT_EQ(result.err, "");
        }
    }
    // Also when glued to its option.
    const ParseResult glued = Parse({"-o" + tooLong});
    EXPECT_FALSE(glued.run);
    EXPECT_EQ(glued.exitStatus, 1);
}

// A parser message reaches the log file when -l came earlier, and nothing is written
// (no file is even created) when it came later.
TEST_F(OptionsTest, ParserMessagesAreLoggedOnlyAfterTheLogOption) {
    TempDir dir;
    const std::string logPath = dir.file("run.log");

    const ParseResult withLog = Parse({"-l", logPath, "-x"});
    EXPECT_EQ(withLog.commandLine.logFileName, logPath);
    EXPECT_EQ(GetLogSettings().fileName, logPath);
    EXPECT_EQ(GetLogSettings().level, LogTrace);
    CloseLogHandler();
    const std::string logged = ReadFileBytes(logPath);
    EXPECT_NE(logged.find("\tError\topalquix: illegal option -- x\n\r\n"), std::string::npos)
        << logged;

    const std::string laterPath = dir.file("later.log");
    const ParseResult later = Parse({"-x", "-l", laterPath});
    EXPECT_EQ(later.exitStatus, 1);
    CloseLogHandler();
    EXPECT_FALSE(FileExists(laterPath));
}

}  // namespace
