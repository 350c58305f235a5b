// Where a request ends, seen from the client: bytes over a real connection
// to a real server. Bodies are read only when used, within MaxBodySize;
// lengths are strict; a short body runs nothing; what follows a body is the
// next request; an over-long request line gets a status line; a header line
// is read whole, and a head past its bounds or with bytes no head may hold
// is refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestServer.h"

using testing_support::TestHome;
using testing_support::TestServer;
using testing_support::WaitUntil;
using testing_support::WithoutDates;
using testing_support::Occurrences;
using testing_support::StatusOf;

namespace {

// Counts its runs in CGI-BIN/runs.txt and prints CONTENT_LENGTH and the
// number of bytes it was given.
const char* const kCountingScript =
    "#!/bin/sh\n"
    "echo run >> runs.txt\n"
    "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
    "printf 'length=%s got=%s' \"$CONTENT_LENGTH\" \"$(/usr/bin/wc -c | /usr/bin/tr -d ' ')\"\n";

const char* const kCookieScript =
    "#!/bin/sh\n"
    "printf 'Content-Type: text/plain\\r\\n\\r\\n%s' \"$HTTP_COOKIE\"\n";

struct Site {
    explicit Site(const std::function<void(HTTPConfiguration&)>& tweak = {}) : t([&](HTTPConfiguration& c) {
        c.UseKeepAlive = 1;
        c.RecvTimeOut = 1000;
        c.UseMasterKey = 1;
        c.MasterUser = "admin";
        c.MasterPassword = "secret";  // YWRtaW46c2VjcmV0
        if (tweak) tweak(c);
    }) {
        t.WriteSite("HTDOCS/k.txt", "known");
        t.WriteSite("CGI-BIN/count.cgi", kCountingScript);
        t.WriteSite("CGI-BIN/cookie.cgi", kCookieScript);
        std::filesystem::permissions(t.Site("CGI-BIN/count.cgi"), std::filesystem::perms(0755));
        std::filesystem::permissions(t.Site("CGI-BIN/cookie.cgi"), std::filesystem::perms(0755));
    }
    int Runs() const {
        const std::string runs = t.Home().FileExists(t.Site("CGI-BIN/runs.txt"))
                                     ? TestHome::ReadFile(t.Site("CGI-BIN/runs.txt"))
                                     : std::string();
        return static_cast<int>(std::count(runs.begin(), runs.end(), '\n'));
    }
    // The responses one connection gets for bytes sent at once, until it closes.
    std::string Exchange(const std::string& bytes) { return WithoutDates(t.Exchange(bytes)); }
    mutable TestServer t;
};

TEST(RequestFraming, ABodyIsFollowedByTheNextRequest) {
    Site s;
    const std::string keep = "Connection: Keep-Alive\r\n";
    const std::string next = "GET /k.txt HTTP/1.0\r\n\r\n";
    const struct {
        const char* name;
        std::string first;
    } cases[] = {
        {"an empty body", "GET /k.txt HTTP/1.0\r\n" + keep + "Content-Length: 0\r\n\r\n"},
        {"a script's body", "GET /CGI-BIN/count.cgi HTTP/1.0\r\n" + keep + "Content-Length: 5\r\n\r\nhello"},
        {"a body with a line end after it", "GET /CGI-BIN/count.cgi HTTP/1.0\r\n" + keep +
                                                "Content-Length: 5\r\n\r\nhello\r\n"},
        {"a published document", "PUT /new.txt HTTP/1.0\r\n" + keep +
                                     "Authorization: Basic YWRtaW46c2VjcmV0\r\nContent-Length: 3\r\n\r\nnew"},
    };
    for (const auto& c : cases) {
        const std::string got = s.Exchange(c.first + next);
        EXPECT_EQ(Occurrences(got, "HTTP/1.0 "), 2u) << c.name << "\n" << got;
        EXPECT_TRUE(got.ends_with("\r\n\r\nknown")) << c.name << "\n" << got;
    }
    EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/new.txt")), "new");
}

// Anything but one decimal number, and two lengths that differ, leave the
// end of the request unknown: 400, and nothing after it is read as a request.
TEST(RequestFraming, LengthsThatAreNotOneNumberAreRefused) {
    Site s;
    const char* const lengths[] = {"-1", "abc", " 5x", "0x10", "1e3", "+5", "12abc", "5 ",
                                   "9223372036854775808", "18446744073709551621", "5\r\nContent-Length: 6"};
    for (const char* length : lengths) {
        const std::string got = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nConnection: Keep-Alive\r\n"
                                           "Content-Length: " + std::string(length) + "\r\n\r\nhelloGET /k.txt HTTP/1.0\r\n\r\n");
        EXPECT_EQ(StatusOf(got), "HTTP/1.0 400 Bad or corrupted request") << length;
        EXPECT_EQ(Occurrences(got, "HTTP/1.0 "), 1u) << length;
    }
    const std::string chunked = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n"
                                           "5\r\nhello\r\n0\r\n\r\n");
    EXPECT_EQ(StatusOf(chunked), "HTTP/1.0 411 Length Required") << "no transfer coding is decoded";
    const std::string both = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nTransfer-Encoding: chunked\r\n"
                                        "Content-Length: 10\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    EXPECT_EQ(StatusOf(both), "HTTP/1.0 400 Bad or corrupted request") << "a coding and a length: which ends it?";
    EXPECT_EQ(s.Runs(), 0);
    const std::string same = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nContent-Length: 5\r\nContent-Length: 5"
                                        "\r\n\r\nhello");
    EXPECT_NE(same.find("length=5 got=5"), std::string::npos) << "a length repeated alike is one length";
}

