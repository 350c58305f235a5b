// Request heads parsed from bytes, bodies received from a source, and
// responses sent over real loopback connections.
#include <gtest/gtest.h>

#include <cctype>

#include "http/ByteSource.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/Socket.h"
#include "platform/Reply.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestHome.h"

using testing_support::LoopbackPair;
using testing_support::MakeLoopbackPair;
using testing_support::TestHome;

namespace {

// What a client sends after a head, handed out in pieces of at most a few
// bytes; then the client closes, or (silent) goes quiet.
class SentBytes final : public ByteSource {
public:
    std::string rest;
    bool silent = false;
    long ReceiveSome(char* buffer, size_t len, unsigned long) override {
        if (rest.empty()) return silent ? -1 : 0;
        const size_t take = std::min({len, rest.size(), size_t{7}});
        rest.copy(buffer, take);
        rest.erase(0, take);
        return static_cast<long>(take);
    }
};

// A request parsed from the given bytes, whatever follows its head left for
// its body.
struct ReadRequest {
    explicit ReadRequest(const std::string& bytes, bool ended = false) {
        head = request.ParseHead(bytes, ended);
        result = head.outcome == HeadParse::Parsed || head.outcome == HeadParse::Refused;
        if (result) body.rest = bytes.substr(head.used);
        request.SetBodySource(&body);
    }
    HTTPRequest request;
    HeadParse head;
    SentBytes body;
    int result = 0;
};

TEST(RequestLine, WordsMethodsAndVersions) {
    const struct {
        const char* name;
        std::string line;
        int result, method, protocol, major, minor;
        std::string url, query;
    } cases[] = {
        {"simple request", "GET /index.html\r\n", 1, MethodGET, HTTP09, 0, 9, "/index.html", ""},
        {"full request", "GET /a HTTP/1.0\r\n\r\n", 1, MethodGET, HTTP10, 1, 0, "/a", ""},
        {"HTTP/1.1 is read as 1.0", "HEAD /a HTTP/1.1\r\n\r\n", 1, MethodHEAD, HTTP10, 1, 0, "/a", ""},
        {"any version word", "POST /a banana\r\n\r\n", 1, MethodPOST, HTTP10, 1, 0, "/a", ""},
        {"lower-case method", "get /a HTTP/1.0\r\n\r\n", 1, MethodUnknown, HTTP10, 1, 0, "/a", ""},
        {"unknown method", "PATCH /a HTTP/1.0\r\n\r\n", 1, MethodUnknown, HTTP10, 1, 0, "/a", ""},
        {"escapes and query", "GET /a%20b?x=%41 HTTP/1.0\r\n\r\n", 1, MethodGET, HTTP10, 1, 0, "/a b", "x=%41"},
        {"empty query", "GET /? HTTP/1.0\r\n\r\n", 1, MethodGET, HTTP10, 1, 0, "/", ""},
        {"query only is dropped", "GET ?x HTTP/1.0\r\n\r\n", 0, 0, 0, 0, 0, "", ""},
        {"leading blank: the method becomes the URL word", " GET /a HTTP/1.0\r\n\r\n", 1, MethodUnknown, HTTP10, 1, 0, "GET", ""},
        {"every method word", "TRACE / X\r\n\r\n", 1, MethodTRACE, HTTP10, 1, 0, "/", ""},
    };
    for (const auto& c : cases) {
        ReadRequest r(c.line);
        EXPECT_EQ(r.result, c.result) << c.name;
        if (!c.result) continue;
        EXPECT_EQ(r.request.Valid, 1) << c.name;
        EXPECT_EQ(r.request.Method, c.method) << c.name;
        EXPECT_EQ(r.request.Protocol, c.protocol) << c.name;
        EXPECT_EQ(r.request.Major, c.major) << c.name;
        EXPECT_EQ(r.request.Minor, c.minor) << c.name;
        EXPECT_EQ(r.request.URL, c.url) << c.name;
        EXPECT_EQ(r.request.Query, c.query) << c.name;
        EXPECT_EQ(r.request.RequestLine, c.line.substr(0, c.line.find('\r'))) << c.name;
        EXPECT_EQ(r.head.used, c.line.size()) << c.name;
    }
}

TEST(RequestLine, MethodsCompareExactly) {
    EXPECT_EQ(LookupMethod("OPTIONS"), 1);
    EXPECT_EQ(LookupMethod("DELETE"), 6);
    EXPECT_EQ(LookupMethod("Delete"), -1);
    EXPECT_EQ(LookupMethod(""), -1);
}

TEST(RequestLine, DecodedNulStaysInTheUrl) {
    ReadRequest r("GET /a%00.html HTTP/1.0\r\n\r\n");
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.request.URL, std::string("/a\0.html", 8));
}

