// Byte ranges of documents end to end: a real server, real files, exact bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::TestServer;
using testing_support::WithoutDates;
using testing_support::BodyOf;
using testing_support::HeaderOf;
using testing_support::StatusOf;

namespace {

const std::string kDigits = "0123456789";

std::string Get(TestServer& t, const std::string& path, const std::string& headers) {
    return WithoutDates(t.Exchange("GET " + path + " HTTP/1.0\r\n" + headers + "\r\n"));
}

std::string Range(const std::string& value) { return "Range: " + value + "\r\n"; }

// A 206 with its part: status, Content-Range, Content-Length and the bytes.
void ExpectPart(const std::string& response, const std::string& contentRange, const std::string& bytes,
                const std::string& what) {
    EXPECT_EQ(StatusOf(response), "HTTP/1.0 206 Partial Content") << what;
    EXPECT_EQ(HeaderOf(response, "Content-Range"), contentRange) << what;
    EXPECT_EQ(HeaderOf(response, "Content-Length"), std::to_string(bytes.size())) << what;
    EXPECT_EQ(HeaderOf(response, "Accept-Ranges"), "bytes") << what;
    const std::string body = BodyOf(response);
    EXPECT_TRUE(body == bytes) << what << ": " << body.size() << " bytes, differing from byte "
                               << std::mismatch(body.begin(), body.end(), bytes.begin(), bytes.end()).first -
                                      body.begin();
}

void ExpectUnsatisfiable(const std::string& response, const std::string& contentRange, const std::string& what) {
    EXPECT_EQ(StatusOf(response), "HTTP/1.0 416 Requested Range Not Satisfiable") << what;
    EXPECT_EQ(HeaderOf(response, "Content-Range"), contentRange) << what;
    EXPECT_EQ(HeaderOf(response, "Content-Type"), "text/html") << what;
    EXPECT_EQ(HeaderOf(response, "Last-Modified"), "") << what;
    EXPECT_NE(BodyOf(response).find("<H1>Requested Range Not Satisfiable</H1>"), std::string::npos) << what;
}

}  // namespace

TEST(Ranges, ThePartWithTheHeadersOfTheWhole) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", kDigits);
    EXPECT_EQ(Get(t, "/d.txt", Range("bytes=2-4")),
              "HTTP/1.0 206 Partial Content\r\n"
              "Accept-Ranges: bytes\r\n"
              "Content-Length: 3\r\n"
              "Content-Range: bytes 2-4/10\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Date: <date>\r\n"
              "ETag: <etag>\r\n"
              "Last-Modified: <date>\r\n"
              "Server: Varevavo/1.0b3A (Win32; i386)\r\n\r\n234");
    const std::string whole = t.Exchange("GET /d.txt HTTP/1.0\r\n\r\n");
    const std::string part = t.Exchange("GET /d.txt HTTP/1.1\r\nRange: bytes=2-4\r\n\r\n");
    EXPECT_EQ(HeaderOf(part, "Last-Modified"), HeaderOf(whole, "Last-Modified"));
    EXPECT_EQ(HeaderOf(whole, "Accept-Ranges"), "") << "an answer without Range stays as it was";
}

TEST(Ranges, EachFormAtTheEdges) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", kDigits);
    t.WriteSite("HTDOCS/empty.txt", "");
    t.WriteSite("HTDOCS/one.txt", "x");
    ExpectPart(Get(t, "/d.txt", Range("bytes=0-0")), "bytes 0-0/10", "0", "first byte");
    ExpectPart(Get(t, "/d.txt", Range("bytes=9-9")), "bytes 9-9/10", "9", "last byte");
    ExpectPart(Get(t, "/d.txt", Range("bytes=7-")), "bytes 7-9/10", "789", "open end");
    ExpectPart(Get(t, "/d.txt", Range("bytes=5-100")), "bytes 5-9/10", "56789", "last past the end");
    ExpectPart(Get(t, "/d.txt", Range("bytes=-1")), "bytes 9-9/10", "9", "suffix");
    ExpectPart(Get(t, "/d.txt", Range("bytes=-100")), "bytes 0-9/10", kDigits, "suffix past the start");
    ExpectUnsatisfiable(Get(t, "/d.txt", Range("bytes=-0")), "bytes */10", "empty suffix");
    ExpectUnsatisfiable(Get(t, "/d.txt", Range("bytes=10-")), "bytes */10", "first at the end");
    ExpectUnsatisfiable(Get(t, "/d.txt", Range("bytes=11-20")), "bytes */10", "first past the end");
    ExpectUnsatisfiable(Get(t, "/empty.txt", Range("bytes=0-")), "bytes */0", "empty file");
    ExpectPart(Get(t, "/one.txt", Range("bytes=0-0")), "bytes 0-0/1", "x", "size 1");
    ExpectPart(Get(t, "/one.txt", Range("bytes=-1")), "bytes 0-0/1", "x", "size 1, suffix");
    ExpectUnsatisfiable(Get(t, "/one.txt", Range("bytes=1-")), "bytes */1", "size 1, past it");
}

