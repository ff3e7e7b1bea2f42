#include "platform/Console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/Text.h"

namespace {
bool outputToError = false;
}  // namespace

// Every write is flushed at once: narrow and wide lines, the log echo and the messages on
// standard error then reach the console (or a pipe) in exactly the order they were made.
void ConsoleWrite(std::string_view text) {
    if (outputToError) {
        ConsoleWriteError(text);
        return;
    }
    ConsoleWriteDocument(text);
}

void ConsoleWriteDocument(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void ConsoleWriteError(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void ConsolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    ConsoleWrite(text);
}

void ConsoleErrorPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    ConsoleWriteError(text);
}

void ConsoleFlush() {
    std::fflush(stdout);
    std::fflush(stderr);
}

void ConsoleSendOutputToError(bool on) {
    outputToError = on;
}
