// The Windows program's run lock: the Global mutex, taken over when abandoned, and the real
// program waiting for another holder before it looks for monitors.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/RunLock.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

constexpr wchar_t kMutexName[] = L"Global\\marvanecfgutil";

// Another run on its own thread: takes the mutex, then lets go or ends without letting go.
class OtherRun {
public:
    explicit OtherRun(bool abandon) {
        thread = std::thread([this, abandon] {
            const HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
            taken = mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0;
            ready.test_and_set();
            ready.notify_all();
            if (!abandon) {
                finish.wait(false);
                ReleaseMutex(mutex);
            }
            CloseHandle(mutex);  // ending the thread while owning it abandons it
        });
        ready.wait(false);
    }
    ~OtherRun() { end(); }
    void end() {
        if (thread.joinable()) {
            finish.test_and_set();
            finish.notify_all();
            thread.join();
        }
    }
    bool taken = false;

private:
    std::atomic_flag ready;
    std::atomic_flag finish;
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

TEST(RunLockWin32Test, TheProgramWaitsForAnotherRunBeforeLookingForMonitors) {
    TempDir dir;
    const ProcessResult held = RunProcess(
        BuiltProgram("lock_holder.exe"),
        {"mutex", "Global\\marvanecfgutil", "1500", BuiltProgram("marvanecfgutil.exe"), "-L"},
        dir.path());
    // No monitors under Wine: once it had the lock, discovery found none.
    EXPECT_EQ(held.exitStatus, 1) << held.err;
    EXPECT_EQ(held.out, "Error: No single 7352 device is attached.\n");
    const std::string marker = "lock_holder: program ended after ";
    const size_t at = held.err.rfind(marker);
    ASSERT_NE(at, std::string::npos) << held.err;
    EXPECT_GE(std::atoll(held.err.c_str() + at + marker.size()), 1500) << held.err;
}

}  // namespace
