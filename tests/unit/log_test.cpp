// The log file's line format, level filter, console echo, length cut, size cap, and the paths
// it refuses to write through.
#include "log/Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/ConsoleAndFiles.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Each test starts a fresh run: default settings, no handler, no echo.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings() = {LogTrace, logPath};
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
    }
    std::string LogText() {
        CloseLogHandler();
        return ReadFileBytes(logPath);
    }

    TempDir dir;
    std::string logPath = dir.file("run.log");
};

TEST_F(LogTest, LineHasTimeIdsPaddedLevelTextAndCrLf) {
    CLogRecord record{LogDebug, "HidDisplayManager Constructed", {1700000000, 45}, 0xf3c, 0x1a2c};
    EXPECT_TRUE(std::regex_match(
        CFileLogHandler::FormatLine(record),
        std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.045\tP\[1a2c\] T\[0f3c\]\tDebug\t)"
                   R"(HidDisplayManager Constructed\r\n)")));
    const std::pair<int, const char*> levels[] = {{LogOff, "\tOff  \t"},
                                                  {LogError, "\tError\t"},
                                                  {LogInfo, "\tInfo \t"},
                                                  {LogTrace, "\tTrace\t"},
                                                  {7, "]\t\tHidDisplay"}};
    for (const auto& [level, text] : levels) {
        record.level = level;
        EXPECT_TRUE(Has(CFileLogHandler::FormatLine(record), text)) << level;
    }
}

// Without a file name -v still echoes; formatted messages are cut at 1023 characters, fixed
// texts never echo nor are cut; lines up to the level are appended.
TEST_F(LogTest, LevelFilterConsoleEchoCutAndAppending) {
    GetLogSettings().fileName.clear();
    CaptureOutput unlogged;
    LogWrite(LogError, "silent %d", 1);
    LogWriteVerbose(LogDebug, "echoed %s", "line");
    EXPECT_EQ(unlogged.out(), "echoed line\n");
    EXPECT_FALSE(FileExists(logPath));

    CloseLogHandler();
    GetLogSettings() = {LogInfo, logPath};
    WriteFileBytes(logPath, "older line\r\n");
    CaptureOutput quiet;
    LogWrite(LogError, "error %d", 1);
    LogMessage(LogInfo, "%s", std::string(2000, 'a').c_str());
    LogWrite(LogDebug, "debug %d", 3);
    LogWriteText(LogInfo, (std::string(2000, 'b') + " 100%s %d %n").c_str());
    EXPECT_EQ(quiet.out(), "");
    VerboseFlag() = 1;
    CaptureOutput loud;
    LogMessage(LogDebug, "echoed but filtered %d", 4);
    LogWriteText(LogInfo, "fixed texts never echo");
    EXPECT_EQ(loud.out(), "echoed but filtered 4\n");
    const std::string text = LogText();
    EXPECT_EQ(text.rfind("older line\r\n", 0), 0u);
    EXPECT_TRUE(Has(text, "\tError\terror 1\r\n"));
    EXPECT_TRUE(Has(text, "\tInfo \t" + std::string(1023, 'a') + "\r\n"));
    EXPECT_TRUE(Has(text, "\t" + std::string(2000, 'b') + " 100%s %d %n\r\n"));
    EXPECT_TRUE(Has(text, "\tInfo \tfixed texts never echo\r\n"));
    EXPECT_FALSE(Has(text, "debug") || Has(text, "filtered"));
}

TEST_F(LogTest, FileAtTheCapReceivesNothingMoreInThisRun) {
    for (const uintmax_t size : {104857600u, 104857599u}) {
        SetUp();
        WriteFileBytes(logPath, "");
        std::filesystem::resize_file(logPath, size);  // sparse where supported
        LogWriteText(LogError, "maybe");
        LogWriteText(LogError, "dropped once full");
        CloseLogHandler();
        const uintmax_t after = std::filesystem::file_size(logPath);
        EXPECT_EQ(after > size, size < 104857600u) << size;  // one line below the cap
        EXPECT_LT(after, size + 80) << size;
    }
}

// A directory, a device or a FIFO (even with a reader) takes no line, silently; nor does a
// symbolic link, to a file or to none (the program runs as root).
TEST_F(LogTest, NonRegularOrLinkedLogPathLosesLinesSilently) {
    std::vector<std::string> names = {dir.path()};
#ifndef _WIN32
    const std::string fifo = dir.file("log.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string target = dir.file("elsewhere.txt"), missing = dir.file("not-yet.txt");
    WriteFileBytes(target, "kept\n");
    ASSERT_EQ(symlink(target.c_str(), dir.file("to-file.log").c_str()), 0);
    ASSERT_EQ(symlink(missing.c_str(), dir.file("to-none.log").c_str()), 0);
    names.insert(names.end(),
                 {fifo, "/dev/null", dir.file("to-file.log"), dir.file("to-none.log")});
#endif
    for (const std::string& name : names) {
        GetLogSettings().fileName = name;
        CloseLogHandler();
        CaptureOutput capture;
        LogWriteText(LogError, "lost");
        LogWrite(LogError, "lost %d", 2);
        CloseLogHandler();
        EXPECT_EQ(capture.out() + capture.err(), "") << name;
    }
#ifndef _WIN32
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "a line reached the FIFO";
    close(reader);
    EXPECT_EQ(ReadFileBytes(target), "kept\n");
    EXPECT_FALSE(FileExists(missing));
#endif
}

}  // namespace
