// INI files on POSIX systems, for our own private-profile code.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ProfileFile.h"
#include "platform/Text.h"
#include "platform/posix/FdCloser.h"

namespace portable_profile {
namespace {

bool ReadAll(int fd, std::string& bytes, uint32_t& error) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = static_cast<uint32_t>(errno);
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

bool LoadProfileFile(const std::wstring& path, bool forWriting, std::string& bytes, bool& exists,
                     uint32_t& error) {
    exists = false;
    const std::string name = Narrow(path);
    FdCloser file;
    // Non-blocking, so that a FIFO in place of the file cannot hang us; only regular files
    // are read.
    file.fd = open(name.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (file.fd < 0) {
        error = static_cast<uint32_t>(errno);
        return errno == ENOENT;
    }
    exists = true;
    struct stat info {};
    if (fstat(file.fd, &info) != 0) {
        error = static_cast<uint32_t>(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // A file nobody may write is read-only, also for root, as the read-only attribute is on
    // Windows: replacing it by rename would otherwise get round its permissions.
    if (forWriting && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        error = EACCES;
        return false;
    }
    // Read at the file's size: growing as it comes would hold up to twice as much.
    bytes.reserve(static_cast<size_t>(info.st_size) + 1);
    return ReadAll(file.fd, bytes, error);
}

uint32_t InvalidParameterError() {
    return EINVAL;
}

}  // namespace portable_profile
