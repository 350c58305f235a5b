#pragma once
// HTTP dates, log time stamps and strftime-style times. None keeps state
// between calls apart from per-thread caches of the current second's
// stamps, so all are safe from any thread.

#include <cstdint>
#include <string>

#include "platform/Clock.h"
#include "platform/FileTime.h"

extern const char* const sDayOfWeek[7];  // "Sun" .. "Sat"
extern const char* const sMonth[12];     // "Jan" .. "Dec"

// "Sun, 06 Nov 1994 08:49:37 GMT". 0 (and *out untouched) on a null pointer
// or a time that does not convert.
int FileTimeToHTTPTime(const FILETIME* t, std::string* out);
// Parses the RFC 1123 and RFC 850 forms (not asctime); non-zero on success,
// *t untouched on failure.
int HTTPTimeToFileTime(const std::string* text, FILETIME* t);
// t broken down as UTC (gmt non-zero) or local time, formatted by strftime,
// at most 255 characters.
std::string ht_time(long t, const char* format, int gmt);
// The Date header form of t: "Sun, 06 Nov 1994 08:49:37 GMT" (the calling
// thread's copy, good until its next call).
const std::string& gm_timestr_822(long t);
// The access-log stamp of the current local time: "06/Dec/1996:13:05:09 -0500"
// (the calling thread's copy, good until its next call).
const std::string& LogTime();
// The same for a given time and zone (the pure part, for tests).
std::string LogTime(int64_t unixTime, const platform::TimeZoneInfo& zone);
