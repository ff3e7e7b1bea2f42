// The log file's line format, level filter, console echo, length cut and size cap.
#include "log/Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tests/support/CaptureStdout.h"

namespace {

// Each test starts a fresh "run": new settings, no handler, no echo.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        logPath = dir.file("run.log");
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
    }
    void UseLogFile(int level = LogTrace) {
        GetLogSettings().fileName = logPath;
        GetLogSettings().level = level;
    }
    std::string LogText() {
        CloseLogHandler();
        return ReadFileBytes(logPath);
    }

    TempDir dir;
    std::string logPath;
};

TEST_F(LogTest, LineHasTimeIdsLevelTextAndCrLf) {
    CLogRecord record;
    record.level = LogDebug;
    record.text = "HidDisplayManager Constructed";
    record.time.seconds = 1700000000;
    record.time.milliseconds = 45;
    record.processId = 0x1a2c;
    record.threadId = 0xf3c;
    const std::string line = CFileLogHandler::FormatLine(record);
    const std::regex shape(
        R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.045\tP\[1a2c\] T\[0f3c\]\tDebug\tHidDisplayManager Constructed\r\n)");
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
}

TEST_F(LogTest, LevelTextsArePaddedToFiveCharacters) {
    const struct {
        int level;
        const char* text;
    } cases[] = {{LogOff, "\tOff  \t"},   {LogError, "\tError\t"}, {LogInfo, "\tInfo \t"},
                 {LogDebug, "\tDebug\t"}, {LogTrace, "\tTrace\t"}, {7, "]\t\tx"}};
    for (const auto& c : cases) {
        CLogRecord record;
        record.level = c.level;
        record.text = "x";
        EXPECT_NE(CFileLogHandler::FormatLine(record).find(c.text), std::string::npos) << c.level;
    }
}

TEST_F(LogTest, WithoutLogFileNothingIsCreatedButVerboseStillEchoes) {
    GetLogSettings().fileName = logPath;  // level stays Off
    CaptureOutput capture;
    LogWrite(LogError, "silent %d", 1);
    LogWriteText(LogError, "fixed");
    LogWriteVerbose(LogDebug, "echoed %s", "line");
    EXPECT_EQ(capture.out(), "echoed line\n");
    EXPECT_FALSE(FileExists(logPath));
}

TEST_F(LogTest, LevelFilterKeepsOnlyLinesAtOrBelowTheHandlerLevel) {
    UseLogFile(LogInfo);
    LogWrite(LogError, "error %d", 1);
    LogWrite(LogInfo, "info %d", 2);
    LogWrite(LogDebug, "debug %d", 3);
    LogWriteText(LogDebug, "debug text");
    LogWrite(LogOff, "level zero passes even an Off handler");
    const std::string text = LogText();
    EXPECT_NE(text.find("\tError\terror 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tInfo \tinfo 2\r\n"), std::string::npos);
    EXPECT_EQ(text.find("debug"), std::string::npos);
    EXPECT_NE(text.find("\tOff  \tlevel zero"), std::string::npos);
}

TEST_F(LogTest, LevelZeroPassesAHandlerAtOff) {
    GetLogSettings().fileName = logPath;
    LogWriteText(LogOff, "written");
    EXPECT_NE(LogText().find("\tOff  \twritten\r\n"), std::string::npos);
}

TEST_F(LogTest, FileOnlyCallsNeverReachTheConsole) {
    UseLogFile();
    CaptureOutput capture;
    LogWrite(LogDebug, "to file %d", 1);
    LogWriteText(LogDebug, "HidDisplayManager Constructed");
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(capture.err(), "");
}

