// One run at a time: the file lock the run locks are made of, and the driver with the
// simulator's lock, which sits beside the state file in the current directory.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Driver.h"
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

// Waiting for a holder shows end to end, with two processes and with flock(1).
TEST(FileLockTest, OnlyARegularFileOfOurOwnIsLocked) {
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

// The driver on the simulated monitors, in a scratch directory holding the simulator's lock.
TEST(RunLockTest, WhileAnotherRunHoldsTheLockNoModeReachesAMonitor) {
    TempDir dir;
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    sim::SimBus& bus = sim::SimBus::instance();
    bus.loadMonitors(sim::DefaultMonitors());
    const auto run = [](std::vector<std::string> args, std::string& out) {
        VerboseFlag() = 0;  // each call is a fresh run
        Argv argv(std::move(args));
        CaptureOutput capture;
        const int status = RunCfgUtil(argv.argc(), argv.argv(), sim::Walks(), 200);
        out = capture.out();
        EXPECT_EQ(capture.err(), "");
        return status;
    };
    FileLock other;
    ASSERT_EQ(other.lock("marvanecfgutil-sim.lock", 0), FileLockStatus::Locked);
    const std::string ini = dir.file("now.ini");
    for (const auto& mode : std::vector<std::vector<std::string>>{
             {"-L"}, {"-o", ini}, {"-i", ini}, {"-g", ini}, {"-v", "-L"}}) {
        SCOPED_TRACE(::testing::PrintToString(mode));
        bus.transcript.clear();
        std::string out;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run(mode, out), 1);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
        EXPECT_EQ(out, "Error: Another run of this program is using the monitors.\n");
        for (const std::string& line : bus.transcript) {
            EXPECT_EQ(line.find(" OUT "), std::string::npos) << line;
        }
    }
    EXPECT_FALSE(FileExists(ini));

    other.unlock();
    std::string out;
    EXPECT_EQ(run({"-L"}, out), 0);
    EXPECT_EQ(out.rfind("Device: 0f66:302c  serial/id=41-A0001\n", 0), 0u) << out;
    // Held by this run now, until it ends.
    EXPECT_EQ(other.lock("marvanecfgutil-sim.lock", 0), FileLockStatus::Busy);
    ReleaseRunLock();
    EXPECT_EQ(other.lock("marvanecfgutil-sim.lock", 0), FileLockStatus::Locked);
    other.unlock();
    std::filesystem::current_path(saved);
    CloseLogHandler();
    GetLogSettings() = CLogSettings{};
}

}  // namespace
