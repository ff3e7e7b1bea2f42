#include "log/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Console.h"
#include "platform/LogFile.h"

namespace {

// Longest formatted message; longer output is cut.
constexpr size_t kMaxMessageLength = 1023;

const char* LevelText(int level) {
    switch (level) {
        case LogOff:
            return "Off  ";
        case LogError:
            return "Error";
        case LogInfo:
            return "Info ";
        case LogDebug:
            return "Debug";
        case LogTrace:
            return "Trace";
        default:
            return "";
    }
}

std::string FormatMessage(const char* format, va_list args) {
    char buffer[kMaxMessageLength + 1];
    const int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    if (length < 0) {
        return {};
    }
    return std::string(buffer, std::min(static_cast<size_t>(length), kMaxMessageLength));
}

CLogRecord MakeRecord(int level, std::string text) {
    CLogRecord record;
    record.level = level;
    record.text = std::move(text);
    record.time = CurrentWallClockTime();
    record.threadId = CurrentThreadId();
    record.processId = CurrentProcessId();
    return record;
}

std::unique_ptr<CFileLogHandler>& HandlerSlot() {
    static std::unique_ptr<CFileLogHandler> handler;
    return handler;
}

void LogFormatted(int level, bool echo, const char* format, va_list args) {
    CLogHandler& handler = GetLogHandler();
    if (format == nullptr) {
        return;
    }
    const bool passes = level <= handler.GetLevel();
    if (!echo && !passes) {
        return;
    }
    std::string text = FormatMessage(format, args);
    if (echo) {
        ConsolePrintf("%s\n", text.c_str());
    }
    if (passes) {
        handler.Write(MakeRecord(level, std::move(text)));
    }
}

}  // namespace

CFileLogHandler::CFileLogHandler(int handlerLevel, std::string handlerFileName)
    : level(handlerLevel), fileName(std::move(handlerFileName)) {}

CFileLogHandler::~CFileLogHandler() {
    if (fd != -1) {
        CloseLogFile(fd);
    }
}

std::string CFileLogHandler::FormatLine(const CLogRecord& record) {
    const std::tm local = ToLocalTime(record.time.seconds);
    char stamp[64];
    const size_t stampLength = std::strftime(stamp, sizeof(stamp), "%d/%m/%Y %H:%M:%S.", &local);
    std::string line(stamp, stampLength);
    char fields[96];
    std::snprintf(fields, sizeof(fields), "%03hu\tP[%04x] T[%04x]\t%s\t", record.time.milliseconds,
                  record.processId, record.threadId, LevelText(record.level));
    line += fields;
    line += record.text;
    line += "\r\n";
    return line;
}

void CFileLogHandler::Write(const CLogRecord& record) {
    const std::string line = FormatLine(record);
    if (fileFull) {
        return;
    }
    if (fd == -1) {
        // Opened for appending: a run never leaves its lines mixed with the tail of older
        // ones. A failed open loses this line only; the next one tries again.
        fd = OpenLogFile(fileName);
        if (fd == -1) {
            return;
        }
    }
    uint64_t size = 0;
    if (!LogFileSize(fd, size)) {
        CloseLogFile(fd);
        fd = -1;
        return;
    }
    if (size >= maxFileSize) {
        CloseLogFile(fd);
        fd = -1;
        fileFull = true;
        return;
    }
    WriteLogFile(fd, line.data(), line.size());
}

CLogSettings& GetLogSettings() {
    // Never freed: the settings outlive every log call, including those made at exit.
    static CLogSettings* settings = new CLogSettings();
    return *settings;
}

CLogHandler& GetLogHandler() {
    auto& handler = HandlerSlot();
    if (!handler) {
        static const bool registered = [] { return std::atexit(CloseLogHandler) == 0; }();
        (void)registered;
        const CLogSettings& settings = GetLogSettings();
        handler = std::make_unique<CFileLogHandler>(settings.level, settings.fileName);
    }
    return *handler;
}

void CloseLogHandler() { HandlerSlot().reset(); }

int& VerboseFlag() {
    static int verbose = 0;
    return verbose;
}

void LogWrite(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormatted(level, false, format, args);
    va_end(args);
}

void LogWriteText(int level, const char* text) {
    CLogHandler& handler = GetLogHandler();
    if (level > handler.GetLevel() || text == nullptr) {
        return;
    }
    handler.Write(MakeRecord(level, text));
}

void LogWriteVerbose(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormatted(level, true, format, args);
    va_end(args);
}

void LogMessage(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormatted(level, VerboseFlag() == 1, format, args);
    va_end(args);
}
