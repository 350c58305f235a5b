// HTTP/1.1 answered as such (UseHTTP11 on): persistent connections by
// default and the rules that end them, Host, Expect: 100-continue, chunked
// request bodies; and the answers of HTTP/1.0 requests and of setups with
// the setting off, which stay as they were.
#include <gtest/gtest.h>

#include <filesystem>

#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::BodyOf;
using testing_support::HeaderOf;
using testing_support::Occurrences;
using testing_support::StatusOf;
using testing_support::TestHome;
using testing_support::TestServer;
using testing_support::WithoutDates;

namespace {

// Prints what it was given: the protocol, CONTENT_LENGTH and the bytes of
// its standard input.
const char* const kEchoScript =
    "#!/bin/sh\n"
    "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
    "printf '%s length=%s body=' \"$SERVER_PROTOCOL\" \"$CONTENT_LENGTH\"\n"
    "/bin/cat\n";
// A complete response of its own, whose length the server does not know.
const char* const kRawScript =
    "#!/bin/sh\n"
    "printf 'HTTP/1.0 200 OK\\r\\nContent-Type: text/plain\\r\\n\\r\\nraw'\n";

const std::string kHost = "Host: localhost\r\n";
const std::string kMaster = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // admin:secret

struct Site {
    explicit Site(const std::function<void(HTTPConfiguration&)>& tweak = {}) : t([&](HTTPConfiguration& c) {
        c.UseHTTP11 = 1;
        c.UseKeepAlive = 1;
        c.RecvTimeOut = 2000;
        c.KeepAlive = 500;
        c.UseMasterKey = 1;
        c.MasterUser = "admin";
        c.MasterPassword = "secret";
        c.MaxBodySize = 100;
        if (tweak) tweak(c);
    }) {
        t.WriteSite("HTDOCS/k.txt", "known");
        t.WriteSite("CGI-BIN/echo.cgi", kEchoScript);
        t.WriteSite("CGI-BIN/raw.cgi", kRawScript);
        for (const char* script : {"CGI-BIN/echo.cgi", "CGI-BIN/raw.cgi"})
            std::filesystem::permissions(t.Site(script), std::filesystem::perms(0755));
    }
    std::string Exchange(const std::string& bytes) { return WithoutDates(t.Exchange(bytes)); }
    TestServer t;
};

}  // namespace

// Without "Connection: Keep-Alive", answers of every kind keep the
// connection, pipelined requests are answered in order, and a "close" in
// any letter case ends it after its answer.
TEST(HTTP11, ConnectionsPersistUntilASideSaysClose) {
    Site s;
    auto client = s.t.Connect();
    client->Send("GET /k.txt HTTP/1.1\r\n" + kHost + "\r\n" + "GET /missing HTTP/1.1\r\n" + kHost + "\r\n" +
                 "GET /~stats HTTP/1.1\r\n" + kHost + "\r\n" + "GET /CGI-BIN/echo.cgi HTTP/1.1\r\n" + kHost +
                 "\r\n" + "POST /CGI-BIN/echo.cgi HTTP/1.1\r\n" + kHost + "Content-Length: 2\r\n\r\nhi");
    const std::string first = client->ReadResponse();
    EXPECT_EQ(StatusOf(first), "HTTP/1.1 200 Document Follows");
    EXPECT_EQ(HeaderOf(first, "Connection"), "");
    EXPECT_EQ(BodyOf(first), "known");
    EXPECT_EQ(StatusOf(client->ReadResponse()), "HTTP/1.1 404 Resource not found") << "a refusal keeps it";
    EXPECT_EQ(StatusOf(client->ReadResponse()), "HTTP/1.1 200 Document Follows");
    EXPECT_EQ(BodyOf(client->ReadResponse()), "HTTP/1.1 length= body=");
    const std::string posted = client->ReadResponse();
    EXPECT_EQ(HeaderOf(posted, "Content-Length"), "25") << "a script's answer to a POST has a length";
    EXPECT_EQ(BodyOf(posted), "HTTP/1.1 length=2 body=hi");
    client->Send("GET /k.txt HTTP/1.1\r\n" + kHost + "Connection: TE, CLOSE\r\n\r\n");
    const std::string last = client->ReadResponse();
    EXPECT_EQ(HeaderOf(last, "Connection"), "close");
    EXPECT_TRUE(client->PeerClosed(2000));
}

