// Table-driven tests of the text, time and file helpers.
#include "http/Base64.h"
#include "http/Dates.h"
#include "http/Escapes.h"
#include "http/FileTests.h"
#include "http/LetterCase.h"
#include "http/PathText.h"
#include "http/TextWidth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/FileTime.h"
#include "tests/support/TestHome.h"

using testing_support::TestHome;

namespace {

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

FILETIME At(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(day);
    st.wHour = static_cast<uint16_t>(hour);
    st.wMinute = static_cast<uint16_t>(minute);
    st.wSecond = static_cast<uint16_t>(second);
    FILETIME t;
    EXPECT_TRUE(platform::SystemTimeToFileTime(&st, &t));
    return t;
}

TEST(Escapes, UnescapeUrl) {
    const Case cases[] = {
        {"pair of escapes", "%41%42", "AB"},
        {"lower-case hex", "%4a", "J"},
        {"plus left alone", "a+b", "a+b"},
        {"blank in a path", "/a%20b", "/a b"},
        {"percent at the end", "abc%", "abc%"},
        {"percent and one character at the end", "abc%4", "abc%4"},
        {"escape right at the end", "x%41", "xA"},
        {"NUL stays in the text", std::string("a%00b"), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        std::string text = c.input;
        unescape_url(text);
        EXPECT_EQ(text, c.expected) << c.name;
    }
}

TEST(Escapes, DecodeEscapeCutsAtTheWorkBuffer) {
    const std::string longText(9000, 'a');
    EXPECT_EQ(DecodeEscape(longText).size(), 8191u);
    EXPECT_EQ(DecodeEscape("%7e"), "~");
}

TEST(Escapes, EncodeEscape) {
    const Case cases[] = {
        {"blank and question mark", "a b?c", "a%20b%3fc"},
        {"percent", "100%", "100%25"},
        {"plus and ampersand", "a+b&c", "a%2bb%26c"},
        {"other characters unchanged", "x/y.html~#", "x/y.html~#"},
    };
    for (const Case& c : cases) EXPECT_EQ(EncodeEscape(c.input), c.expected) << c.name;
}

TEST(Escapes, X2cFollowsTheLetterRule) {
    EXPECT_EQ(x2c("41"), 'A');
    EXPECT_EQ(x2c("fF"), '\xff');
    EXPECT_EQ(x2c("7e"), '~');
}

TEST(Escapes, PlusToSpaceAndHtmlEscape) {
    EXPECT_EQ(PlusToSpace("a+b+c"), "a b c");
    EXPECT_EQ(HTMLEscape("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
    EXPECT_EQ(HTMLEscape("plain text"), "plain text");
}

TEST(Text, StringToken) {
    std::string s = "user:pass:word";
    EXPECT_EQ(StringToken(&s, ":"), "user");
    EXPECT_EQ(s, "pass:word");
    s = "nodelimiter";
    EXPECT_EQ(StringToken(&s, ":"), "nodelimiter");
    EXPECT_EQ(s, "");
    s = ":leading";
    EXPECT_EQ(StringToken(&s, ":"), "");
    EXPECT_EQ(s, "leading");
    s = "a  b";
    EXPECT_EQ(StringToken(&s, " "), "a");
    EXPECT_EQ(s, " b") << "only one delimiter is removed";
}

TEST(Text, LetterCase) {
    EXPECT_TRUE(EqualNoCase("Keep-Alive", "keep-alive"));
    EXPECT_FALSE(EqualNoCase("Keep-Alive", "Keep-Alivex"));
    EXPECT_FALSE(EqualNoCase("Content-Length", "Content-Lengtx")) << "equal first word, a differing tail";
    EXPECT_FALSE(EqualNoCase("Content\rLength", "Content-Length")) << "bit 5 apart, but no letter";
    EXPECT_TRUE(EqualNoCase("TRANSFER-ENCODING", "transfer-encoding"));
    EXPECT_TRUE(StartsWithNoCase("/CGI-BIN/x", "/cgi-bin"));
    EXPECT_TRUE(EndsWithNoCase("INDEX.HTM", ".htm"));
    EXPECT_TRUE(ContainsNoCase("http://WWW.Example.com/page", "www.example.COM"));
    EXPECT_FALSE(ContainsNoCase("abc", "abcd"));
    EXPECT_EQ(ToLower("/Docs/A.HTML"), "/docs/a.html");
}

TEST(Text, SecretsCompareExactly) {
    const struct {
        const char* secret;
        std::string guess;
        bool equal;
    } cases[] = {
        {"s3cret", "s3cret", true}, {"s3cret", "S3CRET", false}, {"s3cret", "s3cre", false},
        {"s3cret", "s3crets", false}, {"", "", true}, {"", "x", false},
        {"s3cret", std::string("s3cret\0", 7), false}, {"\xff", "\x7f", false},
    };
    for (const auto& c : cases) EXPECT_EQ(EqualSecret(c.secret, c.guess), c.equal) << c.secret << " " << c.guess;
}

TEST(Base64, GroupEnds) {
    const Case cases[] = {
        {"two equals signs give one byte", "QQ==", "A"},
        {"one equals sign gives two bytes", "QUI=", "AB"},
        {"full group", "QUJD", "ABC"},
        {"user and password", "dXNlcjpwYXNz", "user:pass"},
        {"empty", "", ""},
        {"short last group read as padded", "QUJDQQ", "ABCA"},
        {"zero bytes stay", "AAAA", std::string("\0\0\0", 3)},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeBase64(c.input), c.expected) << c.name;
}

TEST(Base64, TableValues) {
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('A')], 0);
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('z')], 51);
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('9')], 61);
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('+')], 62);
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('/')], 63);
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('=')], 0);
    EXPECT_EQ(Base256Table[static_cast<unsigned char>('*')], 65);
    EXPECT_EQ(Base256Table[0xff], 65);
}

