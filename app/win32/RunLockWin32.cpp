// The Windows program's lock: a named mutex in the Global namespace, so that runs in every
// session of the machine (a service, a scheduled task, each logged-on user) share it.
#include <windows.h>

#include "app/RunLock.h"
#include "log/Log.h"

namespace {

constexpr wchar_t kMutexName[] = L"Global\\marvanecfgutil";

// Held by the thread that took it (the main thread) and let go at process exit at the
// latest; a run that dies holding it leaves it abandoned, which the next run takes over.
class RunMutex {
public:
    ~RunMutex() { release(); }
    RunLockStatus acquire(uint32_t waitMs) {
        if (owned) {
            return RunLockStatus::Acquired;
        }
        if (mutex == nullptr) {
            mutex = CreateMutexW(nullptr, FALSE, kMutexName);
            if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
                // Made by another account with less access for us: waiting needs no more.
                mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMutexName);
            }
            if (mutex == nullptr) {
                LogMessage(LogError, "AcquireRunLock - CreateMutex failed, error=0x%08x",
                           static_cast<unsigned>(GetLastError()));
                return RunLockStatus::Unavailable;
            }
        }
        switch (WaitForSingleObject(mutex, waitMs)) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:  // its last holder ended without letting go: ours now
                owned = true;
                return RunLockStatus::Acquired;
            case WAIT_TIMEOUT:
                return RunLockStatus::Busy;
            default:
                LogMessage(LogError, "AcquireRunLock - wait failed, error=0x%08x",
                           static_cast<unsigned>(GetLastError()));
                return RunLockStatus::Unavailable;
        }
    }
    void release() {
        if (owned) {
            ReleaseMutex(mutex);
            owned = false;
        }
        if (mutex != nullptr) {
            CloseHandle(mutex);
            mutex = nullptr;
        }
    }

private:
    HANDLE mutex = nullptr;
    bool owned = false;
};

RunMutex& Mutex() {
    static RunMutex mutex;
    return mutex;
}

}  // namespace

RunLockStatus AcquireRunLock(uint32_t waitMs) {
    return Mutex().acquire(waitMs);
}

void ReleaseRunLock() {
    Mutex().release();
}
