// INI files on POSIX systems, for our own private-profile code.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/ProfileFile.h"
#include "platform/Text.h"

namespace portable_profile {
namespace {

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

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

bool WriteAll(int fd, const std::string& bytes, uint32_t& error) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = static_cast<uint32_t>(errno);
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
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

// Writes a temporary file beside the target and renames it over the target, so that the
// file is always either the old or the new one, never half written. The file keeps its
// permissions (and its owner where we may set it); a symbolic link keeps pointing at it.
bool StoreProfileFile(const std::wstring& path, const std::string& bytes, bool exists,
                      uint32_t& error) {
    std::string target = Narrow(path);
    struct stat info {};
    if (exists && lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(target.c_str(), resolved) == nullptr) {
            error = static_cast<uint32_t>(errno);
            return false;
        }
        target = resolved;
    }
    mode_t mode = 0;
    if (exists) {
        if (stat(target.c_str(), &info) != 0) {
            error = static_cast<uint32_t>(errno);
            return false;
        }
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = static_cast<mode_t>(0666 & ~mask);
    }

    std::string temp = target + ".XXXXXX";
    FdCloser file;
    file.fd = mkstemp(temp.data());
    if (file.fd < 0) {
        error = static_cast<uint32_t>(errno);
        return false;
    }
    const auto fail = [&](int code) {
        error = static_cast<uint32_t>(code);
        close(file.fd);
        file.fd = -1;
        unlink(temp.c_str());
        return false;
    };
    if (exists && fchown(file.fd, info.st_uid, info.st_gid) != 0) {
        // Not permitted for other users' files: the file then belongs to us.
    }
    if (fchmod(file.fd, mode) != 0) {
        return fail(errno);
    }
    if (!WriteAll(file.fd, bytes, error)) {
        return fail(static_cast<int>(error));
    }
    if (fsync(file.fd) != 0) {
        return fail(errno);
    }
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) {
        const int code = errno;
        unlink(temp.c_str());
        error = static_cast<uint32_t>(code);
        return false;
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        const int code = errno;
        unlink(temp.c_str());
        error = static_cast<uint32_t>(code);
        return false;
    }
    // Make the rename itself durable.
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    FdCloser dirFd;
    dirFd.fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd.fd >= 0) {
        fsync(dirFd.fd);
    }
    return true;
}

uint32_t InvalidParameterError() {
    return EINVAL;
}

}  // namespace portable_profile