TEST(Ranges, IgnoredHeadersGiveTheWholeAsToday) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", kDigits);
    const std::string whole = Get(t, "/d.txt", "");
    for (const char* value : {"bytes=0-1,4-5", "items=0-1", "bytes=5-2", "bytes=x-", "bytes 0-1"})
        EXPECT_EQ(Get(t, "/d.txt", Range(value)), whole) << value;
}

TEST(Ranges, HeadShowsThePartWithoutIt) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", kDigits);
    const std::string get = Get(t, "/d.txt", Range("bytes=3-"));
    const std::string head = WithoutDates(t.Exchange("HEAD /d.txt HTTP/1.0\r\nRange: bytes=3-\r\n\r\n"));
    EXPECT_EQ(head, get.substr(0, get.find("\r\n\r\n") + 4));
    EXPECT_EQ(HeaderOf(head, "Content-Range"), "bytes 3-9/10");
}

TEST(Ranges, IfRangeAndIfModifiedSince) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", kDigits);
    const std::string stamp = HeaderOf(t.Exchange("GET /d.txt HTTP/1.0\r\n\r\n"), "Last-Modified");
    ASSERT_FALSE(stamp.empty());
    ExpectPart(Get(t, "/d.txt", Range("bytes=8-") + "If-Range: " + stamp + "\r\n"), "bytes 8-9/10", "89",
               "the document is as the client knows it");
    const std::string changed = Get(t, "/d.txt", Range("bytes=8-") + "If-Range: Sun, 06 Nov 1994 08:49:37 GMT\r\n");
    EXPECT_EQ(StatusOf(changed), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(BodyOf(changed), kDigits) << "a document changed since gives the whole";
    EXPECT_EQ(BodyOf(Get(t, "/d.txt", Range("bytes=8-") + "If-Range: \"an-etag\"\r\n")), kDigits);
    const std::string cached = Get(t, "/d.txt", Range("bytes=8-") + "If-Modified-Since: " + stamp + "\r\n");
    EXPECT_EQ(StatusOf(cached), "HTTP/1.0 304 Use Cache");
    EXPECT_EQ(HeaderOf(cached, "Content-Range"), "");
}

TEST(Ranges, ParsedPagesScriptsListingsAndStatisticsIgnoreThem) {
    TestServer t;
    t.WriteSite("HTDOCS/p.shtml", "<!--#echo var=\"DOCUMENT_NAME\"-->");
    t.WriteSite("HTDOCS/list/a.txt", "a");
    t.WriteSite("CGI-BIN/s.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n0123456789'\n");
    std::filesystem::permissions(t.Site("CGI-BIN/s.cgi"), std::filesystem::perms(0755));
    for (const char* path : {"/p.shtml", "/cgi-bin/s.cgi", "/list/", "/~stats"}) {
        const std::string got = Get(t, path, Range("bytes=0-0"));
        EXPECT_EQ(StatusOf(got), "HTTP/1.0 200 Document Follows") << path;
        EXPECT_EQ(HeaderOf(got, "Content-Range"), "") << path;
        EXPECT_EQ(HeaderOf(got, "Content-Length"), std::to_string(BodyOf(got).size())) << path;
    }
    EXPECT_EQ(BodyOf(Get(t, "/cgi-bin/s.cgi", Range("bytes=0-0"))), kDigits);
    EXPECT_EQ(t.Exchange("GET /list/a.txt\r\n"), "a") << "a simple request has no headers";
}

TEST(Ranges, LargeFilesAndKeptAliveConnections) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    t.WriteSite("HTDOCS/big.bin", big);
    // The small-body path and the file-to-socket path, one after the other
    // on one connection: each answer must end exactly where it says.
    auto client = t.Connect();
    const std::string keepAlive = "Connection: Keep-Alive\r\n";
    client->Send("GET /big.bin HTTP/1.0\r\n" + keepAlive + Range("bytes=100000-100099") + "\r\n");
    const std::string small = client->ReadResponse();
    ExpectPart(small, "bytes 100000-100099/200000", big.substr(100000, 100), "small part");
    client->Send("GET /big.bin HTTP/1.0\r\n" + keepAlive + Range("bytes=1000-150999") + "\r\n");
    const std::string large = client->ReadResponse();
    ExpectPart(large, "bytes 1000-150999/200000", big.substr(1000, 150000), "large part");
    client->Send("GET /big.bin HTTP/1.0\r\n" + keepAlive + Range("bytes=-5") + "\r\n");
    ExpectPart(client->ReadResponse(), "bytes 199995-199999/200000", big.substr(199995), "tail");
}

TEST(Ranges, LogsAndStatisticsCountThePart) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", kDigits);
    Get(t, "/d.txt", Range("bytes=1-3"));
    EXPECT_EQ(t.Server().Statistics.BytesSent.load(), 3u);
    EXPECT_NE(t.Log("ACCESS.LOG").find("\"GET /d.txt HTTP/1.0\" 206 3 -"), std::string::npos) << t.Log("ACCESS.LOG");
}
