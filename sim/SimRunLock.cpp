// The simulator's lock: one per state file, so that runs in different directories (parallel
// tests) never wait for each other. It is a file of its own beside the state file, because
// the state file is replaced by a rename after a run and a lock on it would go with the old
// file.
#include <string>
#include <vector>

#include "app/RunLock.h"
#include "log/Log.h"
#include "platform/FileLock.h"
#include "sim/SimBus.h"
#include "sim/SimState.h"

namespace sim {
namespace {

constexpr char kLockFileName[] = "marvanecfgutil-sim.lock";

FileLock& Lock() {
    static FileLock lock;
    return lock;
}

// The session read the state before the lock was ours; a run that held it meanwhile may
// have saved new settings since. Nothing has reached the monitors yet, so they can still be
// loaded again from the file as it is now.
void ReloadState() {
    std::vector<SimMonitor> monitors;
    std::string error;
    if (LoadState(kStateFileName, monitors, error)) {
        SimBus::instance().loadMonitors(monitors);
    }  // otherwise keep what the session loaded
}

}  // namespace
}  // namespace sim

// The state file lives in the current directory (see SimMain.cpp), and so does its lock.
RunLockStatus AcquireRunLock(uint32_t waitMs) {
    FileLock& lock = sim::Lock();
    if (lock.locked()) {
        return RunLockStatus::Acquired;
    }
    switch (lock.lock(sim::kLockFileName, waitMs)) {
        case FileLockStatus::Locked:
            sim::ReloadState();
            return RunLockStatus::Acquired;
        case FileLockStatus::Busy:
            return RunLockStatus::Busy;
        case FileLockStatus::Failed:
            break;
    }
    LogMessage(LogError, "AcquireRunLock - cannot lock %s, error=0x%08x", sim::kLockFileName,
               lock.error());
    return RunLockStatus::Unavailable;
}

void ReleaseRunLock() {
    sim::Lock().unlock();
}