TEST(Paths, Slashes) {
    EXPECT_EQ(SlashesForward("C:\\a\\b"), "C:/a/b");
    EXPECT_EQ(SlashesBack("/x/y"), "\\x\\y");
}

TEST(Dates, FileTimeToHttpTime) {
    std::string out = "untouched";
    const FILETIME t = At(1994, 11, 6, 8, 49, 37);
    ASSERT_EQ(FileTimeToHTTPTime(&t, &out), 1);
    EXPECT_EQ(out, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FileTimeToHTTPTime(nullptr, &out), 0);
    EXPECT_EQ(FileTimeToHTTPTime(&t, nullptr), 0);
    FILETIME huge = platform::FileTimeFromTicks(0xffffffffffffffffULL);
    out = "untouched";
    EXPECT_EQ(FileTimeToHTTPTime(&huge, &out), 0);
    EXPECT_EQ(out, "untouched");
}

TEST(Dates, HttpTimeToFileTimeBothForms) {
    const FILETIME expected = At(1994, 11, 6, 8, 49, 37);
    const struct {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"RFC 1123", "Sun, 06 Nov 1994 08:49:37 GMT", true},
        {"RFC 850", "Sunday, 06-Nov-94 08:49:37 GMT", true},
        {"month in capitals", "Sun, 06 NOV 1994 08:49:37 GMT", true},
        {"no zone word", "Sun, 06 Nov 1994 08:49:37", true},
        {"asctime rejected", "Sun Nov  6 08:49:37 1994", false},
        {"unknown month", "Sun, 06 Foo 1994 08:49:37 GMT", false},
        {"cut short", "Sun, 06 Nov 1994", false},
        {"day out of range", "Sun, 32 Nov 1994 08:49:37 GMT", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        FILETIME t = platform::FileTimeFromTicks(42);
        EXPECT_EQ(HTTPTimeToFileTime(&c.text, &t) != 0, c.ok) << c.name;
        if (c.ok) EXPECT_EQ(platform::FileTimeTicks(t), platform::FileTimeTicks(expected)) << c.name;
        else EXPECT_EQ(platform::FileTimeTicks(t), 42u) << c.name << ": output left untouched";
    }
}

