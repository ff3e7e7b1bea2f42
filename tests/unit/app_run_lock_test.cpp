// One run at a time: the file lock the run locks are made of, and the driver with the
// simulator's lock, which sits beside the state file in the current directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "app/Options.h"
#include "app/RunLock.h"
#include "log/Log.h"
#include "platform/FileLock.h"
#include "sim/SimBus.h"
#include "sim/SimWalks.h"
#include "tests/support/Argv.h"
#include "tests/support/ConsoleAndFiles.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Waiting for a holder shows through the driver below, and end to end with two processes
// and with flock(1) in a script.
TEST(FileLockTest, OnlyARegularFileIsLocked) {
    TempDir dir;
    FileLock lock;
    EXPECT_EQ(lock.lock(dir.path(), 0), FileLockStatus::Failed);  // a folder
    EXPECT_EQ(lock.lock(dir.file("missing") + "/x.lock", 0), FileLockStatus::Failed);
#ifndef _WIN32
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(20);  // opening a FIFO must not wait for a reader
    EXPECT_EQ(lock.lock(fifo, 0), FileLockStatus::Failed);
    alarm(0);
    // A link planted at the lock's name is not followed to whatever it names.
    const std::string target = dir.file("target");
    ASSERT_EQ(symlink(target.c_str(), dir.file("link.lock").c_str()), 0);
    EXPECT_EQ(lock.lock(dir.file("link.lock"), 0), FileLockStatus::Failed);
    EXPECT_FALSE(FileExists(target));

    const mode_t oldMask = umask(022);
    EXPECT_EQ(lock.lock(dir.file("new.lock"), 0), FileLockStatus::Locked);
    umask(oldMask);
    struct stat info {};
    ASSERT_EQ(stat(dir.file("new.lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);  // a reader could hold it too
    // Nor a file another user made: they could hold it whenever they like.
    if (geteuid() == 0) {
        WriteFileBytes(dir.file("theirs.lock"), "");
        ASSERT_EQ(chown(dir.file("theirs.lock").c_str(), 65534, 65534), 0);
        EXPECT_EQ(lock.lock(dir.file("theirs.lock"), 0), FileLockStatus::Failed);
    }
#endif
}

// The driver in this process, on the simulated machine, in a scratch directory that holds
// the simulator's lock file.
class RunLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        sim::SimBus::instance().loadMonitors(sim::DefaultMonitors());
    }
    void TearDown() override {
        ReleaseRunLock();
        std::filesystem::current_path(saved);
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
    }
    struct Run {
        int status = -1;
        std::string out, err;
        long long milliseconds = 0;
    };
    static Run Driver(std::vector<std::string> args, uint32_t waitMs) {
        VerboseFlag() = 0;  // each call is a fresh run
        Argv argv(std::move(args));
        Run run;
        CaptureOutput capture;
        const Clock::time_point start = Clock::now();
        run.status = RunCfgUtil(argv.argc(), argv.argv(), sim::Walks(), waitMs);
        run.milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        run.out = capture.out();
        run.err = capture.err();
        return run;
    }

    TempDir dir;
    std::filesystem::path saved;
};

// Usage errors, which take no lock, are run beside a holder end to end.
TEST_F(RunLockTest, WhileAnotherRunHoldsTheLockNoModeReachesAMonitor) {
    FileLock other;
    ASSERT_EQ(other.lock("marvanecfgutil-sim.lock", 0), FileLockStatus::Locked);

    for (const auto& mode : std::vector<std::vector<std::string>>{{"-L"},
                                                                  {"-o", dir.file("now.ini")},
                                                                  {"-i", dir.file("now.ini")},
                                                                  {"-g", dir.file("now.ini")},
                                                                  {"-v", "-L"}}) {
        SCOPED_TRACE(::testing::PrintToString(mode));
        sim::SimBus::instance().transcript.clear();
        const Run run = Driver(mode, 200);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "Error: Another run of this program is using the monitors.\n");
        EXPECT_EQ(run.err, "");
        EXPECT_GE(run.milliseconds, 200);
        const auto& lines = sim::SimBus::instance().transcript;
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find(" OUT ") != std::string::npos;
        }));
    }
    EXPECT_FALSE(FileExists(dir.file("now.ini")));

    other.unlock();
    const Run list = Driver({"-L"}, 200);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind("Device: 0f66:302c  serial/id=41-A0001\n", 0), 0u) << list.out;
    // Held by this run now, until it ends.
    EXPECT_EQ(other.lock("marvanecfgutil-sim.lock", 0), FileLockStatus::Busy);
    ReleaseRunLock();
    EXPECT_EQ(other.lock("marvanecfgutil-sim.lock", 0), FileLockStatus::Locked);
}

}  // namespace
