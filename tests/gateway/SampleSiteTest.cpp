// The samples of the repository's default site, run by a real server.
#include <gtest/gtest.h>

#include "tests/gateway/GatewaySite.h"

using namespace gateway_test;

namespace {

TEST(SampleSite, ScriptsAndParsedPageAnswer) {
    TestServer t;
    for (const char* file : {"CGI-BIN/hello.cgi", "CGI-WIN/hello.sh", "HTDOCS/ssi-sample.shtml", "HTDOCS/ssi-footer.html"})
        std::filesystem::copy_file(std::string(VAREVAVO_SITE_DIR) + "/" + file, t.Site(file),
                                   std::filesystem::copy_options::overwrite_existing);

    const std::string cgi = Get(t, "/CGI-BIN/hello.cgi/x?one+two", "User-Agent: <b>\r\n");
    EXPECT_TRUE(cgi.starts_with("HTTP/1.0 200 Document Follows\r\n")) << cgi;
    EXPECT_NE(cgi.find("<td>/CGI-BIN/hello.cgi</td>"), std::string::npos) << cgi;
    EXPECT_NE(cgi.find("<td>&lt;b&gt;</td>"), std::string::npos) << cgi;
    EXPECT_NE(cgi.find("<th align=\"left\">Arguments</th><td>one two</td>"), std::string::npos) << cgi;

    const std::string wincgi = Post(t, "/CGI-WIN/hello.sh", "name=A+%3Cb%3E", "User-Agent: tester\r\n");
    EXPECT_TRUE(wincgi.starts_with("HTTP/1.0 200 Document Follows\r\n")) << wincgi;
    EXPECT_NE(wincgi.find("<td>CGI/1.3a (Win)</td>"), std::string::npos) << wincgi;
    EXPECT_NE(wincgi.find("<td>tester</td>"), std::string::npos) << wincgi;
    EXPECT_NE(wincgi.find("name=A &lt;b&gt;\n"), std::string::npos) << wincgi;

    const std::string page = Get(t, "/ssi-sample.shtml", "User-Agent: <i>\r\n");
    EXPECT_TRUE(page.starts_with("HTTP/1.0 200 Document Follows\r\n")) << page;
    EXPECT_NE(page.find("This page is /ssi-sample.shtml, "), std::string::npos) << page;
    EXPECT_NE(page.find("says it is &lt;i&gt;."), std::string::npos) << page;
    EXPECT_NE(page.find("This footer comes from /ssi-footer.html"), std::string::npos) << page;
    EXPECT_EQ(page.find("<!--#"), std::string::npos) << page;
}

}  // namespace
