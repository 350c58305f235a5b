// Server-side includes end to end: parsed pages served by a real server.
#include <gtest/gtest.h>

#include <regex>

#include "tests/gateway/GatewaySite.h"

using namespace gateway_test;

namespace {

const std::string kError = "<b>[SSI Processing Error]</b>";
const std::string kFooter = "<p>footer <!--#echo var=\"SERVER_NAME\" --></p>\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

class ServerSideIncludes : public ::testing::Test {
protected:
    ServerSideIncludes() {
        t.WriteSite("HTDOCS/footer.html", kFooter);
        t.WriteSite("ICONS/note.txt", "note");
        t.WriteSite("HTDOCS/k1.bin", std::string(1024, 'k'));
        t.WriteSite("HTDOCS/k2.bin", std::string(2048, 'k'));
        t.WriteSite("HTDOCS/old.html", "old");
        const auto june2001 = std::chrono::sys_seconds(std::chrono::seconds(992606400));  // 2001-06-15 12:00 UTC
        std::filesystem::last_write_time(t.Site("HTDOCS/old.html"), std::chrono::file_clock::from_sys(june2001));
    }
    TestServer t;
};

TEST_F(ServerSideIncludes, Directives) {
    const struct {
        const char* name;
        std::string page;
        std::string expected;  // {uri} and {file} stand for the page's URL and file
        std::string query = "";
        std::string headers = "";
    } cases[] = {
        {"include inserts the file unparsed", "<!--#include virtual=\"/footer.html\" -->", kFooter},
        {"include through an alias", "<!--#include virtual=\"/ICONS/note.txt\"-->", "note"},
        {"include with only the file tag", "<!--#include file=\"footer.html\" -->", kError},
        {"include of a missing file", "<!--#include virtual=\"/none.html\" -->", kError},
        {"include of a path without its slash", "<!--#include virtual=\"footer.html\" -->", kError},
        {"echo of the page's URL and file", "<!--#echo var=\"DOCUMENT_URI\" --> <!--#echo var=\"DOCUMENT_NAME\" -->",
         "{uri} {file}"},
        {"echo of server variables, words in any case",
         "<!--#ECHO VAR=\"server_name\" -->:<!--#echo var=\"GATEWAY_INTERFACE\" -->:<!--#echo "
         "var=\"SERVER_PROTOCOL\" -->:<!--#echo var=\"REQUEST_METHOD\" -->:<!--#echo var=\"REMOTE_ADDR\" -->:<!--#echo "
         "var=\"SERVER_SOFTWARE\" -->:<!--#echo var=\"PATH_INFO\" -->:<!--#echo var=\"REMOTE_HOST\" -->",
         "localhost:CGI/1.1:HTTP/1.0:GET:127.0.0.1:Varevavo/1.0b3A (Win32; i386)::"},
        {"echo escapes what the client sent",
         "<!--#echo var=\"QUERY_STRING_UNESCAPED\" -->|<!--#echo var=\"QUERY_STRING\" -->|<!--#echo "
         "var=\"HTTP_USER_AGENT\" -->|<!--#echo var=\"HTTP_REFERER\" -->|<!--#echo var=\"HTTP_ACCEPT\" -->",
         "&lt;b&gt;+&amp;&quot;x|%3Cb%3E+%26%22x|&lt;script&gt;|http://e/?a=1&amp;b=2|text/html", "?%3Cb%3E+%26%22x",
         "User-Agent: <script>\r\nReferer: http://e/?a=1&b=2\r\nAccept: text/html\r\n"},
        {"echo of an unknown variable", "<!--#echo var=\"PATH\" -->", kError},
        {"echo with an unquoted value", "<!--#echo var=SERVER_NAME -->", kError},
        {"echo with a tab after the command", "<!--#echo\tvar=\"SERVER_NAME\" -->", kError},
        {"an unknown tag", "<!--#echo var=\"SERVER_NAME\" color=\"red\" -->", kError},
        {"an unknown command", "<!--#printenv -->", kError},
        {"exec", "<!--#exec cmd=\"/usr/bin/touch ran\" --><!--#exec cgi=\"/CGI-BIN/x.cgi\" -->", kError + kError},
        {"config prints nothing", "<!--#config sizefmt=\"abbrev\" -->", ""},
        {"fsize in bytes, then abbreviated for the rest of the page",
         "<!--#fsize virtual=\"/k2.bin\" --> <!--#config sizefmt=\"abbrev\" --><!--#fsize virtual=\"/k2.bin\" --> "
         "<!--#fsize virtual=\"/k1.bin\" --> <!--#fsize virtual=\"/ICONS/note.txt\" -->",
         "2048 2K 1024 4"},
        {"fsize of a missing file", "<!--#fsize virtual=\"/none\" -->", "0"},
        {"fsize without virtual", "<!--#fsize file=\"k1.bin\" -->", kError},
        {"flastmod in the initial format", "<!--#flastmod virtual=\"/old.html\" -->", "Jun 15 2001"},
        {"flastmod with a time format of its own", "<!--#flastmod virtual=\"/old.html\" timefmt=\"%Y-%m\" -->",
         "2001-06"},
        {"flastmod of a missing file", "<!--#flastmod virtual=\"/none.html\" -->", kError},
        {"a document type declaration", "<!DOCTYPE html>", "<!DOCTYPE html>"},
        {"an ordinary comment", "<!-- note -->", "<!-- note -->"},
        {"the shortest comment", "<!-->", "<!-->"},
        {"lone signs", "a < b <! c <", "a < b <! c <"},
        {"an unterminated comment runs to the end", "<!-- open", "<!-- open"},
        {"an unterminated directive is text", "<!--#echo var=\"SERVER_NAME\"", "<!--#echo var=\"SERVER_NAME\""},
        {"a directive across a block edge", std::string(8190, '.') + "<!--#echo var=\"SERVER_NAME\" -->",
         std::string(8190, '.') + "localhost"},
        {"an empty error text makes failures vanish",
         "<!--#config errmsg=\"\" -->a<!--#exec cmd=\"x\" -->b<!--#bogus -->c", "abc"},
        {"an error text of the page's own", "<!--#config errmsg=\"[oops]\" --><!--#include file=\"x\" -->", "[oops]"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string page = "case" + std::to_string(++n) + ".shtml";
        t.WriteSite("HTDOCS/" + page, "[" + c.page + "]");
        const std::string response = Get(t, "/" + page + c.query, c.headers);
        const std::string expected =
            "[" + Replace(Replace(c.expected, "{uri}", "/" + page), "{file}", "C:\\HTTPD\\HTDOCS\\" + page) + "]";
        EXPECT_EQ(Body(response), expected) << c.name;
        EXPECT_EQ(Head(response),
                  "HTTP/1.0 200 Document Follows\r\nContent-Length: " + std::to_string(expected.size()) +
                      "\r\nContent-Type: text/html\r\nDate: <date>\r\nLast-Modified: <date>\r\n"
                      "Server: Varevavo/1.0b3A (Win32; i386)\r\n\r\n")
            << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(t.Site("HTDOCS/ran"))) << "exec starts nothing";
}

TEST_F(ServerSideIncludes, DatesFollowTheTimeFormatForTheRestOfThePage) {
    t.WriteSite("HTDOCS/dates.shtml",
                "<!--#echo var=\"DATE_GMT\" -->|<!--#echo var=\"DATE_LOCAL\" timefmt=\"%H:%M\" -->|"
                "<!--#echo var=\"DATE_GMT\" -->|<!--#echo var=\"LAST_MODIFIED\" -->|"
                "<!--#flastmod virtual=\"/old.html\" -->");
    const std::string body = Body(Get(t, "/dates.shtml"));
    const std::regex dates(R"([A-Z][a-z]{2} \d\d \d{4}\|\d\d:\d\d\|\d\d:\d\d\|\d\d:\d\d\|\d\d:\d\d)");
    EXPECT_TRUE(std::regex_match(body, dates)) << body;
}

// Secrets lie beside the document root, on the drive and in the home; no
// spelling of a path that climbs out of the roots may reach them, through
// any directive. Paths that climb and come back down stay usable.
TEST_F(ServerSideIncludes, NoDirectiveReachesOutsideTheRoots) {
    const std::string secret = "SECRET-TEXT";
    t.WriteSite("SECRET.TXT", secret);
    testing_support::TestHome::WriteFile(t.Home().DriveC("SECRET.TXT"), secret);
    testing_support::TestHome::WriteFile(t.Home().Path() + "/SECRET.TXT", secret);
    gateway_test::WriteScript(t, "CGI-BIN/x.cgi", "#!/bin/sh\necho " + secret + "\n");
    const char* const climbs[] = {
        "/../SECRET.TXT", "/..\\SECRET.TXT", "\\..\\SECRET.TXT", "/../../SECRET.TXT", "/../../../SECRET.TXT",
        "/../../../../../../../../../../etc/passwd", "/ICONS/../../SECRET.TXT", "/ICONS\\..\\..\\SECRET.TXT",
        "/ICONS/../../../SECRET.TXT", "/icons/..\\../SECRET.TXT", "/./../SECRET.TXT", ".\\..\\SECRET.TXT",
        "/x/../../SECRET.TXT", "/CGI-BIN/../../SECRET.TXT", "/.../SECRET.TXT", "/..", "..", "SECRET.TXT",
        "/%2e%2e/SECRET.TXT", "/%2E%2E%2FSECRET.TXT", "%2f%2e%2e%2fSECRET.TXT", "/..%5cSECRET.TXT",
        "%5c..%5cSECRET.TXT", "/ICONS/..%2f..%2fSECRET.TXT", "/ICONS%2f%2e%2e%5c%2e%2e%5cSECRET.TXT",
        "/%2e/%2e%2e/SECRET.TXT", "/../SECRET.TXT?x=1", "/CGI-BIN/x.cgi", "/cgi-bin/x.cgi?x",
    };
    for (const char* climb : climbs) {
        const std::string page = "[<!--#include virtual=\"" + std::string(climb) + "\" -->|<!--#fsize virtual=\"" +
                                 climb + "\" -->|<!--#flastmod virtual=\"" + climb + "\" -->]";
        t.WriteSite("HTDOCS/climb.shtml", page);
        EXPECT_EQ(Body(Get(t, "/climb.shtml")), "[" + kError + "|" + kError + "|" + kError + "]") << climb;
    }
    const char* const inside[] = {"/sub/../footer.html", "/ICONS/../footer.html", "/%66ooter.html",
                                  "\\footer.html", "/./footer.html?x=1"};
    for (const char* path : inside) {
        t.WriteSite("HTDOCS/inside.shtml", "[<!--#include virtual=\"" + std::string(path) + "\" -->|<!--#fsize virtual=\"" +
                                               path + "\" -->]");
        EXPECT_EQ(Body(Get(t, "/inside.shtml")), "[" + kFooter + "|" + std::to_string(kFooter.size()) + "]") << path;
    }
}

}  // namespace
