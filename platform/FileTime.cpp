#include "platform/FileTime.h"

namespace platform {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// Days since 1970-01-01 of a proleptic Gregorian date, and back
// (H. Hinnant's civil calendar algorithms).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int64_t y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

uint64_t FileTimeTicks(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME FileTimeFromTicks(uint64_t ticks) {
    FILETIME t;
    t.dwLowDateTime = static_cast<uint32_t>(ticks);
    t.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
    return t;
}

FILETIME FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    const int64_t since1601 = seconds + kSecondsFrom1601To1970;
    if (since1601 < 0) return FileTimeFromTicks(0);
    return FileTimeFromTicks(static_cast<uint64_t>(since1601) * kTicksPerSecond + nanoseconds / 100);
}

int64_t UnixFromFileTime(const FILETIME& t) {
    return static_cast<int64_t>(FileTimeTicks(t) / kTicksPerSecond) - kSecondsFrom1601To1970;
}

bool FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out) {
    if (!in || !out) return false;
    const uint64_t ticks = FileTimeTicks(*in);
    if (ticks >= 0x8000000000000000ULL) return false;
    const int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
    const uint64_t subTicks = ticks % kTicksPerSecond;
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    if (y > 30827) return false;
    out->wYear = static_cast<uint16_t>(y);
    out->wMonth = static_cast<uint16_t>(m);
    out->wDay = static_cast<uint16_t>(d);
    // 1970-01-01 was a Thursday.
    out->wDayOfWeek = static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);
    out->wHour = static_cast<uint16_t>(rest / 3600);
    out->wMinute = static_cast<uint16_t>(rest / 60 % 60);
    out->wSecond = static_cast<uint16_t>(rest % 60);
    out->wMilliseconds = static_cast<uint16_t>(subTicks / 10000);
    return true;
}

bool SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out) {
    if (!in || !out) return false;
    if (in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 ||
        in->wDay > DaysInMonth(in->wYear, in->wMonth) || in->wHour > 23 || in->wMinute > 59 ||
        in->wSecond > 59 || in->wMilliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(in->wYear, in->wMonth, in->wDay);
    const int64_t seconds = days * 86400 + in->wHour * 3600 + in->wMinute * 60 + in->wSecond;
    *out = FileTimeFromTicks(static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond +
                             static_cast<uint64_t>(in->wMilliseconds) * 10000);
    return true;
}

}  // namespace platform
