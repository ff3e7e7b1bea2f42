// One run at a time may talk to the monitors: two runs that interleave their reports on one
// monitor (a login script and a scheduled task applying files) can make its controller
// commit a configuration nobody wrote. Each backend links its own lock: machine-wide for
// real monitors, one per state file for the simulated ones.
#pragma once

#include <cstdint>

// How long a run waits for another one to finish with the monitors.
inline constexpr uint32_t kRunLockWaitMs = 120000;

enum class RunLockStatus {
    Acquired,     // ours until ReleaseRunLock() or the end of the process
    Busy,         // another run still held it when the wait ran out
    Unavailable,  // the lock itself cannot be had (logged); the run goes on without it
};

// Takes the lock, waiting up to waitMs for another run to let go. Taking it again while
// holding it returns Acquired at once.
RunLockStatus AcquireRunLock(uint32_t waitMs);
void ReleaseRunLock();
