#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/FileLock.h"
#include "platform/Text.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval{50};

// The first byte: the file is a lock and nothing else, so no data is ever locked away from
// a reader.
bool TryLockFirstByte(HANDLE file) {
    OVERLAPPED at{};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) !=
           FALSE;
}

}  // namespace

FileLockStatus FileLock::lock(const std::string& path, uint32_t waitMs) {
    unlock();
    // Shared for everything, so that holding the lock keeps nobody from reading, replacing
    // or deleting the file; a reparse point is opened as itself, not followed.
    const HANDLE file =
        CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        return FileLockStatus::Failed;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        lastError = ERROR_INVALID_PARAMETER;
        return FileLockStatus::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (TryLockFirstByte(file)) {
            handle = reinterpret_cast<intptr_t>(file);
            return FileLockStatus::Locked;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            CloseHandle(file);
            lastError = error;
            return FileLockStatus::Failed;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            CloseHandle(file);
            return FileLockStatus::Busy;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
    }
}

void FileLock::unlock() {
    if (handle != kNoHandle) {
        // Closing alone lets go of the lock only when the system gets round to it.
        const HANDLE file = reinterpret_cast<HANDLE>(handle);
        OVERLAPPED at{};
        UnlockFileEx(file, 0, 1, 0, &at);
        CloseHandle(file);
        handle = kNoHandle;
    }
}
