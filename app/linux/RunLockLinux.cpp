// The Linux program's lock: flock on a file in the system's lock directory, shared by every
// session of the machine and let go by the kernel when a run ends, however it ends.
#include <sys/stat.h>

#include <string>

#include "app/RunLock.h"
#include "log/Log.h"
#include "platform/FileLock.h"

namespace {

// /run/lock is the lock directory of the file-system hierarchy standard; /var/lock is its
// older name, and /run (root's own) serves where neither exists, as in minimal containers.
constexpr const char* kLockDirectories[] = {"/run/lock", "/var/lock", "/run"};
constexpr char kLockFileName[] = "marvanecfgutil.lock";

std::string LockPath() {
    for (const char* directory : kLockDirectories) {
        struct stat info {};
        if (stat(directory, &info) == 0 && S_ISDIR(info.st_mode)) {
            return std::string(directory) + "/" + kLockFileName;
        }
    }
    return std::string(kLockDirectories[0]) + "/" + kLockFileName;  // fails, and says so
}

FileLock& Lock() {
    static FileLock lock;
    return lock;
}

}  // namespace

RunLockStatus AcquireRunLock(uint32_t waitMs) {
    FileLock& lock = Lock();
    if (lock.locked()) {
        return RunLockStatus::Acquired;
    }
    const std::string path = LockPath();
    switch (lock.lock(path, waitMs)) {
        case FileLockStatus::Locked:
            return RunLockStatus::Acquired;
        case FileLockStatus::Busy:
            return RunLockStatus::Busy;
        case FileLockStatus::Failed:
            break;
    }
    LogMessage(LogError, "AcquireRunLock - cannot lock %s, error=0x%08x", path.c_str(),
               lock.error());
    return RunLockStatus::Unavailable;
}

void ReleaseRunLock() {
    Lock().unlock();
}