// A body that stops short, by a close or by the client's silence, is no
// request: nothing runs, nothing is answered, nothing stays on the disk.
TEST(RequestFraming, AShortBodyRunsNothing) {
    Site s;
    auto closing = s.t.Connect();
    closing->Send("POST /CGI-BIN/count.cgi HTTP/1.0\r\nContent-Length: 100\r\n\r\n0123456789");
    closing->ShutdownWrite();
    EXPECT_EQ(closing->ReadAll(3000), "");
    auto silent = s.t.Connect();
    silent->Send("PUT /x.txt HTTP/1.0\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\nContent-Length: 100\r\n\r\n0123");
    EXPECT_EQ(silent->ReadAll(4000), "") << "closed after the receive time-out, unanswered";
    EXPECT_EQ(s.Runs(), 0);
    EXPECT_FALSE(TestHome::FileExists(s.t.Site("HTDOCS/x.txt")));
    EXPECT_TRUE(s.t.Home().TempFiles().empty());
    EXPECT_EQ(s.t.Log("ACCESS.LOG"), "") << "a request never read whole is not logged";
}

// A client that stops before the blank line (it closes its side, or goes
// silent past the receive time-out) has its request answered with the
// lines it sent; one whose lines announce a body gets nothing, as the body
// cannot have come.
TEST(RequestFraming, AHeadCutShortIsAnswered) {
    for (const int resolve : {0, 1}) {
        Site s([resolve](HTTPConfiguration& c) { c.ResolveName = resolve; });
        auto closing = s.t.Connect();
        closing->Send("GET /k.txt HTTP/1.0\r\nAccept: */*\r\n");
        closing->ShutdownWrite();
        const std::string closed = closing->ReadAll(3000);
        EXPECT_EQ(StatusOf(closed), "HTTP/1.0 200 Document Follows") << resolve;
        EXPECT_TRUE(closed.ends_with("\r\n\r\nknown")) << resolve;
        auto silent = s.t.Connect();
        silent->Send("GET /k.txt HTTP/1.0\r\nUser-Agent: slow");
        EXPECT_TRUE(silent->ReadAll(4000).ends_with("\r\n\r\nknown")) << "answered at the receive time-out";
        auto announced = s.t.Connect();
        announced->Send("POST /CGI-BIN/count.cgi HTTP/1.0\r\nContent-Length: 5\r\n");
        announced->ShutdownWrite();
        EXPECT_EQ(announced->ReadAll(3000), "") << resolve;
        EXPECT_EQ(s.Runs(), 0);
    }
}

