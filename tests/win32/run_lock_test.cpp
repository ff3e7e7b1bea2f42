// The Windows program's run lock: the Global mutex, taken over when abandoned. The program
// waiting for another holder is seen end to end (tests/e2e/product_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/RunLock.h"

namespace {

// Another run on a thread of its own takes the mutex, then lets go when `finish` is set, or
// ends at once without letting go, which abandons it. Events, not std::atomic_flag::wait:
// this MinGW runtime can miss a notify and hang the test.
void HeldByAnotherRun(bool abandon, const std::function<void()>& whileHeld) {
    const HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool owned = false;
    std::thread other([&] {
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\marvanecfgutil");
        owned = mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0;
        SetEvent(taken);
        if (!abandon) {
            WaitForSingleObject(finish, INFINITE);
            ReleaseMutex(mutex);
        }
        CloseHandle(mutex);
    });
    WaitForSingleObject(taken, INFINITE);
    if (abandon) {
        other.join();
    }
    EXPECT_TRUE(owned);
    whileHeld();
    SetEvent(finish);
    if (other.joinable()) {
        other.join();
    }
    CloseHandle(taken);
    CloseHandle(finish);
}

TEST(RunLockWin32Test, WaitsForTheHolderAndTakesOverAnAbandonedMutex) {
    HeldByAnotherRun(false, [] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Busy);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    });
    EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Acquired);
    EXPECT_EQ(AcquireRunLock(0), RunLockStatus::Acquired);  // already ours
    ReleaseRunLock();
    HeldByAnotherRun(true, [] { EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Acquired); });
    ReleaseRunLock();
}

}  // namespace
