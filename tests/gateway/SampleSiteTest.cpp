// The samples of the repository's default site, run by a real server.
#include <gtest/gtest.h>

#include "tests/gateway/GatewaySite.h"

using namespace gateway_test;

namespace {

TEST(SampleSite, ScriptsAndParsedPageAnswer) {
    TestServer t;
    for (const char* file :
         {"CGI-BIN/hello.cgi", "CGI-WIN/hello.sh", "HTDOCS/ssi-sample.shtml", "HTDOCS/ssi-footer.html"})
        std::filesystem::copy_file(std::string(VAREVAVO_SITE_DIR) + "/" + file, t.Site(file),
                                   std::filesystem::copy_options::overwrite_existing);

    const struct {
        const char* name;
        std::string response;
        std::vector<std::string> shows;
    } cases[] = {
        {"standard CGI script", Get(t, "/CGI-BIN/hello.cgi/x?one+two", "User-Agent: <b>\r\n"),
         {"<td>/CGI-BIN/hello.cgi</td>", "<td>&lt;b&gt;</td>", "Arguments</th><td>one two</td>",
          // Whole paths: relative ones would grow the extra path at each click.
          "<a href=\"/CGI-BIN/hello.cgi/some/path?one+two\">", "<a href=\"/CGI-BIN/hello.cgi?name=value\">"}},
        {"Windows CGI program",
         Post(t, "/CGI-WIN/hello.sh", "name=A+%3Cb%3E&city=M%C3%BCnchen+%26+%3Cmore%3E", "User-Agent: tester\r\n"),
         {"<td>CGI/1.3a (Win)</td>", "<td>tester</td>", "name=A &lt;b&gt;\n",
          "city=M\xC3\xBCnchen &amp; &lt;more&gt;\n", "Content-Type: text/html; charset=UTF-8\r\n"}},
        {"parsed page", Get(t, "/ssi-sample.shtml", "User-Agent: <i>\r\n"),
         {"This page is /ssi-sample.shtml, ", "says it is &lt;i&gt;.", "This footer comes from /ssi-footer.html"}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.response.starts_with("HTTP/1.0 200 Document Follows\r\n")) << c.name << "\n" << c.response;
        for (const std::string& part : c.shows)
            EXPECT_NE(c.response.find(part), std::string::npos) << c.name << ": " << part;
        EXPECT_EQ(c.response.find("<!--#"), std::string::npos) << c.name;
    }
}

}  // namespace

namespace {

// Every browser asks for /favicon.ico; the default site answers it.
TEST(SampleSite, FaviconIsAnIcon) {
    TestServer t;
    std::filesystem::copy_file(std::string(VAREVAVO_SITE_DIR) + "/HTDOCS/favicon.ico", t.Site("HTDOCS/favicon.ico"));
    const std::string got = Get(t, "/favicon.ico");
    EXPECT_TRUE(got.starts_with("HTTP/1.0 200 Document Follows\r\n")) << got.substr(0, 200);
    EXPECT_NE(got.find("\r\nContent-Type: image/vnd.microsoft.icon\r\n"), std::string::npos);
    EXPECT_EQ(Body(got).substr(0, 6), std::string("\0\0\1\0\3\0", 6)) << "an icon file with three images";
}

}  // namespace