TEST(RequestLine, OverLongWords) {
    ReadRequest longUrl("GET /" + std::string(1100, 'a') + " HTTP/1.0\r\nAccept: x\r\n\r\n");
    ASSERT_EQ(longUrl.result, 1) << "read whole, so the connection stays in step";
    EXPECT_TRUE(longUrl.request.URLTooLong);
    EXPECT_EQ(longUrl.request.Header[Hdr::Accept], "x");
    ReadRequest longMethod(std::string(1100, 'G') + " /a HTTP/1.0\r\n\r\n");
    ASSERT_EQ(longMethod.result, 1);
    EXPECT_EQ(longMethod.request.Method, MethodUnknown);
    EXPECT_FALSE(longMethod.request.URLTooLong);
    ReadRequest justFits("GET /" + std::string(1022, 'a') + " HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(justFits.request.URLTooLong);
    EXPECT_EQ(justFits.request.URL.size(), 1023u);
}

// A head parses the same however its bytes arrive: every cut before its
// end asks for more, and the whole head uses exactly its own bytes.
TEST(HeadParsing, EveryCutAsksForMoreAndTheWholeIsTheSame) {
    const std::string head =
        "\r\n"
        "POST /cgi-bin/x?q=1 HTTP/1.0\r\n"
        "Content-Length: 4\r\n"
        "User-Agent: split\n"
        "Cookie: a=1\r\n"
        "\r\n";
    const std::string bytes = head + "bodyGET /next HTTP/1.0\r\n\r\n";
    size_t linesRead = 0;
    for (size_t cut = 0; cut < head.size(); ++cut) {
        HTTPRequest request;
        const std::string_view part(bytes.data(), cut);
        const HeadParse parse = request.ParseHead(part, false);
        ASSERT_EQ(parse.outcome, HeadParse::NeedMore) << cut;
        EXPECT_LE(parse.used, cut) << "only whole lines are read";
        EXPECT_GE(parse.used, linesRead) << "what was read stays read";
        linesRead = parse.used;
    }
    HTTPRequest request;
    const HeadParse parse = request.ParseHead(bytes, false);
    ASSERT_EQ(parse.outcome, HeadParse::Parsed);
    EXPECT_EQ(parse.used, head.size()) << "the body and the next request are left";
    EXPECT_EQ(request.Valid, 1);
    EXPECT_EQ(request.BodyLength, 4u);
    EXPECT_EQ(request.Header[Hdr::UserAgent], "split") << "a bare LF ends a line too";
}

// A client that stops before the blank line (it closes, or goes silent)
// has its request read with the lines it sent, unless they announce a body
// that cannot have come.
TEST(HeadParsing, AHeadCutShortStandsUnlessItAnnouncedABody) {
    HTTPRequest waiting;
    EXPECT_EQ(waiting.ParseHead("GET /a HTTP/1.0\r\nAccept: x\r\n", false).outcome, HeadParse::NeedMore);
    EXPECT_EQ(ReadRequest("", true).head.outcome, HeadParse::Unusable);
    EXPECT_EQ(ReadRequest("GET /a HTTP/1.0", true).head.outcome, HeadParse::Unusable) << "no whole request line";
    ReadRequest cut("GET /a HTTP/1.0\r\nAccept: x\r\nReferer: unend", true);
    ASSERT_EQ(cut.head.outcome, HeadParse::Parsed);
    EXPECT_EQ(cut.request.Header[Hdr::Accept], "x");
    EXPECT_EQ(cut.request.Header[Hdr::Referer], "") << "an unended line is not a line";
    EXPECT_EQ(ReadRequest("POST /a HTTP/1.0\r\nContent-Length: 0\r\n", true).head.outcome, HeadParse::Parsed);
    EXPECT_EQ(ReadRequest("POST /a HTTP/1.0\r\nContent-Length: 5\r\n", true).head.outcome, HeadParse::Unusable);
    EXPECT_EQ(ReadRequest("POST /a HTTP/1.0\r\nContent-Length: x\r\n", true).head.outcome, HeadParse::Refused)
        << "bad framing is refused, not dropped";
}

TEST(HeadParsing, RefusalsCarryTheirStatus) {
    const std::string refused[] = {
        "GET  / HTTP/1.0\r\n\r\n",                              // two blanks
        "GET /\t HTTP/1.0\r\n\r\n",                            // a tab
        std::string(9, '\n') + "GET / HTTP/1.0\r\n\r\n",         // a ninth blank line
        "GET / HTTP/1.0\r\nX: a\rb\r\n\r\n",                   // a bare CR
        "GET / HTTP/1.0\r\nAccept: a\rb\r\n\r\n",              // in a known header's value
        "GET / HTTP/1.0\r\nAcc\rept: a\r\n\r\n",               // in a name
        std::string("GET / HTTP/1.0\r\nHost\0: a\r\n\r\n", 28),  // a NUL in a name
        "GET / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n",  // a body we cannot frame
        "GET / HTTP/1.0\r\n" + std::string(HTTPMessage::kLongestLine + 1, 'h') + "\r\n\r\n",
        "GET /" + std::string(9000, 'u'),  // a request line past its bound, judged before its end
    };
    for (const std::string& bytes : refused) {
        HTTPRequest request;
        const HeadParse parse = request.ParseHead(bytes, false);
        EXPECT_EQ(parse.outcome, HeadParse::Refused) << bytes.substr(0, 40);
        EXPECT_EQ(parse.status, 400) << bytes.substr(0, 40);
        EXPECT_EQ(request.Protocol, HTTP10) << "answered with a status line";
        EXPECT_TRUE(request.InputLeft()) << "the connection carries nothing more";
    }
}

TEST(Headers, NamesValuesAndRepeats) {
    ReadRequest r(
        "GET / HTTP/1.0\r\n"
        "content-length: 0\r\n"
        "Accept:text/html\r\n"
        "Accept-Charset : dropped\r\n"
        "X-Unknown: dropped\r\n"
        "no colon line\r\n"
        "Cookie: a=1\r\n"
        "Cookie: b=2\r\n"
        "User-Agent: \t spaced value  \r\n"
        "\r\n");
    ASSERT_EQ(r.result, 1);
    const HTTPRequest& q = r.request;
    EXPECT_EQ(q.Header[Hdr::ContentLength], "0") << "names compare without case";
    EXPECT_EQ(q.Header[Hdr::Accept], "text/html") << "no blank after the colon";
    EXPECT_EQ(q.Header[Hdr::AcceptCharset], "") << "a blank before the colon makes another name";
    EXPECT_EQ(q.Header[Hdr::Cookie], "b=2") << "a repeated header keeps its last value";
    EXPECT_EQ(q.Header[Hdr::UserAgent], "spaced value  ") << "leading white space skipped, trailing kept";
}

// A line is read whole up to its bound, so that nothing of a long value
// poses as a header of its own or is lost.
TEST(Headers, LongLinesAreReadWhole) {
    const std::string prefix = "Referer: ";
    for (size_t fill : {255u, 256u, 257u, 510u, 8190u}) {
        const std::string referer = prefix + std::string(fill - prefix.size(), 'r');
        ReadRequest hidden("POST / HTTP/1.0\r\n" + referer + "Content-Length: 5\r\n\r\n");
        ASSERT_EQ(hidden.result, 1) << fill;
        EXPECT_EQ(hidden.request.Header[Hdr::ContentLength], "") << fill;
        ReadRequest exact("POST / HTTP/1.0\r\n" + referer + "\r\nAccept: a\r\n\r\n");
        EXPECT_EQ(exact.request.Header[Hdr::Accept], "a") << fill;
        EXPECT_EQ(exact.request.Header[Hdr::Referer], referer.substr(prefix.size())) << fill;
        EXPECT_EQ(exact.request.Fault, HeadFault::None) << fill;
    }
}

TEST(Body, LeftOnTheConnectionUntilReadIntoATemporaryFile) {
    TestHome home;
    ReadRequest r("PUT /x HTTP/1.0\r\nContent-Length: 11\r\n\r\nhello world\r\nGET /next\r\n");
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.request.Entity.Type(), EntityNone);
    EXPECT_TRUE(home.TempFiles().empty()) << "nothing is stored before the body is known to be used";
    EXPECT_TRUE(r.request.InputLeft());
    ASSERT_EQ(r.request.ReadBody(), 1);
    ASSERT_EQ(r.request.Entity.Type(), EntityTemp);
    EXPECT_EQ(TestHome::ReadFile(r.request.Entity.FileName()), "hello world");
    EXPECT_EQ(r.request.Entity.FileName().rfind(home.TempDir() + "/varevavo-", 0), 0u);
    EXPECT_NE(r.request.Entity.FileName().find("/ZAD"), std::string::npos);
    EXPECT_FALSE(r.request.InputLeft());
    EXPECT_EQ(r.body.rest, "\r\nGET /next\r\n") << "what follows the body stays for the next request";
}