TEST(RequestFraming, BodiesAreStoredOnlyWhenUsedAndWithinTheLimit) {
    Site s([](HTTPConfiguration& c) { c.MaxBodySize = 100; });
    const std::string tooLarge = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nContent-Length: 101\r\n\r\n" +
                                            std::string(101, 'x'));
    EXPECT_EQ(StatusOf(tooLarge), "HTTP/1.0 413 Request Entity Too Large");
    EXPECT_EQ(StatusOf(s.Exchange("PUT /big.txt HTTP/1.0\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n"
                                      "Content-Length: 1000000\r\n\r\n")),
              "HTTP/1.0 413 Request Entity Too Large");
    EXPECT_EQ(s.Runs(), 0);
    EXPECT_FALSE(TestHome::FileExists(s.t.Site("HTDOCS/big.txt")));
    EXPECT_NE(s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'x'))
                  .find("length=100 got=100"),
              std::string::npos);

    // A body nothing uses is never stored, however large it says it is, and
    // the connection ends after the answer, so its bytes are no request.
    const std::string announced = "Content-Length: 209715200\r\nConnection: Keep-Alive\r\n\r\n";
    const std::string smuggled = "GET /k.txt HTTP/1.0\r\n\r\n" + std::string(60000, 'y');
    for (const char* head : {"POST /k.txt HTTP/1.0\r\n", "GET /k.txt HTTP/1.0\r\n", "PUT /k.txt HTTP/1.0\r\n",
                             "POST /none.txt HTTP/1.0\r\n"}) {
        auto client = s.t.Connect();
        client->Send(head + announced + smuggled);
        const std::string got = WithoutDates(client->ReadAll(5000));
        EXPECT_EQ(Occurrences(got, "HTTP/1.0 "), 1u) << head << got;
        EXPECT_EQ(got.find("Connection: Keep-Alive"), std::string::npos) << head;
        EXPECT_TRUE(s.t.Home().TempFiles().empty()) << head;
    }
    EXPECT_EQ(s.Runs(), 1);
}

TEST(RequestFraming, NoLimitWithZero) {
    Site s([](HTTPConfiguration& c) { c.MaxBodySize = 0; });
    const std::string body(200000, 'z');
    EXPECT_NE(s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nContent-Length: 200000\r\n\r\n" + body)
                  .find("length=200000 got=200000"),
              std::string::npos);
}

// However much of it was cut, a request line longer than the reader's
// buffer is a full request: 400 with a status line, and the connection ends.
TEST(RequestFraming, AnOverLongRequestLineGetsAStatusLine) {
    Site s;
    for (const std::string& line : {"GET /" + std::string(9000, 'a') + " HTTP/1.0",
                                   "GET /k.txt " + std::string(9000, 'v'), "GET /" + std::string(8186, 'a'),
                                   "GET /" + std::string(20000, 'a')}) {
        const std::string got = s.Exchange(line + "\r\nConnection: Keep-Alive\r\n\r\nGET /k.txt HTTP/1.0\r\n\r\n");
        EXPECT_EQ(StatusOf(got), "HTTP/1.0 400 Bad or corrupted request") << line.size();
        EXPECT_EQ(Occurrences(got, "HTTP/1.0 "), 1u) << line.size();
    }
}

// A framing header far past the first columns is read whole: its body is
// the body, never a request of its own, and a long cookie reaches a script.
TEST(RequestFraming, LongHeaderLinesAreReadWhole) {
    Site s;
    std::string smuggled = "GET /k.txt HTTP/1.0\r\nAccept: ";
    smuggled += std::string(47 - smuggled.size() - 4, 'x') + "\r\n\r\n";
    for (const char fill : {'0', ' '}) {
        for (const size_t size : {257u, 258u, 259u, 270u}) {  // the whole line, CR LF included
            const std::string length = "Content-Length: " + std::string(size - 20, fill) + "47\r\n";
            const std::string got = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nConnection: Keep-Alive\r\n" +
                                               length + "\r\n" + smuggled);
            EXPECT_EQ(Occurrences(got, "HTTP/1.0 "), 1u) << fill << size << got;
            EXPECT_TRUE(got.ends_with("length=47 got=47")) << fill << size << got;
            const std::string coding = "Transfer-Encoding: " + std::string(size - 28, ' ') + "chunked\r\n";
            const std::string refused = s.Exchange("POST /CGI-BIN/count.cgi HTTP/1.0\r\nConnection: Keep-Alive\r\n" +
                                                   coding + "\r\n" + smuggled);
            EXPECT_EQ(StatusOf(refused), "HTTP/1.0 411 Length Required") << size;
            EXPECT_EQ(Occurrences(refused, "HTTP/1.0 "), 1u) << size;
        }
    }
    EXPECT_EQ(s.Runs(), 8);
    std::string cookie;
    // Longer than any one cookie a browser keeps; the whole environment of
    // a script has 8 KiB.
    while (cookie.size() < 6000) cookie += "k" + std::to_string(cookie.size()) + "=v; ";
    EXPECT_TRUE(s.Exchange("GET /CGI-BIN/cookie.cgi HTTP/1.0\r\nCookie: " + cookie + "\r\n\r\n").ends_with(
        "\r\n\r\n" + cookie));
}

