// The system calls the hidraw backend makes, behind one replaceable table, so that unit tests
// can produce interrupted waits, empty wake-ups, short reads and vanished devices without a
// kernel.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstdint>

namespace hidraw {

struct SystemCalls {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
    int (*eventfd)(unsigned int initial, int flags);
    int64_t (*monotonicMs)();  // CLOCK_MONOTONIC
};

// The table in use: the real calls unless a test replaced them.
const SystemCalls& Sys();
const SystemCalls& RealSystemCalls();
// Installs a table (a test's fakes) and returns the one it replaced.
SystemCalls SetSystemCalls(const SystemCalls& calls);

}  // namespace hidraw
