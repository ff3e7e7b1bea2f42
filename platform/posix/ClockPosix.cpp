#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

#include "platform/Clock.h"

WallClockTime CurrentWallClockTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    WallClockTime time;
    time.seconds = now.tv_sec;
    time.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    const std::tm local = ToLocalTime(time.seconds);
    time.timezoneMinutes = static_cast<int16_t>(-local.tm_gmtoff / 60);
    time.daylightSaving = static_cast<int16_t>(local.tm_isdst > 0 ? 1 : 0);
    return time;
}

std::tm ToLocalTime(int64_t seconds) {
    const time_t value = static_cast<time_t>(seconds);
    std::tm local{};
    localtime_r(&value, &local);
    return local;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