TEST(Body, ZeroLengthMakesAnEmptyFile) {
    TestHome home;
    ReadRequest r("POST /x HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
    ASSERT_EQ(r.result, 1);
    EXPECT_FALSE(r.request.InputLeft());
    ASSERT_EQ(r.request.ReadBody(), 1);
    ASSERT_EQ(r.request.Entity.Type(), EntityTemp);
    EXPECT_TRUE(TestHome::FileExists(r.request.Entity.FileName()));
    EXPECT_EQ(r.request.Entity.GetSize(), 0u);
}

// A body that stops short, by a close or by silence, is not a request: none
// of it is kept.
TEST(Body, ShortBodyKeepsNothing) {
    TestHome home;
    ReadRequest r("POST /x HTTP/1.0\r\nContent-Length: 100\r\n\r\nonly this");
    ASSERT_EQ(r.result, 1);
    r.body.silent = true;
    EXPECT_EQ(r.request.ReadBody(), 0);
    EXPECT_EQ(r.request.Entity.Type(), EntityNone);
    EXPECT_TRUE(home.TempFiles().empty());
    EXPECT_TRUE(r.request.InputLeft()) << "the connection is out of step";
}

TEST(Body, TemporaryFileGoesWithTheRequest) {
    TestHome home;
    std::string name;
    {
        ReadRequest r("PUT /x HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc");
        ASSERT_EQ(r.request.ReadBody(), 1);
        name = r.request.Entity.FileName();
        EXPECT_TRUE(TestHome::FileExists(name));
    }
    EXPECT_FALSE(TestHome::FileExists(name));
    EXPECT_TRUE(home.TempFiles().empty());
}

TEST(Body, ContentLengthIsOneDecimalNumber) {
    const struct {
        std::string text;
        bool valid;
        uint64_t length;
    } cases[] = {
        {"0", true, 0}, {"0005", true, 5}, {"9223372036854775807", true, 9223372036854775807ULL},
        {"9223372036854775808", false, 0}, {"99999999999999999999999", false, 0}, {"", false, 0},
        {"-1", false, 0}, {"+5", false, 0}, {" 5", false, 0}, {"5 ", false, 0}, {"0x10", false, 0},
        {"1e3", false, 0}, {"12abc", false, 0}, {"5, 5", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t length = 77;
        EXPECT_EQ(ParseContentLength(c.text, &length), c.valid) << c.text;
        EXPECT_EQ(length, c.valid ? c.length : 77u) << c.text;
    }
}

TEST(Parents, Normalisation) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/a/./b/../c", "/a/c"}, {"/a/b/..", "/a/"}, {"/../x", "x"},     {"../../etc", "etc"},
        {"./", ""},              {"a/..", ""},       {"/a/b/./", "/a/b/"}, {"/a/.", "/a/"},
        {".", ""},               {"..", ""},         {"/a/...", "/a/..."}, {"/a/b/c/../../d", "/a/d"},
        {"/.hidden/x", "/.hidden/x"}, {"/a/..b/c", "/a/..b/c"},
    };
    for (const auto& c : cases) {
        std::string path = c.in;
        getparents(&path);
        EXPECT_EQ(path, c.out) << c.in;
    }
    std::string url = "\\a\\..\\b";
    NormalisePath(&url);
    EXPECT_EQ(url, "/b") << "backslashes are slashes first";
}

