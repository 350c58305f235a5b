#include "platform/Clock.h"

#include "platform/FileTime.h"

#include <locale.h>
#include <sched.h>
#include <time.h>

#include <chrono>
#include <thread>

namespace platform {

uint32_t MillisecondClock() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

int64_t UnixTimeNow() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

bool BreakDownTime(int64_t seconds, bool utc, std::tm* out) {
    if (!out) return false;
    const time_t t = static_cast<time_t>(seconds);
    return (utc ? ::gmtime_r(&t, out) : ::localtime_r(&t, out)) != nullptr;
}

std::string FormatTime(const char* format, const std::tm& time, size_t maxLength) {
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (!format || !*format) return {};
    std::string buffer(maxLength + 1, '\0');
    const size_t n = ::strftime_l(buffer.data(), buffer.size(), format, &time, cLocale);
    buffer.resize(n);
    return buffer;
}

TimeZoneInfo GetTimeZoneInfo() {
    TimeZoneInfo info;
    const time_t now = ::time(nullptr);
    std::tm current{};
    if (!::localtime_r(&now, &current)) return info;
    // The standard offset is the one of the half of the year without
    // daylight time; look at January and July of this year. Only local
    // breakdowns are used: mktime would re-read the zone and rewrite the C
    // library's zone state while other threads read it.
    long standardOffset = current.tm_gmtoff;
    long daylightOffset = current.tm_gmtoff;
    for (uint16_t month : {1, 7}) {
        SYSTEMTIME probe;
        probe.wYear = static_cast<uint16_t>(current.tm_year + 1900);
        probe.wMonth = month;
        probe.wDay = 1;
        probe.wHour = 12;
        FILETIME ft;
        if (!SystemTimeToFileTime(&probe, &ft)) continue;
        const time_t t = static_cast<time_t>(UnixFromFileTime(ft));
        std::tm back{};
        if (!::localtime_r(&t, &back)) continue;
        if (back.tm_isdst > 0) daylightOffset = back.tm_gmtoff;
        else standardOffset = back.tm_gmtoff;
    }
    if (current.tm_isdst > 0) daylightOffset = current.tm_gmtoff;
    else standardOffset = current.tm_gmtoff;
    info.Bias = -standardOffset / 60;
    info.StandardBias = 0;
    info.DaylightBias = -(daylightOffset - standardOffset) / 60;
    info.DaylightInEffect = current.tm_isdst > 0;
    return info;
}

void ReloadTimeZone() { ::tzset(); }

void SleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void YieldProcessor() { ::sched_yield(); }

}  // namespace platform
