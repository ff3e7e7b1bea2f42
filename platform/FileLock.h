// An exclusive lock on a file, so that runs of the program that must not overlap wait for
// each other. The lock belongs to this object's open file and ends with it, or with the
// process, whichever comes first.
#pragma once

#include <cstdint>
#include <string>

enum class FileLockStatus {
    Locked,  // held until unlock() or destruction
    Busy,    // still held elsewhere when the wait ran out
    Failed,  // the file cannot be opened or locked at all; error() says why
};

class FileLock {
public:
    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens the file, creating it (for the owner alone) when missing, and locks it
    // exclusively, waiting up to waitMs milliseconds for another holder to let go. Opening
    // never blocks and never follows a symbolic link at the last component; anything but a
    // regular file is refused, and on POSIX so is a file of another owner. Locking again first lets
    // go of the old lock.
    FileLockStatus lock(const std::string& path, uint32_t waitMs);
    void unlock();
    bool locked() const { return handle != kNoHandle; }
    // The system's error code of the last Failed (errno, or GetLastError on Windows).
    uint32_t error() const { return lastError; }

private:
    static constexpr intptr_t kNoHandle = -1;  // a descriptor, or a Windows file handle
    intptr_t handle = kNoHandle;
    uint32_t lastError = 0;
};