TEST(Parents, GetWord) {
    std::string line = "GET /x HTTP/1.0", word;
    getword(&word, &line, ' ');
    EXPECT_EQ(word, "GET");
    EXPECT_EQ(line, "/x HTTP/1.0");
    getword(&word, &line, 0);
    EXPECT_EQ(word, "/x HTTP/1.0");
    EXPECT_EQ(line, "");
    line = "nostop";
    getword(&word, &line, '?');
    EXPECT_EQ(word, "nostop");
    EXPECT_EQ(line, "");
}

// A response sent over a connection, as the client receives it.
std::string Written(HTTPResponse& response, bool expectedResult = true) {
    LoopbackPair p = MakeLoopbackPair();
    platform::Reply reply;
    EXPECT_EQ(response.ComposeReply(&reply), expectedResult);
    if (expectedResult) {
        EXPECT_EQ(p.server->SendAll(reply, 2000), 1);
    }
    p.server->ShutDown(2);
    return p.client->ReadAll(2000);
}

TEST(Response, StatusDocumentBytes) {
    HTTPResponse r;
    r.Protocol = HTTP10;
    r.AdminEmail = "webmaster@localhost";
    r.Header[Hdr::Server] = "Varevavo/1.0b3A (Win32; i386)";
    r.Header[Hdr::Date] = "Sun, 06 Nov 1994 08:49:37 GMT";
    r.SetStatus(404);
    const std::string doc =
        "<H1>Resource not found</H1>\n"
        "If problems persist, contact <A HREF=\"mailto:webmaster@localhost\"><i>&lt;webmaster@localhost&gt;</i></A>\n"
        "<hr><i>Varevavo/1.0b3A (Win32; i386)</i>";
    EXPECT_EQ(Written(r),
              "HTTP/1.0 404 Resource not found\r\n"
              "Content-Length: " + std::to_string(doc.size()) + "\r\n"
              "Content-Type: text/html\r\n"
              "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Server: Varevavo/1.0b3A (Win32; i386)\r\n"
              "\r\n" + doc);
}