TEST(Dates, Rfc822DateHeader) {
    EXPECT_EQ(gm_timestr_822(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(gm_timestr_822(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(ht_time(784111777, "%H:%M", 1), "08:49");
}

class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        if (tz) oldTz_ = tz;
    }
    void TearDown() override {
        if (hadTz_) ::setenv("TZ", oldTz_.c_str(), 1);
        else ::unsetenv("TZ");
        platform::ReloadTimeZone();
    }
    void Use(const char* zone) {
        ::setenv("TZ", zone, 1);
        platform::ReloadTimeZone();
    }
    std::string oldTz_;
    bool hadTz_ = false;
};

TEST_F(ZoneTest, LogTimeZoneSuffix) {
    Use("UTC0");
    platform::TimeZoneInfo zone;
    EXPECT_EQ(LogTime(784111777, zone), "06/Nov/1994:08:49:37 +0000");
    zone.Bias = -60;
    EXPECT_EQ(LogTime(784111777, zone).substr(21), "+0100");
    zone.Bias = 300;
    EXPECT_EQ(LogTime(784111777, zone).substr(21), "-0500");
    zone.Bias = -330;
    EXPECT_EQ(LogTime(784111777, zone).substr(21), "+0530");
    zone.Bias = 0;
    zone.DaylightBias = -60;
    zone.DaylightInEffect = true;
    EXPECT_EQ(LogTime(784111777, zone).substr(21), "+0100");
}

TEST_F(ZoneTest, ZoneInformationFromTheSystem) {
    Use("CET-1CEST,M3.5.0,M10.5.0/3");
    const platform::TimeZoneInfo zone = platform::GetTimeZoneInfo();
    EXPECT_EQ(zone.Bias, -60);
    EXPECT_EQ(zone.DaylightBias, -60);
    const std::string stamp = LogTime();
    EXPECT_TRUE(stamp.ends_with(zone.DaylightInEffect ? " +0200" : " +0100")) << stamp;
    Use("EST5");
    EXPECT_EQ(platform::GetTimeZoneInfo().Bias, 300);
}

TEST(Files, TestsAndSizes) {
    TestHome home;
    TestHome::WriteFile(home.DriveC("web/a.txt"), "12345");
    EXPECT_TRUE(Exists("C:\\web\\a.txt"));
    EXPECT_TRUE(IsFile("C:\\web\\a.txt"));
    EXPECT_FALSE(IsDirectory("C:\\web\\a.txt"));
    EXPECT_TRUE(IsDirectory("C:\\web"));
    EXPECT_TRUE(IsDirectory("C:\\web\\"));
    EXPECT_FALSE(IsFile("C:\\web"));
    EXPECT_EQ(FileSize("C:\\web\\a.txt"), 5u);
    EXPECT_FALSE(Exists("C:\\web\\missing"));
    EXPECT_FALSE(IsFile("C:\\web\\missing"));
    EXPECT_EQ(FileSize("C:\\web\\missing"), 0u);
    EXPECT_FALSE(Exists(std::string("C:\\web\\a.txt\0x", 15))) << "a NUL byte never reaches the file system";
}

TEST(Files, FindPathInfo) {
    TestHome home;
    TestHome::WriteFile(home.DriveC("web/cgi-bin/prog.exe"), "#!");
    struct {
        const char* name;
        std::string path, script;
        std::string expectPath, expectScript, expectInfo;
    } cases[] = {
        {"extra segments split off", "C:\\web\\cgi-bin\\prog.exe\\a\\b", "/cgi-bin/prog.exe/a/b",
         "C:\\web\\cgi-bin\\prog.exe", "/cgi-bin/prog.exe", "/a/b"},
        {"the path is the file", "C:/web/cgi-bin/prog.exe", "/cgi-bin/prog.exe", "C:\\web\\cgi-bin\\prog.exe",
         "/cgi-bin/prog.exe", ""},
        {"nothing is a file", "C:\\web\\cgi-bin\\none\\x", "/cgi-bin/none/x", "C:\\web\\cgi-bin\\none\\x",
         "/cgi-bin/none/x", ""},
    };
    for (auto& c : cases) {
        std::string info;
        FindPathInfo(&c.path, &c.script, &info);
        EXPECT_EQ(c.path, c.expectPath) << c.name;
        EXPECT_EQ(c.script, c.expectScript) << c.name;
        EXPECT_EQ(info, c.expectInfo) << c.name;
    }
}

TEST(Files, MakeTempFileNamesAndPlace) {
    TestHome home;
    const std::string a = MakeTempFile();
    const std::string b = MakeTempFile();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    // In the home's own folder of TMPDIR, which only its owner may enter,
    // so that a server can tell its leftovers from another home's.
    const std::filesystem::path folder = std::filesystem::path(a).parent_path();
    EXPECT_EQ(folder.parent_path().string(), home.TempDir()) << a;
    EXPECT_TRUE(folder.filename().string().starts_with("varevavo-")) << a;
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    const std::string name = std::filesystem::path(a).filename().string();
    EXPECT_TRUE(name.starts_with("ZAD") && name.ends_with(".TMP") && name.size() == 13) << name;
    EXPECT_TRUE(TestHome::FileExists(a));
    EXPECT_EQ(FileSize(a), 0u);
    {
        TestHome other;  // the same TMPDIR would hold another home's folder beside it
        const std::string c = MakeTempFile();
        EXPECT_NE(std::filesystem::path(c).parent_path().filename(), folder.filename());
    }
    // The folder's name is known to every user: one that others may enter,
    // or a link put there first, is not used.
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(home.TempDir() + "/elsewhere");
    std::filesystem::create_directory_symlink(home.TempDir() + "/elsewhere", folder);
    EXPECT_EQ(std::filesystem::path(MakeTempFile()).parent_path().string(), home.TempDir());
    std::filesystem::remove(folder);
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms(0777));
    EXPECT_EQ(std::filesystem::path(MakeTempFile()).parent_path().string(), home.TempDir());
}

}  // namespace

