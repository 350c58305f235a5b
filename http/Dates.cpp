#include "http/Dates.h"

#include <algorithm>
#include <cstdio>

#include "http/LetterCase.h"

const char* const sDayOfWeek[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const sMonth[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// Cuts the next token the way the C library's strtok does: leading
// delimiters are skipped, the token runs to the next delimiter, which is
// consumed. Empty when nothing is left.
std::string_view NextToken(std::string_view* rest, std::string_view delimiters) {
    const size_t start = rest->find_first_not_of(delimiters);
    if (start == std::string_view::npos) {
        *rest = {};
        return {};
    }
    const size_t end = rest->find_first_of(delimiters, start);
    std::string_view token = rest->substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    *rest = end == std::string_view::npos ? std::string_view{} : rest->substr(end + 1);
    return token;
}

int LeadingNumber(std::string_view token) {
    int value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 100000) break;
    }
    return value;
}

}  // namespace

int FileTimeToHTTPTime(const FILETIME* t, std::string* out) {
    if (!t || !out) return 0;
    // Every document answer carries its date: the last one made on this
    // thread is kept, whole seconds being all the text shows.
    thread_local uint64_t cachedSecond = ~0ULL;
    thread_local std::string cachedText;
    const uint64_t second = platform::FileTimeTicks(*t) / 10'000'000;
    if (second == cachedSecond) {
        *out = cachedText;
        return 1;
    }
    SYSTEMTIME st;
    if (!platform::FileTimeToSystemTime(t, &st)) return 0;
    if (st.wDayOfWeek > 6 || st.wMonth < 1 || st.wMonth > 12) return 0;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d GMT", sDayOfWeek[st.wDayOfWeek], st.wDay,
                  sMonth[st.wMonth - 1], st.wYear, st.wHour, st.wMinute, st.wSecond);
    *out = text;
    cachedSecond = second;
    cachedText = text;
    return 1;
}

int HTTPTimeToFileTime(const std::string* text, FILETIME* t) {
    if (!text || !t) return 0;
    std::string_view rest(text->data(), std::min<size_t>(text->size(), 255));
    rest = rest.substr(0, rest.find('\0'));

    if (NextToken(&rest, " ").empty()) return 0;  // the weekday
    const std::string_view day = NextToken(&rest, " -");
    if (day.empty()) return 0;
    const std::string_view month = NextToken(&rest, " -");
    if (month.empty()) return 0;
    int monthIndex = -1;
    for (int i = 0; i < 12; ++i)
        if (EqualNoCase(month, sMonth[i])) {
            monthIndex = i;
            break;
        }
    if (monthIndex < 0) return 0;
    const std::string_view year = NextToken(&rest, " ");
    if (year.empty()) return 0;
    const std::string_view hour = NextToken(&rest, ":");
    if (hour.empty()) return 0;
    const std::string_view minute = NextToken(&rest, ":");
    if (minute.empty()) return 0;
    const std::string_view second = NextToken(&rest, " ");
    if (second.empty()) return 0;

    SYSTEMTIME st;
    int y = LeadingNumber(year);
    if (y < 100) y += 1900;
    st.wYear = static_cast<uint16_t>(y > 65535 ? 0 : y);
    st.wMonth = static_cast<uint16_t>(monthIndex + 1);
    st.wDay = static_cast<uint16_t>(LeadingNumber(day) > 65535 ? 0 : LeadingNumber(day));
    st.wHour = static_cast<uint16_t>(std::min(LeadingNumber(hour), 65535));
    st.wMinute = static_cast<uint16_t>(std::min(LeadingNumber(minute), 65535));
    st.wSecond = static_cast<uint16_t>(std::min(LeadingNumber(second), 65535));
    st.wMilliseconds = 0;
    return platform::SystemTimeToFileTime(&st, t) ? 1 : 0;
}

std::string ht_time(long t, const char* format, int gmt) {
    std::tm parts{};
    if (!platform::BreakDownTime(t, gmt != 0, &parts)) return {};
    return platform::FormatTime(format, parts, 255);
}

const std::string& gm_timestr_822(long t) {
    // The Date header of every response: built once per second per thread.
    thread_local long cachedSecond = -1;
    thread_local std::string cachedText;
    if (t != cachedSecond) {
        cachedText = ht_time(t, "%a, %d %b %Y %H:%M:%S GMT", 1);
        cachedSecond = t;
    }
    return cachedText;
}

std::string LogTime(int64_t unixTime, const platform::TimeZoneInfo& zone) {
    std::tm parts{};
    if (!platform::BreakDownTime(unixTime, false, &parts)) return {};
    std::string text = platform::FormatTime("%d/%b/%Y:%H:%M:%S", parts, 255);
    long bias = zone.Bias + zone.StandardBias;
    if (zone.DaylightInEffect) bias += zone.DaylightBias;
    const long h = bias % 60 + (bias / 60) * 100;
    char suffix[32];
    if (h > 0) std::snprintf(suffix, sizeof suffix, " -%04ld", h);
    else std::snprintf(suffix, sizeof suffix, " +%04ld", -h);
    return text + suffix;
}

const std::string& LogTime() {
    // Every log line asks for this; the zone lookup is costly, so the stamp
    // is kept per thread for the current second.
    thread_local int64_t cachedSecond = -1;
    thread_local std::string cachedText;
    const int64_t now = platform::UnixTimeNow();
    if (now != cachedSecond) {
        cachedText = LogTime(now, platform::GetTimeZoneInfo());
        cachedSecond = now;
    }
    return cachedText;
}
