#include <windows.h>

#include <ctime>

#include "platform/Clock.h"

WallClockTime CurrentWallClockTime() {
    FILETIME fileTime{};
    GetSystemTimeAsFileTime(&fileTime);
    // 100-ns intervals since 1601-01-01 to milliseconds since 1970-01-01.
    const uint64_t ticks = (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    const uint64_t unixMs = ticks / 10000 - 11644473600000ULL;
    WallClockTime time;
    time.seconds = static_cast<int64_t>(unixMs / 1000);
    time.milliseconds = static_cast<uint16_t>(unixMs % 1000);
    TIME_ZONE_INFORMATION zone{};
    const DWORD zoneState = GetTimeZoneInformation(&zone);
    time.timezoneMinutes = static_cast<int16_t>(zone.Bias);
    time.daylightSaving = static_cast<int16_t>(zoneState == TIME_ZONE_ID_DAYLIGHT ? 1 : 0);
    return time;
}

std::tm ToLocalTime(int64_t seconds) {
    const __time64_t value = seconds;
    std::tm local{};
    _localtime64_s(&local, &value);
    return local;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