TEST(Response, ReasonsAndBodies) {
    HTTPResponse r;
    r.Entity.SetData("kept", 4);
    r.SetStatus(200);
    EXPECT_EQ(r.Reason, "Document Follows");
    EXPECT_EQ(r.Entity.Data(), "kept") << "200 by code keeps the body";
    r.SetStatus(200, "Document written");
    EXPECT_NE(r.Entity.Data(), "kept") << "200 with a reason makes a status document";
    EXPECT_EQ(r.Header[Hdr::ContentType], "text/html");
    r.SetStatus(418);
    EXPECT_EQ(r.Reason, "Unclassified Error");
    r.SetStatus(302);
    EXPECT_EQ(r.Entity.Type(), EntityData);
    EXPECT_EQ(r.Header[Hdr::Location], "") << "the location is the caller's";
    HTTPResponse empty;
    empty.SetStatus(500);
    EXPECT_NE(empty.Entity.Data().find("<A HREF=\"mailto:\"><i>&lt;&gt;</i></A>"), std::string::npos);
    const struct {
        int code;
        const char* reason;
    } table[] = {{201, "Document Created"}, {301, "Redirection"},  {304, "Use Cache"},
                 {400, "Bad or corrupted request"}, {401, "Unauthorized"}, {403, "Forbidden"},
                 {405, "Method not allowed"}, {501, "Not Implemented"}, {503, "Not Available"}};
    for (const auto& t : table) EXPECT_STREQ(HTTPResponse::StandardReason(t.code), t.reason) << t.code;
}

