// Holds a run lock the way another run of the program would, while it starts a program:
//   lock_holder file|mutex <name> <holdMs> <program> [arguments...]   (mutex: Windows only)
// Ends with 3 when it cannot take the lock or start the program. Otherwise it lets go of the
// lock after holdMs (or when the program ends, if sooner) and ends with the program's exit
// status. Its last line on standard error is "lock_holder: program ended after <n> ms",
// counted from just before the start: a program that waited for the lock shows n >= holdMs.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/FileLock.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

int main(int argc, char* argv[]) {
    const auto fail = [](const char* what) {
        std::fprintf(stderr, "lock_holder: %s\n", what);
        return 3;
    };
    if (argc < 5) {
        return fail("usage: lock_holder file|mutex <name> <holdMs> <program> [arguments...]");
    }
    const std::string kind = argv[1];
    const int holdMs = static_cast<int>(std::strtoul(argv[3], nullptr, 10));
    FileLock file;
    bool locked = kind == "file" && file.lock(argv[2], 0) == FileLockStatus::Locked;
#ifdef _WIN32
    const HANDLE mutex =
        kind == "mutex" ? CreateMutexW(nullptr, FALSE, Widen(argv[2]).c_str()) : nullptr;
    locked = locked || (mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0);
#endif
    if (!locked) {
        return fail("cannot take the lock");
    }

    const auto start = std::chrono::steady_clock::now();
    int status = -1;
#ifdef _WIN32
    const intptr_t child = _spawnv(_P_NOWAIT, argv[4], argv + 4);
    if (child == -1) {
        return fail("cannot start the program");
    }
    WaitForSingleObject(reinterpret_cast<HANDLE>(child), static_cast<DWORD>(holdMs));
    file.unlock();
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    _cwait(&status, child, 0);
#else
    pid_t child = 0;
    if (posix_spawn(&child, argv[4], nullptr, nullptr, argv + 4, environ) != 0) {
        return fail("cannot start the program");
    }
    // Woken early when the program ends first.
    pollfd ends{static_cast<int>(syscall(SYS_pidfd_open, child, 0)), POLLIN, 0};
    poll(&ends, ends.fd >= 0 ? 1 : 0, holdMs);
    file.unlock();
    int code = 0;
    status = waitpid(child, &code, 0) == child && WIFEXITED(code) ? WEXITSTATUS(code) : -1;
#endif
    std::fflush(stdout);
    std::fprintf(stderr, "lock_holder: program ended after %lld ms\n",
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count()));
    return status;
}