TEST_F(LogTest, LogMessageFollowsTheVerboseFlag) {
    UseLogFile();
    {
        CaptureOutput capture;
        LogMessage(LogDebug, "quiet %d", 1);
        EXPECT_EQ(capture.out(), "");
    }
    VerboseFlag() = 1;
    {
        CaptureOutput capture;
        LogMessage(LogDebug, "loud %d", 2);
        EXPECT_EQ(capture.out(), "loud 2\n");
    }
    const std::string text = LogText();
    EXPECT_NE(text.find("quiet 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("loud 2\r\n"), std::string::npos);
}

TEST_F(LogTest, MessageEndingInNewlineKeepsItBeforeCrLfAndEchoesAnEmptyLine) {
    UseLogFile();
    CaptureOutput capture;
    LogWriteVerbose(LogError, "opalquix: illegal option -- %c\n", 'x');
    EXPECT_EQ(capture.out(), "opalquix: illegal option -- x\n\n");
    EXPECT_NE(LogText().find("illegal option -- x\n\r\n"), std::string::npos);
}

TEST_F(LogTest, FormattedMessagesAreCutAt1023CharactersFixedTextsAreNot) {
    UseLogFile();
    const std::string longText(2000, 'a');
    std::string echoed;
    {
        CaptureOutput capture;
        LogWriteVerbose(LogDebug, "%s", longText.c_str());
        echoed = capture.out();
    }
    EXPECT_EQ(echoed, std::string(1023, 'a') + "\n");
    LogWriteText(LogDebug, std::string(2000, 'b').c_str());
    const std::string text = LogText();
    EXPECT_NE(text.find("\t" + std::string(1023, 'a') + "\r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(1024, 'a')), std::string::npos);
    EXPECT_NE(text.find("\t" + std::string(2000, 'b') + "\r\n"), std::string::npos);
}

TEST_F(LogTest, PercentInFixedTextIsNotAFormat) {
    UseLogFile();
    LogWriteText(LogDebug, "100%s %d %n");
    EXPECT_NE(LogText().find("\t100%s %d %n\r\n"), std::string::npos);
}

TEST_F(LogTest, ExistingLinesAreKeptAndNewOnesAppended) {
    WriteFileBytes(logPath, "older line one\r\nolder line two\r\n");
    UseLogFile();
    LogWriteText(LogInfo, "new");
    const std::string text = LogText();
    EXPECT_EQ(text.rfind("older line one\r\nolder line two\r\n", 0), 0u);
    EXPECT_NE(text.find("\tnew\r\n"), std::string::npos);
}

TEST_F(LogTest, FullFileReceivesNothingForTheRestOfTheRun) {
    {
        std::FILE* file = std::fopen(logPath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        std::filesystem::resize_file(logPath, 104857600);  // sparse where supported
    }
    UseLogFile();
    LogWriteText(LogError, "dropped");
    LogWriteText(LogError, "dropped too");
    CloseLogHandler();
    EXPECT_EQ(std::filesystem::file_size(logPath), 104857600u);
}

TEST_F(LogTest, FileJustBelowTheCapTakesOneMoreLine) {
    {
        std::FILE* file = std::fopen(logPath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        std::filesystem::resize_file(logPath, 104857599);
    }
    UseLogFile();
    LogWriteText(LogError, "last");
    LogWriteText(LogError, "dropped");
    CloseLogHandler();
    const auto size = std::filesystem::file_size(logPath);
    EXPECT_GT(size, 104857599u);
    EXPECT_LT(size, 104857599u + 100);
}

TEST_F(LogTest, UnwritableLogPathLosesLinesSilentlyAndRetries) {
    GetLogSettings().fileName = dir.path();  // a directory cannot be opened as a file
    GetLogSettings().level = LogTrace;
    CaptureOutput capture;
    LogWriteText(LogError, "lost");
    LogWrite(LogError, "lost %d", 2);
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(capture.err(), "");
}

TEST_F(LogTest, HandlerTakesTheSettingsOfItsFirstUse) {
    UseLogFile();
    LogWriteText(LogDebug, "first");
    GetLogSettings().level = LogOff;  // too late for this run
    LogWriteText(LogDebug, "second");
    const std::string text = LogText();
    EXPECT_NE(text.find("\tsecond\r\n"), std::string::npos);
}

}  // namespace
