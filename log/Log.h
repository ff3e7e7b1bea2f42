// Levelled logging: one process-wide file handler, optional console echo.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Format.h"

// Ordered by detail; a message passes when its level <= the handler's level.
enum LogLevel : int { LogOff = 0, LogError = 1, LogInfo = 2, LogDebug = 3, LogTrace = 4 };

struct CLogSettings {
    int level = LogOff;
    std::string fileName = "SelvarMonCfg.log";
};

struct CLogRecord {
    int level = LogOff;
    std::string text;
    WallClockTime time;
    uint32_t threadId = 0;
    uint32_t processId = 0;
};

class CLogHandler {
public:
    virtual ~CLogHandler() = default;
    virtual void Write(const CLogRecord& record) = 0;
    virtual int GetLevel() = 0;
};

class CFileLogHandler : public CLogHandler {
public:
    CFileLogHandler(int level, std::string fileName);
    ~CFileLogHandler() override;
    CFileLogHandler(const CFileLogHandler&) = delete;
    CFileLogHandler& operator=(const CFileLogHandler&) = delete;

    void Write(const CLogRecord& record) override;
    int GetLevel() override { return level; }

    // The text line a record becomes, "\r\n" included.
    static std::string FormatLine(const CLogRecord& record);

private:
    int level;
    std::string fileName;
    uint32_t maxFileSize = 104857600;
    int fd = -1;
    bool fileFull = false;
};

// Process-wide settings, created on first use; written only by option parsing.
CLogSettings& GetLogSettings();
// Process-wide handler, built on first use from the settings as they are then.
CLogHandler& GetLogHandler();
// Closes the log file and forgets the handler; the next log call builds a new one.
// Runs at process exit; tests call it to start a fresh run.
void CloseLogHandler();

// The console-echo flag of the -v option (0 or 1), process-wide.
int& VerboseFlag();

void LogWrite(int level, const char* format, ...) MARVANE_PRINTF(2, 3);
void LogWriteText(int level, const char* text);
void LogWriteVerbose(int level, const char* format, ...) MARVANE_PRINTF(2, 3);

// The rule for every formatted message: LogWriteVerbose when -v was given, LogWrite
// otherwise.
void LogMessage(int level, const char* format, ...) MARVANE_PRINTF(2, 3);
