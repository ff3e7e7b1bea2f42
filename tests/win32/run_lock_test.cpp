// The Windows program's run lock: a Global mutex left abandoned by a run that died holding
// it is taken over. Waiting for a live holder: hidlib_planted_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "app/RunLock.h"

namespace {

TEST(RunLockWin32Test, TakesOverAnAbandonedMutex) {
    // Kept open here, so the mutex outlives the other run's handle and stays abandoned.
    const HANDLE kept = CreateMutexW(nullptr, FALSE, L"Global\\marvanecfgutil");
    bool owned = false;
    std::thread([&] {  // the other run ends without letting go
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\marvanecfgutil");
        owned = mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0;
        CloseHandle(mutex);
    })
        .join();
    ASSERT_TRUE(owned);
    EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Acquired);
    EXPECT_EQ(AcquireRunLock(0), RunLockStatus::Acquired);  // already ours
    ReleaseRunLock();
    CloseHandle(kept);
}

}  // namespace
