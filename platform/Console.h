// All console text leaves through here, in the order it was written: narrow and wide
// lines share one buffered path per stream, and standard output is flushed before
// anything goes to standard error. On Windows the streams stay in text mode, so "\n"
// reaches the console and pipes as "\r\n".
#pragma once

#include <string_view>

#include "platform/Format.h"

void ConsoleWrite(std::string_view text);
void ConsoleWriteError(std::string_view text);
void ConsolePrintf(const char* format, ...) MARVANE_PRINTF(1, 2);
void ConsoleErrorPrintf(const char* format, ...) MARVANE_PRINTF(1, 2);
void ConsoleFlush();
// While on, everything written for standard output goes to standard error instead, so that
// standard output can carry one machine-readable document alone.
void ConsoleSendOutputToError(bool on);
// Writes to standard output whatever ConsoleSendOutputToError says: the document itself.
void ConsoleWriteDocument(std::string_view text);
