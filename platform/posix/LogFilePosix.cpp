#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LogFile.h"

int OpenLogFile(const std::string& fileName) {
    // Non-blocking, so that a FIFO (or a device) named as the log cannot stop the run in
    // open(); only a regular file is kept. Not through a symbolic link: the program runs as
    // root, and a link planted where the log goes would have it append to any file.
    const int fd =
        open(fileName.c_str(),
             O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
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

void CloseLogFile(int fd) {
    close(fd);
}
