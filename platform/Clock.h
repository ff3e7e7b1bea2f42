// Wall-clock time, local time and process/thread ids.
#pragma once

#include <cstdint>
#include <ctime>

struct WallClockTime {
    int64_t seconds = 0;        // since 1970-01-01 UTC
    uint16_t milliseconds = 0;
    int16_t timezoneMinutes = 0;  // carried, not used
    int16_t daylightSaving = 0;   // carried, not used
};

WallClockTime CurrentWallClockTime();
std::tm ToLocalTime(int64_t seconds);
uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
