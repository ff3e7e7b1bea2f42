#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/FileLock.h"

namespace {

// How often a waiting run looks again: short against the wait, long against a busy loop.
constexpr std::chrono::milliseconds kPollInterval{50};

// Readable by the owner alone: flock needs no more than a read-only descriptor, so a file
// that others may read is a lock that others may hold.
int OpenRegularFile(const std::string& path) {
    const int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    int error = 0;
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = EINVAL;  // a FIFO or a device holds no lock for us
    } else if (info.st_uid != geteuid()) {
        error = EPERM;  // planted by another user, who may hold it whenever they like
    } else {
        return fd;
    }
    close(fd);
    errno = error;
    return -1;
}

}  // namespace

FileLockStatus FileLock::lock(const std::string& path, uint32_t waitMs) {
    unlock();
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        lastError = static_cast<uint32_t>(errno);
        return FileLockStatus::Failed;
    }
    // flock has no time limit of its own: try, and look again until the limit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            handle = fd;
            return FileLockStatus::Locked;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            lastError = static_cast<uint32_t>(errno);
            close(fd);
            return FileLockStatus::Failed;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            close(fd);
            return FileLockStatus::Busy;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
    }
}

void FileLock::unlock() {
    if (handle != kNoHandle) {
        close(static_cast<int>(handle));  // closing the file lets go of its lock
        handle = kNoHandle;
    }
}
