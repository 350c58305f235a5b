#pragma once
// Text, time and file helpers shared by the whole server. None keeps state
// between calls (apart from per-thread caches of the current second's time
// stamps), and all are safe to call from many worker threads at once.
// Paths are server paths (drive letters and backslashes; see platform/Paths.h).

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/FileTime.h"

extern const char* const sDayOfWeek[7];  // "Sun" .. "Sat"
extern const char* const sMonth[12];     // "Jan" .. "Dec"
// Base64 alphabet values by character code; '=' is 0, anything else 65.
extern const signed char Base256Table[256];

// --- Letter case ------------------------------------------------------------
// The server compares paths, header values, content types, SSI words and
// user names without regard to ASCII letter case, from the first request on.
// Method words and passwords are the exceptions and compare exactly.
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
bool ContainsNoCase(std::string_view text, std::string_view part);
std::string ToLower(std::string_view text);
// Exact equality of a secret and a guess, in a time that depends on their
// lengths only, never on where the first difference lies.
bool EqualSecret(std::string_view secret, std::string_view guess);

// --- File tests ---------------------------------------------------------------
int Exists(const std::string& path);        // a file or directory is there
int IsFile(const std::string& path);        // exists and is not a directory
int IsDirectory(const std::string& path);   // exists and is a directory
uint32_t FileSize(const std::string& path); // low 32 bits of the size; 0 when unreadable

// --- Path text ----------------------------------------------------------------
std::string SlashesForward(std::string s);
std::string SlashesBack(std::string s);
// Splits a script request into the script file and its trailing path
// information. On entry *path is the file-system path a script URL maps to
// and *script the URL path; both may carry extra segments after the script.
// When a leading part of *path names a file, *path and *script are cut to it
// and the rest of the URL, from its slash on, goes to *pathInfo. *path is
// always turned to backslashes.
void FindPathInfo(std::string* path, std::string* script, std::string* pathInfo);

// --- Escapes and encodings ------------------------------------------------------
// The character given by two hexadecimal digits (not validated).
char x2c(const char* two);
// Decodes %-escapes in place. A percent sign followed by fewer than two
// characters is copied as it stands. Plus signs are left alone; a decoded
// NUL byte stays in the text.
void unescape_url(std::string& url);
// unescape_url of at most the first 8191 characters of s.
std::string DecodeEscape(const std::string& s);
// Escapes the five characters % blank ? + & as %25 %20 %3f %2b %26.
std::string EncodeEscape(const std::string& s);
// A path made safe to put in a link or a Location: every byte other than
// letters, digits, - . _ ~ / and the sub-delimiters ! $ ' ( ) * , ; = becomes
// %XX (upper-case hex), so that #, ?, %, blanks, & and +, colons and
// non-ASCII bytes all reach the server as they are named.
std::string EncodePath(std::string_view path);
std::string PlusToSpace(std::string s);
// Removes and returns the text of *s before its first delimiter (the
// delimiter is removed too); with no delimiter, all of *s, leaving it empty.
std::string StringToken(std::string* s, std::string_view delimiters);
// Base64 decoding in groups of four; a short last group is read as if padded
// with '='. Characters outside the alphabet are not rejected.
std::string DecodeBase64(const std::string& s);
// Escapes & < > " for HTML text.
std::string HTMLEscape(std::string_view text);

// --- Times -------------------------------------------------------------------
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
// A new, empty, uniquely named temporary file; its full name, or empty.
std::string MakeTempFile();
