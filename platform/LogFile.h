// The few file operations the log handler needs, on a plain descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opens (creating when missing) a file for appending, shared for reading and writing with
// other processes, without newline translation. Never blocks, and keeps only a regular
// (disk) file: a FIFO, a device or a directory gives -1, like a file that cannot be opened.
int OpenLogFile(const std::string& fileName);
bool LogFileSize(int fd, uint64_t& size);
void WriteLogFile(int fd, const char* data, size_t length);
void CloseLogFile(int fd);