// What ends a connection all the same, and says so: keep-alive turned
// off, an answer whose end is the connection's (a script's complete
// response), bytes of the request left unread, an overloaded server.
TEST(HTTP11, ConnectionsEndWhenTheyMust) {
    {
        Site s([](HTTPConfiguration& c) { c.UseKeepAlive = 0; });
        const std::string got = s.Exchange("GET /k.txt HTTP/1.1\r\n" + kHost + "\r\nGET /k.txt HTTP/1.1\r\n" + kHost +
                                           "\r\n");
        EXPECT_EQ(Occurrences(got, "HTTP/1.1 200"), 1u) << got;
        EXPECT_EQ(HeaderOf(got, "Connection"), "close");
    }
    Site s;
    const std::string raw = s.Exchange("GET /CGI-BIN/raw.cgi HTTP/1.1\r\n" + kHost + "\r\nGET /k.txt HTTP/1.1\r\n" +
                                       kHost + "\r\n");
    EXPECT_EQ(raw, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nraw") << "passed on unchanged, then closed";
    const std::string unread = s.Exchange("GET /k.txt HTTP/1.1\r\n" + kHost + "Content-Length: 3\r\n\r\n");
    EXPECT_EQ(HeaderOf(unread, "Connection"), "close") << "a body never read";
    auto client = s.t.Connect();
    client->Send("GET /k.txt HTTP/1.1\r\n" + kHost + "\r\n");
    EXPECT_EQ(HeaderOf(client->ReadResponse(), "Connection"), "");
    s.t.Server().Overloaded = 1;  // as a hand-over at nine tenths of the pool sets it
    client->Send("GET /k.txt HTTP/1.1\r\n" + kHost + "\r\n");
    const std::string busy = client->ReadResponse();
    EXPECT_EQ(StatusOf(busy), "HTTP/1.1 503 Server overloaded");
    EXPECT_EQ(HeaderOf(busy, "Connection"), "close");
    EXPECT_TRUE(client->PeerClosed(2000));
}

TEST(HTTP11, HostIsRequiredOnceAndTheAbsoluteFormNamesIt) {
    Site s;
    EXPECT_EQ(StatusOf(s.Exchange("GET /k.txt HTTP/1.1\r\n\r\n")), "HTTP/1.1 400 Bad or corrupted request");
    EXPECT_EQ(StatusOf(s.Exchange("GET /k.txt HTTP/1.1\r\n" + kHost + kHost + "\r\n")),
              "HTTP/1.1 400 Bad or corrupted request");
    const std::string absolute = s.Exchange("GET http://elsewhere:81/k.txt HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(absolute), "HTTP/1.1 200 Document Follows");
    EXPECT_EQ(BodyOf(absolute), "known");
    std::filesystem::create_directories(s.t.Site("HTDOCS/dir"));
    const std::string moved =
        s.Exchange("GET HTTP://elsewhere:81/dir HTTP/1.1\r\n" + kHost + "Connection: close\r\n\r\n");
    EXPECT_EQ(HeaderOf(moved, "Location"), "http://elsewhere:81/dir/") << "its host stands for Host";
    EXPECT_EQ(StatusOf(s.Exchange("GET /k.txt HTTP/1.0\r\n\r\n")), "HTTP/1.0 200 Document Follows")
        << "HTTP/1.0 needs no Host";
}

// A header line that is not "name: value" may be a Transfer-Encoding to a
// proxy in front, which would then read the body otherwise: 400, and the
// connection ends. HTTP/1.0 requests keep dropping such lines.
TEST(HTTP11, HeaderLinesThatCannotBeReadAreRefused) {
    Site s;
    const char* const lines[] = {"Transfer-Encoding : chunked", " Transfer-Encoding: chunked",
                                 "Transfer-Encoding:\r\n chunked", "Transfer-Encoding", "\tchunked"};
    for (const char* line : lines) {
        const std::string head = "POST /CGI-BIN/echo.cgi HTTP/1.1\r\n" + kHost + line + "\r\nContent-Length: 4\r\n\r\n";
        const std::string got = s.Exchange(head + "2c\r\nGET /k.txt HTTP/1.1\r\n" + kHost + "\r\n");
        EXPECT_EQ(StatusOf(got), "HTTP/1.1 400 Bad or corrupted request") << line;
        EXPECT_EQ(Occurrences(got, "HTTP/1.1 "), 1u) << line;
    }
    EXPECT_EQ(StatusOf(s.Exchange("GET /k.txt HTTP/1.0\r\nTransfer-Encoding : chunked\r\n\r\n")),
              "HTTP/1.0 200 Document Follows");
}

// A body that will be used is asked for with "100 Continue"; one that will
// not is answered at once, without waiting for it, and the connection ends.
TEST(HTTP11, ExpectContinueBothWays) {
    Site s;
    auto client = s.t.Connect();
    client->Send("PUT /new.txt HTTP/1.1\r\n" + kHost + kMaster + "Expect: 100-continue\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(client->ReadHead(), "HTTP/1.1 100 Continue\r\n\r\n");
    client->Send("new");
    EXPECT_EQ(StatusOf(client->ReadResponse()), "HTTP/1.1 201 Document Created");
    EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/new.txt")), "new");
    client->Send("POST /CGI-BIN/echo.cgi HTTP/1.1\r\n" + kHost + "Expect: 100-Continue\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(client->ReadHead(), "HTTP/1.1 100 Continue\r\n\r\n");
    client->Send("ok");
    EXPECT_EQ(BodyOf(client->ReadResponse()), "HTTP/1.1 length=2 body=ok") << "the connection is kept";

    const struct {
        const char* name;
        std::string head;
        const char* status;
    } refused[] = {
        {"no credentials", "PUT /x.txt HTTP/1.1\r\n" + kHost, "HTTP/1.1 401 Access Denied"},
        {"too large", "PUT /x.txt HTTP/1.1\r\n" + kHost + kMaster, nullptr},
        {"not found", "POST /CGI-BIN/none.cgi HTTP/1.1\r\n" + kHost, "HTTP/1.1 404 Resource not found"},
    };
    for (const auto& r : refused) {
        auto c = s.t.Connect();
        const std::string length = r.status ? "Content-Length: 5\r\n" : "Content-Length: 101\r\n";
        c->Send(r.head + "Expect: 100-continue\r\n" + length + "\r\n");
        const std::string got = c->ReadResponse(3000);
        EXPECT_EQ(StatusOf(got), r.status ? r.status : "HTTP/1.1 413 Request Entity Too Large") << r.name;
        EXPECT_EQ(HeaderOf(got, "Connection"), "close") << r.name;
        EXPECT_TRUE(c->PeerClosed(3000)) << r.name;
    }
    EXPECT_FALSE(TestHome::FileExists(s.t.Site("HTDOCS/x.txt")));
    EXPECT_EQ(StatusOf(s.Exchange("GET /k.txt HTTP/1.1\r\n" + kHost + "Expect: something\r\n\r\n")),
              "HTTP/1.1 417 Expectation Failed");
    // HTTP/1.0 has no interim answers: the body is simply read.
    auto old = s.t.Connect();
    old->Send("POST /CGI-BIN/echo.cgi HTTP/1.0\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(old->ReadAll(500), "");
    old->Send("ok");
    const std::string answered = old->ReadAll();
    EXPECT_EQ(StatusOf(answered), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(BodyOf(answered), "HTTP/1.0 length=2 body=ok");
}

// Chunked bodies reach a script and a PUT decoded, with their decoded
// length; a broken coding is 400, a body over MaxBodySize 413, both ending
// the connection; other codings are not decoded.
TEST(HTTP11, ChunkedBodies) {
    Site s;
    const std::string chunked = "Transfer-Encoding: chunked\r\n\r\n";
    const std::string post = "POST /CGI-BIN/echo.cgi HTTP/1.1\r\n" + kHost;
    auto client = s.t.Connect();
    client->Send(post + chunked +
                 "5;name=\"value\"\r\nhello\r\n1\r\n \r\nA\r\nworld12345\r\n0\r\nChecksum: x\r\n\r\n" +
                 "PUT /c.txt HTTP/1.1\r\n" + kHost + kMaster + "Transfer-Encoding: Chunked\r\n\r\n" +
                 "3\r\nput\r\n0\r\n\r\n");
    EXPECT_EQ(BodyOf(client->ReadResponse()), "HTTP/1.1 length=16 body=hello world12345");
    EXPECT_EQ(StatusOf(client->ReadResponse()), "HTTP/1.1 201 Document Created");
    EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/c.txt")), "put");

    const struct {
        const char* name;
        std::string bytes;
        const char* status;
    } bad[] = {
        {"a size that is no number", post + chunked + "x\r\nhello\r\n0\r\n\r\n", "400"},
        {"no line end after the data", post + chunked + "2\r\nhello\r\n0\r\n\r\n", "400"},
        {"a size over 63 bits", "PUT /d.txt HTTP/1.1\r\n" + kHost + kMaster + chunked + "8000000000000000\r\nx\r\n",
         "400"},
        {"a bare line feed", "PUT /d.txt HTTP/1.1\r\n" + kHost + kMaster + chunked + "1\nx\r\n0\r\n\r\n", "400"},
        {"over the limit", post + chunked + "64\r\n" + std::string(100, 'a') + "\r\n1\r\nb\r\n0\r\n\r\n", "413"},
        {"another coding", post + "Transfer-Encoding: gzip, chunked\r\n\r\n", "501"},
        {"chunked twice", post + "Transfer-Encoding: chunked\r\n" + chunked + "0\r\n\r\n", "400"},
        {"and a length", post + "Content-Length: 5\r\n" + chunked + "0\r\n\r\n", "400"},
    };
    for (const auto& b : bad) {
        const std::string got = s.Exchange(b.bytes + "GET /k.txt HTTP/1.1\r\n" + kHost + "\r\n");
        EXPECT_EQ(StatusOf(got).substr(0, 12), "HTTP/1.1 " + std::string(b.status)) << b.name << "\n" << got;
        EXPECT_EQ(Occurrences(got, "HTTP/1.1 "), 1u) << b.name << ": nothing after it is read";
        EXPECT_EQ(HeaderOf(got, "Connection"), "close") << b.name;
    }
    EXPECT_FALSE(TestHome::FileExists(s.t.Site("HTDOCS/d.txt")));
    EXPECT_EQ(StatusOf(s.Exchange("POST /CGI-BIN/echo.cgi HTTP/1.0\r\n" + chunked + "0\r\n\r\n")),
              "HTTP/1.0 411 Length Required")
        << "HTTP/1.0 keeps its answer";
}

// HTTP/1.0 and 0.9 requests get the same bytes whether the setting is on
// or off; with it off, HTTP/1.1 requests get HTTP/1.0 answers.
TEST(HTTP11, OlderAnswersAreUnchanged) {
    const std::string requests[] = {
        "GET /k.txt HTTP/1.0\r\n\r\n",
        "GET /k.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\nGET /missing HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n",
        "HEAD /k.txt HTTP/1.0\r\nExpect: 100-continue\r\n\r\n",
        "POST /CGI-BIN/echo.cgi HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi",
        "GET /CGI-BIN/echo.cgi HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
        "OPTIONS /k.txt HTTP/1.0\r\n\r\n",
        "BREW /k.txt HTTP/1.0\r\n\r\n",
        "GET /k.txt\r\n",
    };
    Site on, off([](HTTPConfiguration& c) { c.UseHTTP11 = 0; });
    for (const std::string& request : requests) EXPECT_EQ(on.Exchange(request), off.Exchange(request)) << request;
    const std::string old = off.Exchange("GET /k.txt HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(StatusOf(old), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(HeaderOf(old, "Connection"), "Keep-Alive");
    EXPECT_EQ(StatusOf(off.Exchange("POST /CGI-BIN/echo.cgi HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")),
              "HTTP/1.0 411 Length Required");
}
