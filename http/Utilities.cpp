#include "http/Utilities.h"

#include <algorithm>
#include <cstdio>

#include "platform/FileSystem.h"

const char* const sDayOfWeek[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const sMonth[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

constexpr signed char Base64Value(unsigned c) {
    if (c >= 'A' && c <= 'Z') return static_cast<signed char>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<signed char>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<signed char>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 0;
    return 65;
}

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

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

const signed char Base256Table[256] = {
#define VV_B64_ROW(base)                                                                                   \
    Base64Value(base + 0), Base64Value(base + 1), Base64Value(base + 2), Base64Value(base + 3),            \
        Base64Value(base + 4), Base64Value(base + 5), Base64Value(base + 6), Base64Value(base + 7),        \
        Base64Value(base + 8), Base64Value(base + 9), Base64Value(base + 10), Base64Value(base + 11),      \
        Base64Value(base + 12), Base64Value(base + 13), Base64Value(base + 14), Base64Value(base + 15)
    VV_B64_ROW(0),   VV_B64_ROW(16),  VV_B64_ROW(32),  VV_B64_ROW(48),  VV_B64_ROW(64),  VV_B64_ROW(80),
    VV_B64_ROW(96),  VV_B64_ROW(112), VV_B64_ROW(128), VV_B64_ROW(144), VV_B64_ROW(160), VV_B64_ROW(176),
    VV_B64_ROW(192), VV_B64_ROW(208), VV_B64_ROW(224), VV_B64_ROW(240),
#undef VV_B64_ROW
};

// --- Letter case ------------------------------------------------------------

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        // Most bytes are equal as they stand; only letters may differ in case.
        if (a[i] == b[i]) continue;
        const char lower = static_cast<char>(a[i] | 0x20);
        if (lower != (b[i] | 0x20) || lower < 'a' || lower > 'z') return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    for (size_t i = 0; i + part.size() <= text.size(); ++i)
        if (EqualNoCase(text.substr(i, part.size()), part)) return true;
    return false;
}

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

bool EqualSecret(std::string_view secret, std::string_view guess) {
    // Every byte of the longer text is visited and the differences are only
    // gathered, so the loop never ends early.
    unsigned difference = secret.size() == guess.size() ? 0u : 1u;
    const size_t length = std::max(secret.size(), guess.size());
    for (size_t i = 0; i < length; ++i) {
        const unsigned char a = i < secret.size() ? static_cast<unsigned char>(secret[i]) : 0;
        const unsigned char b = i < guess.size() ? static_cast<unsigned char>(guess[i]) : 0;
        difference |= a ^ b;
    }
    return difference == 0;
}

// --- File tests ---------------------------------------------------------------

int Exists(const std::string& path) { return platform::GetFileInfo(path, nullptr) ? 1 : 0; }

int IsFile(const std::string& path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, &info) && !info.directory ? 1 : 0;
}

int IsDirectory(const std::string& path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, &info) && info.directory ? 1 : 0;
}

uint32_t FileSize(const std::string& path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, &info) ? static_cast<uint32_t>(info.size) : 0;
}

// --- Path text ----------------------------------------------------------------

std::string SlashesForward(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string SlashesBack(std::string s) {
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

void FindPathInfo(std::string* path, std::string* script, std::string* pathInfo) {
    *path = SlashesBack(*path);
    if (IsFile(*path)) return;
    size_t a = path->rfind('\\');
    size_t b = script->rfind('/');
    for (;;) {
        if (a == std::string::npos || b == std::string::npos || a == 0 || b == 0) return;
        if (IsFile(path->substr(0, a))) break;
        a = path->rfind('\\', a - 1);
        b = script->rfind('/', b - 1);
    }
    path->resize(a);
    *pathInfo = script->substr(b);
    script->resize(b);
}

// --- Escapes and encodings ------------------------------------------------------

char x2c(const char* two) {
    int digit[2];
    for (int i = 0; i < 2; ++i) {
        const int c = static_cast<unsigned char>(two[i]);
        digit[i] = c > 64 ? (c & 0xdf) - 'A' + 10 : c - '0';
    }
    return static_cast<char>(digit[0] * 16 + digit[1]);
}

void unescape_url(std::string& url) {
    size_t out = 0;
    for (size_t in = 0; in < url.size(); ++in, ++out) {
        if (url[in] == '%' && in + 2 < url.size()) {
            url[out] = x2c(&url[in + 1]);
            in += 2;
        } else {
            url[out] = url[in];
        }
    }
    url.resize(out);
}

std::string DecodeEscape(const std::string& s) {
    std::string work = s.substr(0, 8191);
    unescape_url(work);
    return work;
}

std::string EncodeEscape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '%' || c == ' ' || c == '?' || c == '+' || c == '&') {
            char code[4];
            std::snprintf(code, sizeof code, "%%%2x", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string EncodePath(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto keep = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("-._~/!$'()*,;=").find(static_cast<char>(c)) != std::string_view::npos;
    };
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (keep(u)) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string PlusToSpace(std::string s) {
    for (char& c : s)
        if (c == '+') c = ' ';
    return s;
}

std::string StringToken(std::string* s, std::string_view delimiters) {
    const size_t at = s->find_first_of(delimiters);
    if (at == std::string::npos) {
        std::string token = std::move(*s);
        s->clear();
        return token;
    }
    std::string token = s->substr(0, at);
    s->erase(0, at + 1);
    return token;
}

std::string DecodeBase64(const std::string& s) {
    std::string out;
    out.reserve(s.size() / 4 * 3 + 3);
    for (size_t i = 0; i < s.size(); i += 4) {
        unsigned char c[4];
        for (size_t k = 0; k < 4; ++k) c[k] = i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : '=';
        const uint32_t v = static_cast<uint32_t>(Base256Table[c[0]]) * (1u << 18) +
                           static_cast<uint32_t>(Base256Table[c[1]]) * (1u << 12) +
                           static_cast<uint32_t>(Base256Table[c[2]]) * (1u << 6) +
                           static_cast<uint32_t>(Base256Table[c[3]]);
        const int n = c[2] == '=' ? 1 : c[3] == '=' ? 2 : 3;
        const char bytes[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        out.append(bytes, static_cast<size_t>(n));
    }
    return out;
}

std::string HTMLEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// --- Times -------------------------------------------------------------------

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

std::string MakeTempFile() { return platform::CreateTempFile(); }
