// The running server end to end: a real server in its own home, real
// sockets, exact bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "http/Dates.h"
#include "net/Socket.h"
#include "platform/FileSystem.h"
#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::RawClient;
using testing_support::TestHome;
using testing_support::TestServer;
using testing_support::WaitUntil;
using testing_support::WithoutDates;

namespace {

const std::string kServer = "Server: Varevavo/1.0b3A (Win32; i386)\r\n";

std::string StatusDocument(const std::string& reason, const std::string& admin = "webmaster@localhost") {
    return "<H1>" + reason + "</H1>\nIf problems persist, contact <A HREF=\"mailto:" + admin + "\"><i>&lt;" + admin +
           "&gt;</i></A>\n<hr><i>Varevavo/1.0b3A (Win32; i386)</i>";
}

std::string ErrorResponse(int code, const std::string& reason, const std::string& more = "") {
    const std::string doc = StatusDocument(reason);
    return "HTTP/1.0 " + std::to_string(code) + " " + reason + "\r\nContent-Length: " + std::to_string(doc.size()) +
           "\r\nContent-Type: text/html\r\nDate: <date>\r\n" + kServer + more + "\r\n" + doc;
}

// The challenge that comes with a refusal of the master key.
const std::string kChallenge = "WWW-Authenticate: Basic realm=\"Varevavo\"\r\n";

std::string Get(TestServer& t, const std::string& path, const std::string& headers = "") {
    return WithoutDates(t.Exchange("GET " + path + " HTTP/1.0\r\n" + headers + "\r\n"));
}

// Lines of a log with the bracketed time stamps replaced by [T].
std::vector<std::string> LogLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        const size_t open = line.find(" [");
        const size_t close = line.find("]", open == std::string::npos ? 0 : open);
        if (open != std::string::npos && close != std::string::npos) line.replace(open + 2, close - open - 2, "T");
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

// Waits until the pool's busy count satisfies done.
template <typename Done>
bool WaitForBusy(TestServer& t, Done done) {
    return WaitUntil([&] { return done(t.Server().Listener.BusyCount()); });
}

TEST(Documents, FileWithItsHeadersInTableOrder) {
    TestServer t;
    t.WriteSite("HTDOCS/hello.txt", "hello, world\n");
    EXPECT_EQ(Get(t, "/hello.txt"),
              "HTTP/1.0 200 Document Follows\r\n"
              "Content-Length: 13\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Date: <date>\r\n"
              "ETag: <etag>\r\n"
              "Last-Modified: <date>\r\n" +
                  kServer + "\r\nhello, world\n");
}

TEST(Documents, MissingFile) {
    TestServer t;
    EXPECT_EQ(Get(t, "/none.html"), ErrorResponse(404, "Resource not found"));
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")),
              std::vector<std::string>{"127.0.0.1 [T] File not found: C:\\\\HTTPD\\\\HTDOCS\\\\none.html"});
}

TEST(Documents, MimeTypesAndCaseOfExtensions) {
    TestServer t;
    t.WriteSite("HTDOCS/a.HTML", "x");
    t.WriteSite("HTDOCS/b.gif", "x");
    t.WriteSite("HTDOCS/c.unknown", "x");
    EXPECT_NE(Get(t, "/a.HTML").find("Content-Type: text/html\r\n"), std::string::npos);
    EXPECT_NE(Get(t, "/b.gif").find("Content-Type: image/gif\r\n"), std::string::npos);
    EXPECT_NE(Get(t, "/c.unknown").find("Content-Type: text/html\r\n"), std::string::npos);
}

TEST(Documents, SimpleRequestGetsTheBodyAlone) {
    TestServer t;
    t.WriteSite("HTDOCS/index.html", "<p>welcome</p>");
    EXPECT_EQ(t.Exchange("GET /index.html\r\n"), "<p>welcome</p>");
    EXPECT_EQ(t.Exchange("HEAD /index.html\r\n"), StatusDocument("Invalid HTTP/0.9 method"));
}

TEST(Redirects, DirectoryWithoutItsSlash) {
    TestServer t;
    std::filesystem::create_directories(t.Site("HTDOCS/sub dir"));
    const std::string location = "http://localhost:" + std::to_string(t.Port()) + "/sub%20dir/";
    const std::string got = Get(t, "/sub%20dir");
    EXPECT_EQ(got.substr(0, got.find("\r\n")), "HTTP/1.0 302 Redirection");
    EXPECT_NE(got.find("\r\nLocation: " + location + "\r\n"), std::string::npos) << got;
}

TEST(Redirects, ConfiguredRedirection) {
    TestServer t([](HTTPConfiguration& c) { c.Redir.emplace_back("/old", "http://example.com/new"); });
    const std::string got = Get(t, "/old/page.html");
    EXPECT_EQ(got, "HTTP/1.0 302 Redirection\r\nContent-Length: " +
                       std::to_string(StatusDocument("Redirection").size()) +
                       "\r\nContent-Type: text/html\r\nDate: <date>\r\nLocation: http://example.com/new/page.html\r\n" +
                       kServer + "\r\n" + StatusDocument("Redirection"));
}

