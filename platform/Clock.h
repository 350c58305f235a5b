#pragma once
// Clocks, calendar breakdown and time-zone information. Everything here is
// safe to call from many threads at once and never depends on the process
// locale: month and day names are always the English ones.

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// A millisecond clock that only moves forward (wraps after 49.7 days, like
// the system clock the server was designed against; compare differences).
uint32_t MillisecondClock();

// Seconds since 1970-01-01 UTC.
int64_t UnixTimeNow();

// Breaks a time down as UTC (utc true) or as local time. False when the
// time cannot be represented.
bool BreakDownTime(int64_t seconds, bool utc, std::tm* out);

// strftime in the "C" locale, at most maxLength characters; an empty result
// when the text would be longer.
std::string FormatTime(const char* format, const std::tm& time, size_t maxLength = 255);

// The zone the way the server reasons about it (minutes; UTC = local time +
// bias): Bias is the standard-time bias, StandardBias 0, DaylightBias the
// extra bias while daylight time is in effect (usually -60).
struct TimeZoneInfo {
    long Bias = 0;
    long StandardBias = 0;
    long DaylightBias = 0;
    bool DaylightInEffect = false;
};
TimeZoneInfo GetTimeZoneInfo();

// Re-reads the TZ variable. Call it while no other thread reads the time
// zone: at start-up (the server does, before its threads start) and in
// tests that switch zones.
void ReloadTimeZone();

void SleepMilliseconds(unsigned milliseconds);
void YieldProcessor();

}  // namespace platform
