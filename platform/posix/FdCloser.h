// A descriptor closed when the scope ends, for the POSIX file code (the hidraw channel has
// its own, which closes through its system-call table).
#pragma once

#include <unistd.h>

struct FdCloser {
    int fd = -1;
    FdCloser() = default;
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    ~FdCloser() {
        if (fd >= 0) {
            close(fd);
        }
    }
};