TEST(Directories, DefaultIndexAndItsAbsence) {
    TestServer t([](HTTPConfiguration& c) { c.AutoIndex = 0; });
    t.WriteSite("HTDOCS/index.html", "home");
    std::filesystem::create_directories(t.Site("HTDOCS/empty"));
    EXPECT_NE(Get(t, "/").find("\r\n\r\nhome"), std::string::npos);
    EXPECT_EQ(Get(t, "/empty/"), ErrorResponse(404, "Resource not found"));
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")).back(),
              "127.0.0.1 [T] Default file not found: C:\\\\HTTPD\\\\HTDOCS\\\\empty\\\\");
}

TEST(Directories, PreformattedListing) {
    TestServer t;
    t.WriteSite("HTDOCS/List/a b.txt", "12345");
    t.WriteSite("HTDOCS/List/.hidden", "x");
    t.WriteSite("HTDOCS/List/a-very-long-file-name-of-forty-chars.txt", "");
    t.WriteSite("HTDOCS/List/<b>&.txt", "");
    const std::string got = Get(t, "/List/");
    const size_t body = got.find("\r\n\r\n") + 4;
    EXPECT_EQ(got.substr(0, got.find("\r\n")), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(got.find("Last-Modified"), std::string::npos);
    const std::string page = got.substr(body);
    EXPECT_EQ(page.rfind("<HTML><HEAD><TITLE>Index of /list/</TITLE></HEAD>\n<BODY><H1>Index of /list/</H1>\n"
                         "<PRE>  Name                           Date                         Size\n<HR>\n",
                         0),
              0u)
        << page;
    EXPECT_TRUE(page.ends_with("</PRE></BODY></HTML>"));
    std::string date;
    platform::FileInfo info;
    platform::GetFileInfo(t.Site("HTDOCS/List/a b.txt"), &info);
    FileTimeToHTTPTime(&info.lastWrite, &date);
    EXPECT_NE(page.find("<A HREF=\"a%20b.txt\">a b.txt</A>                        " + date +
                        "                5\n"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<A HREF=\"a-very-long-file-name-of-forty-chars.txt\">a-very-long-file-name-of-forty</A> "),
              std::string::npos);
    EXPECT_NE(page.find("<A HREF=\"%3Cb%3E%26.txt\">&lt;b&gt;&amp;.txt</A>                       "), std::string::npos)
        << page;
    EXPECT_EQ(page.find("hidden"), std::string::npos);
    EXPECT_NE(page.find("<A HREF=\"../\">..</A>"), std::string::npos) << "dot entries are listed";
}

TEST(Directories, TableListing) {
    TestServer t([](HTTPConfiguration& c) { c.AutoIndex = 3; });
    t.WriteSite("HTDOCS/t/x y.txt", "abc");
    std::filesystem::create_directories(t.Site("HTDOCS/t/sub"));
    const std::string got = Get(t, "/t/");
    const std::string page = got.substr(got.find("\r\n\r\n") + 4);
    EXPECT_EQ(page.rfind("<HTML><HEAD><TITLE>Index of /t/</TITLE></HEAD>\n<BODY><H1>Index of /t/</H1>\n<HR SIZE=5>\n"
                         "<TABLE BORDER=1 CELLPADDING=3><TR><TH>Type</TH><TH>Name</TH><TH>Date</TH><TH>Size "
                         "(bytes)</TH></TR><TR>",
                         0),
              0u)
        << page;
    EXPECT_NE(page.find("<TR><TD>[File]</TD><TD><A HREF=\"x%20y.txt\">x y.txt</A></TD><TD>"), std::string::npos);
    EXPECT_NE(page.find("</TD><TD ALIGN=RIGHT>3</TD></TR>\n"), std::string::npos);
    EXPECT_NE(page.find("<TR><TD>[Directory]</TD><TD><A HREF=\"sub/\">sub</A></TD>"), std::string::npos);
    EXPECT_TRUE(page.ends_with("</TABLE></BODY></HTML>"));
}

TEST(Conditional, NotModifiedAndModified) {
    TestServer t;
    t.WriteSite("HTDOCS/c.txt", "content");
    const std::string first = t.Exchange("GET /c.txt HTTP/1.0\r\n\r\n");
    const size_t at = first.find("Last-Modified: ") + 15;
    const std::string stamp = first.substr(at, first.find("\r\n", at) - at);
    const std::string notModified = Get(t, "/c.txt", "If-Modified-Since: " + stamp + "\r\n");
    EXPECT_EQ(notModified, "HTTP/1.0 304 Use Cache\r\nContent-Length: " +
                               std::to_string(StatusDocument("Use Cache").size()) +
                               "\r\nContent-Type: text/html\r\nDate: <date>\r\nETag: <etag>\r\n" + kServer + "\r\n")
        << "the status document's headers stay, its body goes";
    EXPECT_NE(Get(t, "/c.txt", "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n").find("200 Document"),
              std::string::npos);
    EXPECT_NE(Get(t, "/c.txt", "If-Modified-Since: yesterday\r\n").find("\r\n\r\ncontent"), std::string::npos);
}

TEST(Head, SameHeadersAsGetAndNoBody) {
    TestServer t;
    t.WriteSite("HTDOCS/h.html", "0123456789");
    const std::string get = Get(t, "/h.html");
    const std::string head = WithoutDates(t.Exchange("HEAD /h.html HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(head, get.substr(0, get.find("\r\n\r\n") + 4));
    const std::string missing = WithoutDates(t.Exchange("HEAD /missing HTTP/1.0\r\n\r\n"));
    const std::string error = ErrorResponse(404, "Resource not found");
    EXPECT_EQ(missing, error.substr(0, error.find("\r\n\r\n") + 4)) << "an error answer to HEAD has no body either";
}

// Remote publishing with the master key (admin, secret) on.
class MasterKey : public testing::Test {
protected:
    // The answer to a request of method and path with credentials (user:password
    // in Base64), then more: further headers, the blank line and a body.
    std::string Ask(const std::string& methodAndPath, const std::string& more = "\r\n",
                    const std::string& credentials = "YWRtaW46c2VjcmV0") {
        return WithoutDates(
            t.Exchange(methodAndPath + " HTTP/1.0\r\nAuthorization: Basic " + credentials + "\r\n" + more));
    }
    std::string Stored(const std::string& name) const {
        const std::string path = t.Site("HTDOCS/" + name);
        return TestHome::FileExists(path) ? TestHome::ReadFile(path) : "<none>";
    }
    TestServer t{[](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterPassword = "secret";
    }};
};

TEST_F(MasterKey, APutWithoutTheKeyOrWithAWrongOneWritesNothing) {
    EXPECT_EQ(WithoutDates(t.Exchange("PUT /new.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello")),
              ErrorResponse(401, "Access Denied", kChallenge));
    EXPECT_EQ(Ask("PUT /new.txt", "Content-Length: 5\r\n\r\nhello", "YWRtaW46d3Jvbmc="),  // admin:wrong
              ErrorResponse(401, "Access Denied", kChallenge));
    EXPECT_EQ(Stored("new.txt"), "<none>");
}

// Only a refusal that credentials can lift asks for them.
TEST_F(MasterKey, ARefusedPutOrDeleteAsksForTheKey) {
    t.WriteSite("HTDOCS/keep.txt", "kept");
    EXPECT_EQ(WithoutDates(t.Exchange("DELETE /keep.txt HTTP/1.0\r\n\r\n")),
              ErrorResponse(401, "Access Denied", kChallenge));
    EXPECT_EQ(Ask("DELETE /keep.txt", "\r\n", "Zm9vOmJhcg=="),  // foo:bar
              ErrorResponse(401, "Access Denied", kChallenge));
    EXPECT_EQ(Stored("keep.txt"), "kept");
    EXPECT_EQ(Ask("PUT /keep.txt", "Content-Length: 3\r\n\r\nnew"), ErrorResponse(200, "Document written"))
        << "the right key is not challenged";

    HTTPConfiguration config = *t.Server().Snapshot();
    config.UseMasterKey = 0;
    t.Server().ReplaceConfiguration(config);
    EXPECT_EQ(WithoutDates(t.Exchange("DELETE /keep.txt HTTP/1.0\r\n\r\n")), ErrorResponse(403, "Access Denied"))
        << "with the master key off no password helps: no challenge";
}

TEST_F(MasterKey, ThePasswordIsComparedExactly) {
    const struct {
        const char* credentials;  // user:password in Base64
        int status;
    } cases[] = {
        {"YWRtaW46U0VDUkVU", 401},      // admin:SECRET
        {"YWRtaW46c2VjcmV0Cg==", 401},  // admin:secret and a line feed
        {"YWRtaW46c2VjcmU=", 401},      // admin:secre
        {"QURNSU46c2VjcmV0", 201},      // ADMIN:secret: the user name keeps its case rule
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ask("PUT /p.txt", "Content-Length: 1\r\n\r\nx", c.credentials).substr(0, 12),
                  "HTTP/1.0 " + std::to_string(c.status))
            << c.credentials;
}

TEST_F(MasterKey, APutCreatesThenReplaces) {
    EXPECT_EQ(Ask("PUT /new.txt", "Content-Length: 5\r\n\r\nhello"), ErrorResponse(201, "Document Created"));
    EXPECT_EQ(Stored("new.txt"), "hello");
    EXPECT_EQ(Ask("PUT /new.txt", "Content-Length: 5\r\n\r\nworld"), ErrorResponse(200, "Document written"));
    EXPECT_EQ(Stored("new.txt"), "world");
}

TEST_F(MasterKey, APutWithoutALengthIsRefused) {
    EXPECT_EQ(Ask("PUT /nobody.txt"), ErrorResponse(411, "Length Required"));
    EXPECT_EQ(Stored("nobody.txt"), "<none>");
}

TEST_F(MasterKey, ADeleteRemovesTheDocumentThenFindsNothing) {
    t.WriteSite("HTDOCS/old.txt", "old");
    EXPECT_EQ(Ask("DELETE /old.txt"), ErrorResponse(200, "Resource deleted"));
    EXPECT_EQ(Stored("old.txt"), "<none>");
    EXPECT_EQ(Ask("DELETE /old.txt"), ErrorResponse(404, "Resource not found"));
}

TEST_F(MasterKey, ATargetThatCannotBeRemovedIsNeverAnswered200) {
    std::filesystem::create_directories(t.Site("HTDOCS/dir"));
    EXPECT_EQ(Ask("DELETE /dir/"), ErrorResponse(409, "DELETE Conflict Error"));
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")).back(), R"(127.0.0.1 [T] Unable to delete: C:\\HTTPD\\HTDOCS\\dir\\)");
}

TEST_F(MasterKey, OptionsIsNotAvailable) { EXPECT_EQ(Ask("OPTIONS /"), ErrorResponse(501, "Method not available")); }

TEST(Publishing, MasterKeyOff) {
    TestServer t;
    EXPECT_EQ(WithoutDates(t.Exchange("PUT /x HTTP/1.0\r\nContent-Length: 1\r\n\r\nx")),
              ErrorResponse(403, "Access Denied"));
    EXPECT_EQ(WithoutDates(t.Exchange("OPTIONS / HTTP/1.0\r\n\r\n")), ErrorResponse(403, "Access Denied"));
    EXPECT_FALSE(TestHome::FileExists(t.Site("HTDOCS/x")));
}

// Requests the pipeline refuses, each with its status document and the
// error-log line it writes (none: null).
class Refusals : public testing::Test {
protected:
    Refusals() { t.WriteSite("HTDOCS/p.html", "x"); }
    std::string Answer(const std::string& requestLine) {
        return WithoutDates(t.Exchange(requestLine + " HTTP/1.0\r\n\r\n"));
    }
    void Expect(const std::string& requestLine, int code, const std::string& reason, const char* logged) {
        EXPECT_EQ(Answer(requestLine), ErrorResponse(code, reason));
        const auto expected = logged ? std::vector<std::string>{"127.0.0.1 [T] " + std::string(logged)}
                                     : std::vector<std::string>{};
        EXPECT_EQ(LogLines(t.Log("ERROR.LOG")), expected);
    }
    TestServer t;
};

TEST_F(Refusals, UnknownMethod) { Expect("BREW /pot", 501, "Method not implemented", "Unknown method"); }
TEST_F(Refusals, UpwardTraversal) {
    Expect("GET /a/...", 400, "Bad or corrupted request", "Upward tree traversal attempted");
}
TEST_F(Refusals, ProxyRequest) { Expect("GET http://x/", 501, "Not Implemented", "Proxy module unavailable"); }
TEST_F(Refusals, ANulInTheURL) { Expect("GET /a%00b", 400, "Bad or corrupted request", "Bad URL in request"); }
TEST_F(Refusals, APostToAMissingDocument) {
    Expect("POST /index.html", 404, "Resource not found", R"(File not found: C:\\HTTPD\\HTDOCS\\index.html)");
}
TEST_F(Refusals, APostToADocument) { Expect("POST /p.html", 500, "Bad POST", nullptr); }

TEST_F(Refusals, APauseIsAnsweredButNotLogged) {
    t.Server().Available = 0;
    Expect("GET /p.html", 503, "Server not available", nullptr);
    t.Server().Available = 1;
    EXPECT_NE(Answer("GET /p.html").find("200 Document Follows"), std::string::npos);
}

TEST_F(Refusals, NotAcceptingClosesAtOnce) {
    t.Server().Accepting = 0;
    EXPECT_EQ(t.Exchange("GET / HTTP/1.0\r\n\r\n"), "");
    t.Server().Accepting = 1;
    EXPECT_NE(t.Exchange("GET / HTTP/1.0\r\n\r\n"), "");
}

TEST(Statistics, PageBeatsMappingsAndCountsBefore) {
    TestServer t([](HTTPConfiguration& c) {
        c.Redir.emplace_back("/~stats", "http://elsewhere/");
        c.AdminEmail = "root@example.org";
    });
    t.WriteSite("HTDOCS/s.txt", "12345");
    Get(t, "/s.txt");
    Get(t, "/missing");
    t.Exchange("BREW / HTTP/1.0\r\n\r\n");
    t.Exchange("HEAD /s.txt HTTP/1.0\r\nIf-Modified-Since: Sat, 01 Jan 2100 00:00:00 GMT\r\n\r\n");
    t.Exchange("GET /cgi-bin/nothing HTTP/1.0\r\n\r\n");
    // A worker counts as busy until it has closed its connection.
    ASSERT_TRUE(WaitForBusy(t, [](int n) { return n == 0; }));
    const std::string got = Get(t, "/~stats");
    const std::string page = got.substr(got.find("\r\n\r\n") + 4);
    EXPECT_EQ(page.rfind("<HTML><HEAD><TITLE>Varevavo Statistics for localhost</TITLE></HEAD>\n<BODY BGCOLOR=\"#FFFFFF\">"
                         "<CENTER><H1>Web Server Statistics for localhost</H1></CENTER><HR>\n<PRE>\n"
                         "Server version is Varevavo/1.0b3A (Win32; i386)\nServer last started on ",
                         0),
              0u)
        << page;
    EXPECT_NE(page.find("Server up time 0 months 0 days 0:00:0"), std::string::npos);
    const size_t counts = page.find("Active connections:");
    const std::string missingDoc = StatusDocument("Resource not found", "root@example.org");
    const std::string unknownDoc = StatusDocument("Method not implemented", "root@example.org");
    const unsigned sent = 5 + 2 * static_cast<unsigned>(missingDoc.size()) + static_cast<unsigned>(unknownDoc.size());
    char expected[2048];
    std::snprintf(expected, sizeof expected,
                  "Active connections:                      1\n"
                  "Total requests:                          5\n"
                  "Bytes sent:                   %12u\n"
                  "Bytes received:                          0\n\n"
                  "Unknown requests:                        1\n"
                  "OPTIONS requests:                        0\n"
                  "GET requests:                            3\n"
                  "HEAD requests:                           1\n"
                  "POST requests:                           0\n"
                  "PUT requests:                            0\n"
                  "DELETE requests:                         0\n"
                  "TRACE requests:                          0\n\n"
                  "Redirection responses:                   0\n"
                  "\"Use Cache\" responses:                   1\n"
                  "Authorization failures:                  0\n\n"
                  "CGI execs:                               1\n\n"
                  "Total Errors:                            3\n"
                  "</PRE><HR><A HREF=\"mailto:root@example.org\"><ADDRESS>&lt;root@example.org&gt;</ADDRESS></A>"
                  "</BODY></HTML>",
                  sent);
    EXPECT_EQ(page.substr(counts), expected);
}

TEST(Logs, AccessErrorAndReferrerLines) {
    TestServer t([](HTTPConfiguration& c) { c.SiteAddress = "www.mysite.org"; });
    t.WriteSite("HTDOCS/l.txt", "abc");
    t.Exchange("GET /l.txt HTTP/1.0\r\nUser-Agent: Tester/1.0\r\nReferer: http://other.net/page\r\n\r\n");
    t.Exchange("GET /l.txt HTTP/1.0\r\nReferer: http://WWW.MYSITE.ORG/home\r\n\r\n");
    t.Exchange("GET /nope HTTP/1.0\r\nAuthorization: Basic dXNlcjpwdw==\r\n\r\n");
    t.Exchange("GET /l.txt?x=\x01\x1b[2J HTTP/1.0\r\nUser-Agent: evil\r\n\r\n");
    const auto access = LogLines(t.Log("ACCESS.LOG"));
    ASSERT_EQ(access.size(), 4u);
    EXPECT_EQ(access[0], "127.0.0.1 - - [T] \"GET /l.txt HTTP/1.0\" 200 3 \"http://other.net/page\" \"Tester/1.0\"");
    EXPECT_EQ(access[1], "127.0.0.1 - - [T] \"GET /l.txt HTTP/1.0\" 200 3 \"http://WWW.MYSITE.ORG/home\" -");
    EXPECT_EQ(access[2], "127.0.0.1 - user [T] \"GET /nope HTTP/1.0\" 404 " +
                             std::to_string(StatusDocument("Resource not found").size()) + " - -");
    EXPECT_EQ(access[3], "127.0.0.1 - - [T] \"GET /l.txt?x=\\x01\\x1B[2J HTTP/1.0\" 200 3 - \"evil\"")
        << "control bytes from the client cannot reach the terminal or forge lines";
    const std::string referrer = t.Log("REFERRER.LOG");
    ASSERT_EQ(referrer.size(), 24 + std::string(" http://other.net/page -> \"GET /l.txt HTTP/1.0\"\r\n").size());
    EXPECT_EQ(referrer.substr(24), " http://other.net/page -> \"GET /l.txt HTTP/1.0\"\r\n");
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")), std::vector<std::string>{"127.0.0.1 [T] File not found: "
                                                                     "C:\\\\HTTPD\\\\HTDOCS\\\\nope"});
}

// Quotes, backslashes, bytes above 0x7E (0x9B opens a terminal sequence)
// and spaces in the user name are escaped, so no field or line start can be
// faked from outside.
TEST(Logs, NoClientTextForgesAField) {
    TestServer t([](HTTPConfiguration& c) { c.SiteAddress = "www.mysite.org"; });
    t.WriteSite("HTDOCS/l.txt", "abc");
    // x [01/Jan/2000:00:00:00 +0000] "GET /forged HTTP/1.0" 200 1:pw, a user "x [01/Jan/2000"
    const std::string user = "eCBbMDEvSmFuLzIwMDA6MDA6MDA6MDAgKzAwMDBdICJHRVQgL2ZvcmdlZCBIVFRQLzEuMCIgMjAwIDE6cHc=";
    t.Exchange("GET /l.txt?a=\"b\\c\x9b HTTP/1.0\r\nUser-Agent: UA\" \"forged\r\nReferer: http://x/ -> \"GET /\"\r\n"
               "Authorization: Basic " + user + "\r\n\r\n");
    t.Exchange("GET /q%22x%5C%9B HTTP/1.0\r\n\r\n");
    const auto access = LogLines(t.Log("ACCESS.LOG"));
    ASSERT_EQ(access.size(), 2u);
    EXPECT_EQ(access[0], R"(127.0.0.1 - x\x20[01/Jan/2000 [T] "GET /l.txt?a=\"b\\c\x9B HTTP/1.0" 200 3 )"
                         R"("http://x/ -> \"GET /\"" "UA\" \"forged")");
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")).back(), R"(127.0.0.1 [T] File not found: C:\\HTTPD\\HTDOCS\\q\"x\\\x9B)");
    EXPECT_EQ(t.Log("REFERRER.LOG").substr(24),
              R"( http://x/\x20->\x20\"GET\x20/\" -> "GET /l.txt?a=\"b\\c\x9B HTTP/1.0")" "\r\n");
}

TEST(Logs, SwitchesAndTrace) {
    TestServer t([](HTTPConfiguration& c) {
        c.ErrorLogMask = 0;
        c.UseMasterKey = 1;
        c.MasterPassword = "pw";
    });
    t.WriteSite("HTDOCS/d.txt", "x");
    Get(t, "/none");
    EXPECT_EQ(t.Log("ERROR.LOG"), "");
    t.Exchange("DELETE /d.txt HTTP/1.0\r\nAuthorization: Basic YWRtaW46cHc=\r\n\r\n");
    EXPECT_EQ(LogLines(t.Log("TRACE.LOG")),
              std::vector<std::string>{"127.0.0.1 [T] MethodDelete(): C:\\\\HTTPD\\\\HTDOCS\\\\d.txt"});
}

TEST(KeepAlive, GrantedOnlyWhenAskedAndAllowed) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/k.txt", "keep");
    auto client = t.Connect();
    for (int i = 0; i < 3; ++i) {
        client->Send("GET /k.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
        const std::string got = WithoutDates(client->ReadResponse());
        EXPECT_NE(got.find("\r\nConnection: Keep-Alive\r\n"), std::string::npos) << got;
        EXPECT_TRUE(got.ends_with("\r\n\r\nkeep"));
    }
    client->Send("GET /k.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(client->ReadResponse().find("Connection:"), std::string::npos);
    EXPECT_TRUE(client->PeerClosed()) << "no keep-alive asked: closed after the response";
}

TEST(KeepAlive, OffInTheSetup) {
    TestServer t;
    t.WriteSite("HTDOCS/k.txt", "keep");
    auto client = t.Connect();
    client->Send("GET /k.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_NE(client->ReadResponse().find("\r\nConnection: close\r\n"), std::string::npos)
        << "a client that asked is told the connection closes";
    EXPECT_TRUE(client->PeerClosed());
}

// The pool may fill up while a script runs: the answer then gives the
// connection up instead of holding a slot for the client's next request.
TEST(KeepAlive, NotGrantedOnceTheServerIsOverloaded) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    const std::string started = t.Site("started"), go = t.Site("go");
    t.WriteSite("CGI-BIN/hold.cgi", "#!/bin/sh\n: > '" + started + "'\ni=0\nwhile [ ! -e '" + go +
                                        "' ] && [ $i -lt 500 ]; do sleep 0.02; i=$((i+1)); done\nrm -f '" + go +
                                        "'\nprintf 'Content-Type: text/plain\\n\\nheld\\n'\n");
    std::filesystem::permissions(t.Site("CGI-BIN/hold.cgi"), std::filesystem::perms(0755));
    const std::string request = "GET /CGI-BIN/hold.cgi HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n";
    auto client = t.Connect();
    TestHome::WriteFile(go, "");
    client->Send(request);
    EXPECT_NE(client->ReadResponse().find("\r\nConnection: Keep-Alive\r\n"), std::string::npos)
        << "granted while the pool has room";
    std::filesystem::remove(started);
    client->Send(request);
    ASSERT_TRUE(WaitUntil([&] { return TestHome::FileExists(started); }));
    t.Server().Overloaded = 1;  // as a hand-over at nine tenths of the pool sets it
    TestHome::WriteFile(go, "");
    const std::string got = client->ReadResponse();
    EXPECT_TRUE(got.ends_with("\r\n\r\nheld\n")) << got;
    EXPECT_EQ(got.find("Connection: Keep-Alive"), std::string::npos) << got;
    EXPECT_TRUE(client->PeerClosed());
}

TEST(KeepAlive, IdleConnectionClosesAfterTheWait) {
    TestServer t([](HTTPConfiguration& c) {
        c.UseKeepAlive = 1;
        c.KeepAlive = 300;
    });
    t.WriteSite("HTDOCS/k.txt", "keep");
    auto client = t.Connect();
    // The wait runs from the answer, which the client may take in late on a
    // loaded machine: measured from before the request, it cannot seem short.
    const auto start = std::chrono::steady_clock::now();
    client->Send("GET /k.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    client->ReadResponse();
    EXPECT_TRUE(client->PeerClosed(3000));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST(Pool, OverloadAtNineTenthsAndRecovery) {
    TestServer t([](HTTPConfiguration& c) { c.NumThreads = 3; });
    t.WriteSite("HTDOCS/o.txt", "ok");
    EXPECT_EQ(t.Server().Listener.ThreadCount(), 8) << "a pool holds at least 8 workers";
    // Seven connections that send nothing keep seven workers busy. They
    // connect together: the listener hands out a silent connection only
    // after about a second, and one after another they would reach the age
    // at which the oldest gives way to a newcomer.
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 1; i <= 7; ++i) {
        held.push_back(t.Connect());
        ASSERT_TRUE(held.back()->IsOpen());
    }
    ASSERT_TRUE(WaitForBusy(t, [](int busy) { return busy == 7; })) << "busy " << t.Server().Listener.BusyCount();
    EXPECT_EQ(t.Server().Overloaded.load(), 0);
    // The eighth lands on worker 7, at nine tenths of the pool: answered 503,
    // and asked to come back in a few seconds.
    auto eighth = t.Connect();
    eighth->Send("GET /o.txt HTTP/1.0\r\n\r\n");
    std::string overloaded = ErrorResponse(503, "Server overloaded");
    overloaded.insert(overloaded.find("Server: "), "Retry-After: 5\r\n");
    EXPECT_EQ(WithoutDates(eighth->ReadAll()), overloaded);
    // A ninth while all eight are busy is closed unanswered.
    ASSERT_TRUE(WaitForBusy(t, [](int busy) { return busy == 7; }));
    auto busy = t.Connect();
    ASSERT_TRUE(WaitForBusy(t, [](int n) { return n == 8; }));
    auto ninth = t.Connect();
    ninth->Send("GET /o.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ninth->ReadAll(), "");
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")).back(), "LOCAL SYSTEM ERROR  [T] Server Overloaded");
    // Once the held connections go, the next one lands on worker 0 and clears the flag.
    held.clear();
    busy.reset();
    ASSERT_TRUE(WaitForBusy(t, [](int n) { return n == 0; }));
    EXPECT_NE(Get(t, "/o.txt").find("200 Document Follows"), std::string::npos);
    EXPECT_EQ(t.Server().Overloaded.load(), 0);
}

TEST(Pool, FlushResetsOpenConnections) {
    TestServer t;
    t.WriteSite("HTDOCS/f.txt", "fine");
    auto idle = t.Connect();
    ASSERT_TRUE(WaitForBusy(t, [](int n) { return n == 1; }));
    t.Server().Listener.Flush();
    EXPECT_TRUE(idle->WasReset() || idle->PeerClosed());
    EXPECT_TRUE(WaitForBusy(t, [](int n) { return n == 0; }));
    EXPECT_NE(Get(t, "/f.txt").find("fine"), std::string::npos) << "the worker serves again";
}

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST(Lifecycle, ShutdownWithRequestsInFlight) {
    // The registry store keeps its database open for the process; one quiet
    // server first, so that the count below compares like with like.
    std::make_unique<TestServer>().reset();
    const size_t descriptorsBefore = OpenDescriptors();
    auto t = std::make_unique<TestServer>([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t->WriteSite("HTDOCS/big.bin", std::string(8 << 20, 'b'));
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(t->Connect());
        clients.back()->Send("GET /big.bin HTTP/1.0\r\n\r\n");
    }
    clients.push_back(t->Connect());  // an idle one
    clients.push_back(t->Connect());
    clients.back()->Send("PUT /half HTTP/1.0\r\nContent-Length: 100000\r\n\r\nsome");  // a body on its way
    ASSERT_TRUE(WaitForBusy(*t, [](int n) { return n == 6; }));
    const auto start = std::chrono::steady_clock::now();
    t->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(t->Server().Listener.ThreadCount(), 0) << "every worker has ended";
    EXPECT_TRUE(t->Home().TempFiles().empty()) << "no request body is left behind";
    for (auto& c : clients) c->ReadAll(2000);
    clients.clear();
    t.reset();
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "no descriptor is left open";
}

// Every request sees one whole record, the one before a reload or the one
// after it. The reloads switch between two setups that differ in the
// document root and in the type of .txt files: an answer built from a mix
// would pair one folder's file with the other setup's type.
TEST(Lifecycle, ReloadWhileServingSeesWholeRecords) {
    TestServer t;
    HTTPConfiguration setups[2];
    for (int i = 0; i < 2; ++i) {
        const std::string letter(1, static_cast<char>('a' + i));
        t.WriteSite(letter + "/r.txt", letter);
        setups[i].LoadConfiguration("Primary");
        setups[i].DocRoot = "C:\\HTTPD\\" + letter;
        for (Mapping& type : setups[i].Types)
            if (type.second == ".txt") type.first = "text/" + letter;
    }
    setups[0].SaveConfiguration("Primary");
    t.Server().ReloadConfiguration();
    std::atomic<bool> stop{false};
    std::atomic<int> answers{0}, whole{0};
    std::thread client([&] {
        do {
            const std::string got = t.Exchange("GET /r.txt HTTP/1.0\r\n\r\n");
            const std::string letter = got.substr(got.size() - std::min<size_t>(got.size(), 1));  // the body
            whole += got.ends_with("\r\n\r\n" + letter) && got.find("Content-Type: text/" + letter) != std::string::npos;
            ++answers;
        } while (!stop);
    });
    // The reloads may all be over before a busy machine starts the client.
    EXPECT_TRUE(WaitUntil([&] { return answers > 0; }));
    for (int i = 1; i <= 20; ++i) {
        setups[i % 2].SaveConfiguration("Primary");
        t.Server().ReloadConfiguration();
    }
    stop = true;
    client.join();
    EXPECT_EQ(whole.load(), answers.load()) << "every answer came from one whole record";
}

}  // namespace

namespace {

TEST(DynamicAddress, LearnedFromTheBounceSiteAndSaved) {
    // Over either family; an IPv6 address in brackets, as a URL has it.
    const std::pair<std::string, std::string> families[] = {{"127.0.0.1", "127.0.0.1"}, {"::1", "[::1]"}};
    for (const auto& [site, learned] : families) {
        if (site == "::1" && !testing_support::HasIPv6Loopback()) continue;  // IPv6 is off here
        Socket bounce(0, 1, site);
        ASSERT_EQ(bounce.Listen(5), 0);
        SocketAddress name;
        bounce.GetName(&name);
        TestServer t([&](HTTPConfiguration& c) {
            c.ResolveLocal = 1;
            c.BounceSite = site;
            c.BouncePort = name.port;
            c.SiteAddress = "placeholder";
        });
        WaitUntil([&] { return t.Server().Snapshot()->SiteAddress != "placeholder"; });
        EXPECT_EQ(t.Server().Snapshot()->SiteAddress, learned);
        HTTPConfiguration stored;
        stored.LoadConfiguration("Primary");
        EXPECT_EQ(stored.SiteAddress, learned) << "the address persists";
        t.WriteSite("HTDOCS/dir/index.html", "x");
        EXPECT_EQ(testing_support::HeaderOf(Get(t, "/dir"), "Location"),
                  "http://" + learned + ":" + std::to_string(t.Port()) + "/dir/")
            << "a redirect without Host names the site so";
    }
}

TEST(DynamicAddress, AnUnreachableBounceSiteIsReportedOnceAndTheServerRuns) {
    testing_support::MessageCapture messages;
    const int closedPort = TestServer::FreePort();
    TestServer t([&](HTTPConfiguration& c) {
        c.ResolveLocal = 1;
        c.BounceSite = "127.0.0.1";
        c.BouncePort = closedPort;
    });
    // The lookup runs once the listener is up, beside it.
    WaitUntil([&] { return !messages.Messages().empty(); });
    const auto shown = messages.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ResolveLocal");
    EXPECT_EQ(shown[0].text, "Could not resolve local name, error code: 10061 (Connection refused)");
    EXPECT_EQ(t.Server().Snapshot()->SiteAddress, "localhost");
    EXPECT_EQ(LogLines(t.Log("ERROR.LOG")).back(),
              "LOCAL SYSTEM ERROR  [T] Could not resolve local name, error code: 10061 (Connection refused)");
    t.WriteSite("HTDOCS/up.txt", "up");
    EXPECT_NE(Get(t, "/up.txt").find("up"), std::string::npos);
}

// Fields are searched a word at a time for bytes to escape: each kind is
// found wherever it stands in a long one.
TEST(Logs, EveryByteToEscapeIsFoundAnywhereInALongField) {
    TestServer t;
    t.WriteSite("HTDOCS/l.txt", "abc");
    const struct {
        char byte;
        const char* escaped;
    } kinds[] = {{'\x7f', "\\x7F"}, {'\x1f', "\\x1F"}, {'\xff', "\\xFF"}, {'"', "\\\""}, {'\\', "\\\\"}};
    std::vector<std::string> expected;
    for (const auto& kind : kinds) {
        for (const size_t at : {0u, 7u, 8u, 12u, 16u}) {
            std::string agent = "abcdefghijklmnopq";
            const std::string before = agent.substr(0, at), after = agent.substr(at + 1);
            agent = before + kind.byte + after;
            t.Exchange("GET /l.txt HTTP/1.0\r\nUser-Agent: " + agent + "\r\n\r\n");
            expected.push_back("127.0.0.1 - - [T] \"GET /l.txt HTTP/1.0\" 200 3 - \"" + before + kind.escaped + after +
                               "\"");
        }
    }
    EXPECT_EQ(LogLines(t.Log("ACCESS.LOG")), expected);
}

}  // namespace