TEST(Response, HeadersGoInTableOrder) {
    HTTPResponse r;
    r.Protocol = HTTP10;
    r.Status = 200;
    r.Reason = "Document Follows";
    r.Header[Hdr::Server] = "S";
    r.Header[Hdr::ContentType] = "text/plain";
    EXPECT_EQ(Written(r), "HTTP/1.0 200 Document Follows\r\nContent-Type: text/plain\r\nServer: S\r\n\r\n");
}

TEST(Response, SimpleRequestGetsTheBodyAlone) {
    HTTPResponse r;
    r.Protocol = HTTP09;
    r.SetStatus(404);
    EXPECT_EQ(Written(r), r.Entity.Data());
    EXPECT_EQ(r.Entity.Data().rfind("<H1>Resource not found</H1>", 0), 0u);
}

TEST(Response, FileBodyFromItsOffset) {
    TestHome home;
    std::string content;
    for (int i = 0; i < 1000; ++i) content += static_cast<char>('a' + i % 26);
    TestHome::WriteFile(home.DriveC("f.txt"), content);
    HTTPResponse r;
    r.Protocol = HTTP10;
    r.Entity.SetFile("C:\\f.txt");
    r.Entity.SetOffset(120);
    EXPECT_EQ(r.Entity.GetSize(), 880u);
    r.Raw = 1;
    EXPECT_EQ(Written(r), content.substr(120)) << "a raw response is its file from Offset, nothing else";
    r.Raw = 0;
    r.Status = 200;
    r.Reason = "Document Follows";
    r.Header[Hdr::ContentLength] = "880";
    EXPECT_EQ(Written(r), "HTTP/1.0 200 Document Follows\r\nContent-Length: 880\r\n\r\n" + content.substr(120));
}

TEST(Response, LargeFileBody) {
    TestHome home;
    const std::string content(3 << 20, 'q');
    TestHome::WriteFile(home.DriveC("big.bin"), content);
    HTTPResponse r;
    r.Protocol = HTTP10;
    r.Status = 200;
    r.Entity.SetFile("C:\\big.bin");
    const std::string got = Written(r);
    EXPECT_EQ(got.size(), strlen("HTTP/1.0 200 \r\n\r\n") + content.size());
}

TEST(Response, FileBodyThatCannotBeOpenedSendsNothing) {
    TestHome home;
    HTTPResponse r;
    r.Protocol = HTTP10;
    r.Status = 200;
    r.Header[Hdr::ContentLength] = "10";
    r.Entity.SetFile("C:\\missing.txt");
    EXPECT_EQ(Written(r, false), "") << "no head that promises a body that never comes";
}

TEST(Entity, ComposesItselfAfterAGivenHead) {
    TestHome home;
    TestHome::WriteFile(home.DriveC("e.txt"), "0123456789");
    HTTPEntity e;
    e.SetFile("C:\\e.txt");
    e.SetOffset(2, 5);
    platform::Reply reply;
    reply.head = "head\r\n";
    ASSERT_TRUE(e.ComposeAfterHead(&reply));
    LoopbackPair p = MakeLoopbackPair();
    EXPECT_EQ(p.server->SendAll(reply, 2000), 1);
    p.server->ShutDown(2);
    EXPECT_EQ(p.client->ReadAll(2000), "head\r\n23456") << "the bytes from Offset, as many as the limit allows";
}

