// The Linux program's lock: flock on a file in /run, shared by every session of the machine
// and let go by the kernel when a run ends, however it ends. Only root may create files in
// /run (unlike /run/lock, where anyone may), and the file is root's alone, so no other user
// can hold it, nor plant a link, a FIFO or a file of their own at its name.
#include <string>

#include "app/RunLock.h"
#include "log/Log.h"
#include "platform/FileLock.h"

namespace {

constexpr char kLockPath[] = "/run/marvanecfgutil.lock";

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
    switch (lock.lock(kLockPath, waitMs)) {
        case FileLockStatus::Locked:
            return RunLockStatus::Acquired;
        case FileLockStatus::Busy:
            return RunLockStatus::Busy;
        case FileLockStatus::Failed:
            break;
    }
    LogMessage(LogError, "AcquireRunLock - cannot lock %s, error=0x%08x", kLockPath, lock.error());
    return RunLockStatus::Unavailable;
}

void ReleaseRunLock() {
    Lock().unlock();
}
