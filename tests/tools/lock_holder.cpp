// Holds a run lock the way another run of the program would, while it starts a program:
//   lock_holder file <path> <holdMs> <program> [arguments...]
//   lock_holder mutex <name> <holdMs> <program> [arguments...]     (Windows only)
// Takes the lock (or ends with 3), starts the program with its own standard handles, lets
// go of the lock after holdMs (or when the program ends, if sooner) and ends with the
// program's exit status. Its last line on standard error is "lock_holder: program ended
// after <n> ms", counted from just before the start: a program that waited for the lock
// shows n >= holdMs, one that did not wait shows less.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/FileLock.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace {

using Clock = std::chrono::steady_clock;

int Fail(const char* what) {
    std::fprintf(stderr, "lock_holder: %s\n", what);
    return 3;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) {
        return Fail("usage: lock_holder file|mutex <name> <holdMs> <program> [arguments...]");
    }
    const std::string kind = argv[1];
    const std::string name = argv[2];
    const auto hold = std::chrono::milliseconds(std::strtoul(argv[3], nullptr, 10));

    FileLock file;
#ifdef _WIN32
    HANDLE mutex = nullptr;
#endif
    if (kind == "file") {
        if (file.lock(name, 0) != FileLockStatus::Locked) {
            return Fail("cannot lock the file");
        }
#ifdef _WIN32
    } else if (kind == "mutex") {
        mutex = CreateMutexW(nullptr, FALSE, Widen(name).c_str());
        if (mutex == nullptr || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) {
            return Fail("cannot take the mutex");
        }
#endif
    } else {
        return Fail("unknown lock kind");
    }

    const Clock::time_point start = Clock::now();
    int status = -1;
#ifdef _WIN32
    const intptr_t child = _spawnv(_P_NOWAIT, argv[4], argv + 4);
    if (child == -1) {
        return Fail("cannot start the program");
    }
#else
    pid_t child = 0;
    if (posix_spawn(&child, argv[4], nullptr, nullptr, argv + 4, environ) != 0) {
        return Fail("cannot start the program");
    }
#endif

    // The program is waited for on its own thread, so that its end is seen when it comes,
    // whether or not the lock is still held; the lock is let go after holdMs or then.
    std::atomic<bool> ended{false};
    Clock::time_point endTime{};
    std::thread waiter([&] {
#ifdef _WIN32
        int code = 0;
        if (_cwait(&code, child, 0) != -1) {
            status = code;
        }
#else
        int code = 0;
        if (waitpid(child, &code, 0) == child && WIFEXITED(code)) {
            status = WEXITSTATUS(code);
        }
#endif
        endTime = Clock::now();
        ended = true;
    });
    while (!ended && Clock::now() - start < hold) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    file.unlock();
#ifdef _WIN32
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
#endif
    waiter.join();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(endTime - start);
    std::fflush(stdout);
    std::fprintf(stderr, "lock_holder: program ended after %lld ms\n",
                 static_cast<long long>(elapsed.count()));
    return status;
}
