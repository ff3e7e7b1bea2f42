// The Windows program's run lock: the Global mutex, taken over when abandoned. The program
// waiting for another holder is seen end to end (tests/e2e/product_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/RunLock.h"

namespace {

constexpr wchar_t kMutexName[] = L"Global\\marvanecfgutil";

// Another run on its own thread: takes the mutex, then lets go or ends without letting go.
// Signalled with events: std::atomic_flag::wait in this MinGW runtime can miss a notify and
// hang the test.
class OtherRun {
public:
    explicit OtherRun(bool abandon) {
        thread = std::thread([this, abandon] {
            const HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
            taken = mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0;
            SetEvent(ready);
            if (!abandon) {
                WaitForSingleObject(finish, INFINITE);
                ReleaseMutex(mutex);
            }
            CloseHandle(mutex);  // ending the thread while owning it abandons it
        });
        WaitForSingleObject(ready, INFINITE);
    }
    ~OtherRun() {
        end();
        CloseHandle(ready);
        CloseHandle(finish);
    }
    OtherRun(const OtherRun&) = delete;
    OtherRun& operator=(const OtherRun&) = delete;
    void end() {
        if (thread.joinable()) {
            SetEvent(finish);
            thread.join();
        }
    }
    bool taken = false;

private:
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;
};

TEST(RunLockWin32Test, WaitsForTheHolderAndTakesOverAnAbandonedMutex) {
    {
        OtherRun other(false);
        ASSERT_TRUE(other.taken);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Busy);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        other.end();
        EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Acquired);
        EXPECT_EQ(AcquireRunLock(0), RunLockStatus::Acquired);  // already ours
        ReleaseRunLock();
    }
    {
        OtherRun other(true);
        ASSERT_TRUE(other.taken);
        other.end();  // gone without letting go
        EXPECT_EQ(AcquireRunLock(300), RunLockStatus::Acquired);
        ReleaseRunLock();
    }
}

}  // namespace