TEST(Response, LongReasonIsCutToTheStatusLine) {
    HTTPResponse r;
    r.Protocol = HTTP10;
    r.Status = 500;
    r.Reason = std::string(400, 'x');
    const std::string got = Written(r);
    const size_t end = got.find("\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end + 2, 255u) << "the status line fits its 256-byte buffer";
}

TEST(Response, EmptyEntityComposesNothing) {
    HTTPEntity none;
    platform::Reply reply;
    EXPECT_TRUE(none.ComposeAfterHead(&reply)) << "an empty body adds nothing and succeeds";
    EXPECT_EQ(reply.Size(), 0u);
    EXPECT_EQ(none.GetSize(), 0u);
}

TEST(Entity, LastModifiedOnlyForFiles) {
    TestHome home;
    TestHome::WriteFile(home.DriveC("d.txt"), "x");
    HTTPEntity e;
    FILETIME t;
    e.SetFile("C:\\d.txt");
    EXPECT_EQ(e.LastModified(&t), 1);
    EXPECT_EQ(e.LastModified(nullptr), 0);
    e.SetFile("C:\\missing.txt");
    EXPECT_EQ(e.LastModified(&t), 0);
    e.SetData("abc", 3);
    EXPECT_EQ(e.LastModified(&t), 0);
    EXPECT_EQ(e.GetSize(), 3u);
    const std::string temp = e.SetTemp();
    EXPECT_EQ(e.LastModified(&t), 0);
    e.Discard();
    EXPECT_FALSE(TestHome::FileExists(temp));
    e.SetFile(home.DriveC("d.txt"));
    e.Discard();
    EXPECT_TRUE(TestHome::FileExists(home.DriveC("d.txt"))) << "an existing file is never deleted";

    // A body may be given its own name, or a part of it, again.
    e.SetFile("C:\\d.txt");
    e.SetFile(e.FileName());
    EXPECT_EQ(e.FileName(), "C:\\d.txt");
    EXPECT_EQ(e.LastModified(&t), 1);
    e.SetFile(std::string_view(e.FileName()).substr(0, 4));
    EXPECT_EQ(e.FileName(), "C:\\d");
}

// Names are matched a word at a time: every name in any letter case is
// found, and a name that differs only where no letter stands is not.
TEST(Headers, EveryNameInAnyCaseAndNoNearMiss) {
    for (int i = 1; i < Hdr::Count; ++i) {
        std::string name = HeaderString[i];
        EXPECT_EQ(HeaderIndex(name), i) << name;
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(HeaderIndex(name), i) << name;
        for (size_t k = 0; k < name.size(); k += 2) name[k] = static_cast<char>(std::tolower(name[k]));
        EXPECT_EQ(HeaderIndex(name), i) << name;
        for (size_t k = 0; k < name.size(); ++k) {
            std::string near = name;
            near[k] = name[k] == '-' ? '\r' : static_cast<char>(name[k] ^ 0x40);  // '-' is 0x2D, 0x0D a CR
            EXPECT_EQ(HeaderIndex(near), -1) << near;
        }
    }
    EXPECT_EQ(HeaderIndex("Content_Length"), -1);
    EXPECT_EQ(HeaderIndex("Content-Length "), -1);
}

// A NUL or a bare CR is refused wherever it stands in a long value.
TEST(HeadParsing, AControlByteAnywhereInALongValue) {
    for (const char bad : {'\0', '\r'}) {
        for (size_t at = 0; at < 21; ++at) {
            std::string value(21, 'v');
            value[at] = bad;
            HTTPRequest request;
            const HeadParse parse = request.ParseHead("GET / HTTP/1.0\r\nReferer: " + value + "\r\n\r\n", false);
            EXPECT_EQ(parse.outcome, HeadParse::Refused) << at;
        }
    }
}

}  // namespace