TEST(TextWidth, ColumnsOfCharacters) {
    const struct {
        const char* name;
        char32_t character;
        int columns;
    } cases[] = {
        {"ASCII letter", U'a', 1},
        {"accented Latin", U'\u00E9', 1},
        {"Greek", U'\u03A9', 1},
        {"first Hangul Jamo", U'\u1100', 2},
        {"last wide Hangul Jamo", U'\u115F', 2},
        {"narrow Hangul Jamo after them", U'\u1160', 1},
        {"ideographic space", U'\u3000', 2},
        {"hiragana", U'\u3042', 2},
        {"CJK ideograph", U'\u6F22', 2},
        {"Hangul syllable", U'\uD55C', 2},
        {"last Hangul syllable", U'\uD7A3', 2},
        {"fullwidth Latin capital", U'\uFF21', 2},
        {"halfwidth katakana", U'\uFF71', 1},
        {"emoji", U'\U0001F600', 2},
        {"CJK extension B", U'\U00020000', 2},
        {"last of plane 3", U'\U0003FFFD', 2},
        {"beyond the table", U'\U000E0001', 1},
    };
    for (const auto& c : cases) EXPECT_EQ(CharacterColumns(c.character), c.columns) << c.name;
}

TEST(TextWidth, WidthsAndCutsOfUTF8Text) {
    const struct {
        const char* name;
        std::string text;
        size_t columns;     // the room given to FitColumns
        std::string fits;   // what fits in it
        size_t fitWidth;
        size_t wholeWidth;  // DisplayWidth of the whole text
    } cases[] = {
        {"ASCII", "abc.txt", 5, "abc.t", 5, 7},
        {"two-byte characters count one", "\xC3\xBC\xC3\xBC.txt", 30, "\xC3\xBC\xC3\xBC.txt", 6, 6},
        {"CJK counts two", "\xE6\xBC\xA2\xE5\xAD\x97.txt", 30, "\xE6\xBC\xA2\xE5\xAD\x97.txt", 8, 8},
        {"a wide character that does not fit stays out", "ab\xE6\xBC\xA2", 3, "ab", 2, 4},
        {"a wide character that just fits", "ab\xE6\xBC\xA2", 4, "ab\xE6\xBC\xA2", 4, 4},
        {"four-byte emoji", "\xF0\x9F\x98\x80!", 2, "\xF0\x9F\x98\x80", 2, 3},
        {"a stray continuation byte is one column", "a\x80" "b", 2, "a\x80", 2, 3},
        {"a cut-short sequence is one column a byte", "a\xE6\xBC", 2, "a\xE6", 2, 3},
        {"an impossible lead byte", "\xFF" "z", 1, "\xFF", 1, 2},
        {"nothing fits in no room", "abc", 0, "", 0, 3},
        {"empty text", "", 5, "", 0, 0},
    };
    for (const auto& c : cases) {
        size_t width = 99;
        EXPECT_EQ(FitColumns(c.text, c.columns, &width), c.fits) << c.name;
        EXPECT_EQ(width, c.fitWidth) << c.name;
        EXPECT_EQ(DisplayWidth(c.text), c.wholeWidth) << c.name;
    }
}
