// The two match rules of the mapping lists and the MIME lookup.
#include "config/Mapping.h"

#include <gtest/gtest.h>

namespace {

struct MatchCase {
    const char* name;
    const char* text;   // entry's virtual path (HasVirtual) or extension (MatchExtension)
    const char* value;  // URL or file name
    bool matches;
};

}  // namespace

TEST(Mapping, HasVirtual) {
    const MatchCase cases[] = {
        {"the path itself", "/cgi", "/cgi", true},
        {"below the path", "/cgi", "/cgi/x", true},
        {"a longer name is not below", "/cgi", "/cgi-bin/x", false},
        {"letter case is ignored", "/CGI-BIN", "/cgi-bin/test.exe", true},
        {"a shorter URL", "/cgi-bin", "/cgi", false},
        {"a path ending in a slash: identical URL", "/a/", "/a/", true},
        {"a path ending in a slash: a second slash", "/a/", "/a//x", true},
        {"a path ending in a slash: one slash only", "/a/", "/a/x", false},
        {"an empty path matches every absolute URL", "", "/anything", true},
        {"an empty path and an empty URL", "", "", true},
        {"an empty path and a relative URL", "", "x", false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(HasVirtual(Mapping(c.text, "C:\\TARGET"), c.value) != 0, c.matches) << c.name;
}

TEST(Mapping, MatchExtension) {
    const MatchCase cases[] = {
        {"the name ends with it", ".htm", "index.htm", true},
        {"letter case is ignored", ".htm", "INDEX.HTM", true},
        {".htm does not end index.html", ".htm", "index.html", false},
        {"the extension alone", ".htm", ".htm", false},
        {"a path", ".gif", "C:\\HTTPD\\ICONS\\dir.GIF", true},
        {"a shorter name", ".html", "a.h", false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(MatchExtension(Mapping("text/html", c.text), c.value) != 0, c.matches) << c.name;
}

TEST(Mapping, MIMELookupTakesTheFirstMatch) {
    const std::vector<Mapping> types = {{"text/htm", ".htm"}, {"text/html", ".html"}, {"text/second", ".html"},
                                        {"application/x-gzip", ".gz"}, {"application/x-tar", ".tar.gz"}};
    EXPECT_EQ(MIMELookup("index.html", &types), "text/html");
    EXPECT_EQ(MIMELookup("INDEX.HTM", &types), "text/htm");
    EXPECT_EQ(MIMELookup("x.tar.gz", &types), "application/x-gzip");  // the table order decides
    EXPECT_EQ(MIMELookup(".htm", &types), "text/html");                 // fall-back, not the table
    EXPECT_EQ(MIMELookup("README", &types), "text/html");
    const std::vector<Mapping> none;
    EXPECT_EQ(MIMELookup("a.gz", &none), "text/html");
    EXPECT_EQ(MIMELookup("a.gz", nullptr), "text/html");
}

TEST(Mapping, FindFirstAndEquality) {
    const std::vector<Mapping> aliases = {{"/docs", "C:\\ONE"}, {"/DOCS", "C:\\TWO"}, {"/", "C:\\ROOT"}};
    const Mapping* found = FindFirst(aliases, HasVirtual, "/Docs/a.html");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->second, "C:\\ONE");
    EXPECT_EQ(FindFirst(aliases, HasVirtual, "/other"), nullptr);
    EXPECT_TRUE(Mapping("/Docs", "A", 1) == Mapping("/dOCS", "B", 2));
    EXPECT_FALSE(Mapping("/docs", "A") == Mapping("/doc", "A"));
    const Mapping empty;
    EXPECT_TRUE(empty.first.empty() && empty.second.empty() && empty.attribute == 0);
}

TEST(Mapping, TypeWithCharsetNamesItOnlyForPlainTextThatNamesNone) {
    const struct {
        const char* name;
        const char* type;
        const char* charset;
        const char* expected;
    } cases[] = {
        {"plain text", "text/plain", "utf-8", "text/plain; charset=utf-8"},
        {"letter case of the type", "Text/PLAIN", "utf-8", "Text/PLAIN; charset=utf-8"},
        {"another parameter", "text/plain; format=flowed", "utf-8", "text/plain; format=flowed; charset=utf-8"},
        {"a dangling semicolon", "text/plain ;", "utf-8", "text/plain; charset=utf-8"},
        {"its own charset", "text/plain; charset=iso-8859-1", "utf-8", "text/plain; charset=iso-8859-1"},
        {"its own charset, other spelling", "text/plain;CHARSET = latin1", "utf-8", "text/plain;CHARSET = latin1"},
        {"its own charset after another", "text/plain; format=fixed; charset=x", "utf-8",
         "text/plain; format=fixed; charset=x"},
        {"HTML declares its own", "text/html", "utf-8", "text/html"},
        {"another text type", "text/css", "utf-8", "text/css"},
        {"a longer name", "text/plainer", "utf-8", "text/plainer"},
        {"no charset set", "text/plain", "", "text/plain"},
        {"a charset that would break the header", "text/plain", "utf-8\r\nX-Evil: 1", "text/plain"},
        {"a charset with a blank", "text/plain", "utf 8", "text/plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(TypeWithCharset(c.type, c.charset), c.expected) << c.name;
}
