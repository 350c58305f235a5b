#pragma once
// File times as the server speaks of them: 100-nanosecond ticks since
// 1601-01-01 UTC, split in two 32-bit halves, and the broken-down calendar
// record that converts to and from them. Pure arithmetic, no OS calls.

#include <cstdint>

struct FILETIME {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};

struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;      // 1..12
    uint16_t wDayOfWeek = 0;  // 0 = Sunday
    uint16_t wDay = 0;        // 1..31
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

namespace platform {

// The 64-bit tick count of a file time.
uint64_t FileTimeTicks(const FILETIME& t);
FILETIME FileTimeFromTicks(uint64_t ticks);

// Seconds (and nanoseconds) since 1970-01-01 UTC to a file time. Times before
// 1601 clamp to 0.
FILETIME FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds = 0);
// Whole seconds since 1970 of a file time (rounded down).
int64_t UnixFromFileTime(const FILETIME& t);

// Calendar conversion in UTC. FileTimeToSystemTime fails (false) for times
// past the year 30827; SystemTimeToFileTime fails for fields out of range
// (month, day, hour, minute, second, milliseconds) or years before 1601.
bool FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);
bool SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);

}  // namespace platform
