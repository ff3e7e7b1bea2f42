#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LogFile.h"

int OpenLogFile(const std::string& fileName) {
    return open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
}

bool LogFileSize(int fd, uint64_t& size) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return false;
    }
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

void WriteLogFile(int fd, const char* data, size_t length) {
    // One write per line; a short or failed write loses the line, never the caller's work.
    [[maybe_unused]] const ssize_t written = write(fd, data, length);
}

void CloseLogFile(int fd) { close(fd); }
