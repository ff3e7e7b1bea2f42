#include "hid/linux/HidrawSys.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "hid/linux/HidrawNode.h"

namespace hidraw {
namespace {

int RealOpen(const char* path, int flags) {
    return ::open(path, flags);
}

int RealIoctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

int RealEventfd(unsigned int initial, int flags) {
    return ::eventfd(initial, flags);
}

int64_t RealMonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const SystemCalls kReal{RealOpen,  ::close, ::read,      ::write,
                        RealIoctl, ::poll,  RealEventfd, RealMonotonicMs};

SystemCalls g_calls = kReal;

}  // namespace

const SystemCalls& Sys() {
    return g_calls;
}

const SystemCalls& RealSystemCalls() {
    return kReal;
}

SystemCalls SetSystemCalls(const SystemCalls& calls) {
    const SystemCalls previous = g_calls;
    g_calls = calls;
    return previous;
}

void UniqueFd::reset(int replacement) {
    if (fd >= 0) {
        Sys().close(fd);
    }
    fd = replacement;
}

}  // namespace hidraw
