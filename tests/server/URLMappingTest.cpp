// The one normalisation and mapping of URL paths, shared by the request
// pipeline and the gateways.
#include <gtest/gtest.h>

#include "config/HTTPConfiguration.h"
#include "http/HTTPRequest.h"
#include "server/URLMapping.h"

namespace {

TEST(URLMapping, NormalisedPathsStayInsideOrAreRefused) {
    const struct {
        const char* in;
        URLFault fault;
        const char* out;  // when not refused
    } cases[] = {
        {"/a/./b/../c", URLFault::None, "/a/c"},
        {"\\a\\..\\b", URLFault::None, "/b"},
        {"/ICONS/../x", URLFault::None, "/x"},
        {"/../x", URLFault::NotAbsolute, ""},
        {"/..\\x", URLFault::NotAbsolute, ""},
        {"/ICONS/../../x", URLFault::NotAbsolute, ""},
        {"/./../x", URLFault::NotAbsolute, ""},
        {"x", URLFault::NotAbsolute, ""},
        {"/..", URLFault::Empty, ""},
        {"", URLFault::Empty, ""},
        {"/a/.../b", URLFault::Traversal, ""},
    };
    for (const auto& c : cases) {
        std::string url = c.in;
        EXPECT_EQ(NormaliseURL(&url), c.fault) << c.in;
        if (c.fault == URLFault::None) {
            EXPECT_EQ(url, c.out) << c.in;
        }
    }
    std::string withNul("/a\0/b", 5);
    EXPECT_EQ(NormaliseURL(&withNul), URLFault::BadByte);
}

TEST(URLMapping, ListsInThePipelinesOrder) {
    HTTPConfiguration config;
    config.DefaultConfiguration();
    config.Redir.emplace_back("/old", "http://elsewhere/new");
    config.Alias.emplace_back("/CGI-BIN/docs", "C:\\DOCS");  // the alias list comes before the script lists
    const struct {
        const char* url;
        int kind;
        const char* path;
    } cases[] = {
        {"/", ResourceDocument, "C:\\HTTPD\\HTDOCS/"},
        {"/a/b.html", ResourceDocument, "C:\\HTTPD\\HTDOCS/a/b.html"},
        {"/icons/x.gif", ResourceDocument, "C:\\HTTPD\\ICONS/x.gif"},
        {"/ICONS", ResourceDocument, "C:\\HTTPD\\ICONS"},
        {"/ICONSX", ResourceDocument, "C:\\HTTPD\\HTDOCS/ICONSX"},
        {"/old/page", ResourceRedirect, "http://elsewhere/new/page"},
        {"/cgi-bin/x.cgi/more", ResourceCGIBin, "C:\\HTTPD\\CGI-BIN/x.cgi/more"},
        {"/CGI-BIN/docs/a", ResourceDocument, "C:\\DOCS/a"},
        {"/CGI-WIN/p.exe", ResourceCGIWin, "C:\\HTTPD\\CGI-WIN/p.exe"},
        {"/CGI-DOS/p.bat", ResourceDocument, "C:\\HTTPD\\HTDOCS/CGI-DOS/p.bat"},
    };
    for (const auto& c : cases) {
        const URLMapping mapping(config, c.url);
        EXPECT_EQ(mapping.Kind, c.kind) << c.url;
        EXPECT_EQ(mapping.PhysicalPath, c.path) << c.url;
    }
}

}  // namespace