// A head past its bounds, or with bytes that other readers take otherwise,
// is refused with 400 whether a loop or a worker reads it (a worker reads
// every head when names are looked up, and a head longer than a loop's
// buffer); the client hears the answer, and nothing after it is a request.
TEST(RequestFraming, BrokenHeadsAreRefused) {
    const auto head = [](const std::string& line, const std::string& headers = {}) {
        return line + "\r\nConnection: Keep-Alive\r\n" + headers + "\r\n";
    };
    const auto lines = [](int count, size_t size) {
        std::string block;
        for (int i = 0; i < count; ++i) block += "Accept: " + std::string(size - 8, 'a') + "\r\n";
        return block;
    };
    const std::string nul(1, '\0');
    const struct {
        const char* name;
        std::string bytes;
        bool refused;
    } cases[] = {
        {"NUL in a header", head("GET /k.txt HTTP/1.0", "Accept: a" + nul + "b\r\n"), true},
        {"NUL in the request line", head("GET /k.txt" + nul + " HTTP/1.0"), true},
        {"bare CR in a header", head("GET /k.txt HTTP/1.0", "Accept: a\rContent-Length: 5\r\n"), true},
        {"bare CR in the request line", head("GET /k.txt HTTP/1.0\r"), true},
        {"vertical tab before a length", head("POST /CGI-BIN/count.cgi HTTP/1.0", "Content-Length:\v5\r\n") + "hello",
         true},
        {"tabs between words", head("GET\t/k.txt\tHTTP/1.0"), true},
        {"a tab before the version", head("GET /k.txt\tHTTP/1.0"), true},
        {"two blanks before the URL", head("GET  /k.txt HTTP/1.0"), true},
        {"two blanks before the version", head("GET /k.txt  HTTP/1.0"), true},
        {"eight blank lines", std::string(8, '\n') + head("GET /k.txt HTTP/1.0"), false},
        {"nine blank lines", std::string(9, '\n') + head("GET /k.txt HTTP/1.0"), true},
        {"the longest line", head("GET /k.txt HTTP/1.0", lines(1, 8190)), false},
        {"a longer line", head("GET /k.txt HTTP/1.0", lines(1, 8191)), true},
        {"100 lines", head("GET /k.txt HTTP/1.0", lines(99, 20)), false},
        {"101 lines", head("GET /k.txt HTTP/1.0", lines(100, 20)), true},
        {"64 KiB of head", head("GET /k.txt HTTP/1.0", lines(8, 8000) + lines(1, 1473)), false},
        {"a byte more", head("GET /k.txt HTTP/1.0", lines(8, 8000) + lines(1, 1474)), true},
    };
    for (const int resolve : {0, 1}) {
        Site s([resolve](HTTPConfiguration& c) { c.ResolveName = resolve; });
        for (const auto& c : cases) {
            const std::string got = s.Exchange(c.bytes + "GET /k.txt HTTP/1.0\r\n\r\n");
            EXPECT_EQ(StatusOf(got), c.refused ? "HTTP/1.0 400 Bad or corrupted request" : "HTTP/1.0 200 Document Follows")
                << c.name << " resolve " << resolve;
            EXPECT_EQ(Occurrences(got, "HTTP/1.0 "), c.refused ? 1u : 2u) << c.name << " resolve " << resolve;
        }
        EXPECT_EQ(s.Runs(), 0);
        EXPECT_TRUE(WaitUntil([&s] { return s.t.Log("ERROR.LOG").find("Bad request head: too many header lines") !=
                                            std::string::npos; }));
    }
}

}  // namespace
