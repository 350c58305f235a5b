// HTTPS on the second port: a real server in its own home, spoken to over
// loopback by a TLS client of the same library.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "net/Socket.h"
#include "platform/Paths.h"
#include "platform/TLSContext.h"
#include "server/HTTPServer.h"
#include "tests/support/TLSClient.h"
#include "tests/support/TestServer.h"

using namespace testing_support;

namespace {

// A server with TLS on a free port of its own; tweak changes it further.
struct TLSServer {
    int tlsPort = TestServer::FreePort();
    TestServer t;
    explicit TLSServer(const std::function<void(HTTPConfiguration&)>& tweak = {})
        : t([&](HTTPConfiguration& c) {
              c.UseTLS = 1;
              c.TLSPort = tlsPort;
              if (tweak) tweak(c);
          }) {
        WaitUntil([this] { return t.Server().Listener.IsListeningTLS(); });
    }
    std::string Certificate() const { return t.Site("TLS/SERVER.CRT"); }
    std::string Key() const { return t.Site("TLS/SERVER.KEY"); }
};

std::string Get(const std::string& target, const std::string& headers = "") {
    return "GET " + target + " HTTP/1.0\r\n" + headers + "\r\n";
}

// A response without its dates, each mention of port (the one the
// connection came to) made one placeholder.
std::string Unported(std::string response, int port) {
    response = WithoutDates(response);
    const std::string number = std::to_string(port);
    for (size_t at = 0; (at = response.find(number, at)) != std::string::npos;)
        response.replace(at, number.size(), "PORT");
    return response;
}

}  // namespace

TEST(TLS, FirstStartMakesASelfSignedPairThatVerifiesAndServesTheSameBytes) {
    TLSServer s;
    s.t.WriteSite("HTDOCS/page.html", "<p>same bytes</p>");
    ASSERT_TRUE(s.t.Server().Listener.IsListeningTLS());
    const std::string log = s.t.Log("ERROR.LOG");
    EXPECT_NE(log.find("Made a self-signed certificate"), std::string::npos) << log;
    EXPECT_NE(log.find("records are encrypted in user space"), std::string::npos) << log;
    EXPECT_EQ(std::filesystem::status(s.Key()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // The pair made verifies for localhost; TLS 1.3 and ALPN http/1.1 (h2 is
    // offered first and not taken).
    TLSClient client(s.Certificate());
    ASSERT_TRUE(client.Connect(s.tlsPort)) << client.Error();
    EXPECT_EQ(client.Protocol(), "TLSv1.3");
    EXPECT_EQ(client.ALPN(), "http/1.1");
    EXPECT_NE(log.find(client.Fingerprint()), std::string::npos) << log;
    ASSERT_TRUE(client.Send(Get("/page.html")));
    const std::string secure = client.ReadAll();
    EXPECT_EQ(WithoutDates(secure), WithoutDates(s.t.Exchange(Get("/page.html"))));
    EXPECT_EQ(BodyOf(secure), "<p>same bytes</p>");
}

TEST(TLS, KeptAliveRequestsAndALargeFileGoThroughTheSession) {
    TLSServer s([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    std::string large(3 << 20, 'x');
    for (size_t i = 0; i < large.size(); i += 4096) large[i] = static_cast<char>('a' + i / 4096 % 26);
    s.t.WriteSite("HTDOCS/large.bin", large);
    s.t.WriteSite("HTDOCS/small.txt", "small");
    TLSClient client;
    ASSERT_TRUE(client.Connect(s.tlsPort)) << client.Error();
    // Two requests in one write: the second waits decrypted in the session.
    ASSERT_TRUE(client.Send(Get("/small.txt", "Connection: Keep-Alive\r\n") + Get("/large.bin")));
    const std::string both = client.ReadAll(10000);
    EXPECT_EQ(Occurrences(both, "HTTP/1.0 200 "), 2u) << both.substr(0, 300);
    ASSERT_GT(both.size(), large.size());
    EXPECT_EQ(both.substr(both.size() - large.size()), large);
}

TEST(TLS, RequestsInRecordsThatArriveTogetherAreEachAnswered) {
    TLSServer s([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    s.t.WriteSite("HTDOCS/small.txt", "small");
    TLSClient client;
    ASSERT_TRUE(client.Connect(s.tlsPort)) << client.Error();
    // The session reads records ahead of the one it opens: those still
    // waiting in it after the first answer are served without a poll, which
    // would never report them.
    const std::string keep = Get("/small.txt", "Connection: Keep-Alive\r\n");
    ASSERT_TRUE(client.SendRecords({keep, keep, Get("/small.txt")}));
    const std::string all = client.ReadAll();
    EXPECT_EQ(Occurrences(all, "HTTP/1.0 200 "), 3u) << all;
}

TEST(TLS, AnswersOfManyRecordsLeaveWholeOnAConnectionThatStaysOpen) {
    TLSServer s([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    std::string large(1 << 20, 'x');
    for (size_t i = 0; i < large.size(); i += 1000) large[i] = static_cast<char>('a' + i / 1000 % 26);
    s.t.WriteSite("HTDOCS/large.bin", large);
    std::filesystem::create_directories(s.t.Site("HTDOCS/many"));
    for (int i = 0; i < 500; ++i) s.t.WriteSite("HTDOCS/many/file-" + std::to_string(i) + ".txt", "x");
    const std::string keep = "Connection: Keep-Alive\r\n";
    const std::string listing = BodyOf(s.t.Exchange(Get("/many/")));
    ASSERT_GT(listing.size(), 2u * 16384);
    TLSClient client;
    ASSERT_TRUE(client.Connect(s.tlsPort)) << client.Error();
    // The last records of a file's answer come while the connection stays
    // open, so nothing may wait for a close to push them out.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(client.Send(Get("/large.bin", keep)));
        std::string got = client.Read(large.size());
        const size_t headEnd = got.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos) << got.size();
        const size_t whole = headEnd + 4 + large.size();
        if (got.size() < whole) got += client.Read(whole - got.size());
        ASSERT_EQ(got.size(), whole);
        EXPECT_EQ(got.substr(headEnd + 4), large);
    }
    // A listing of many records, from memory, ends the connection.
    ASSERT_TRUE(client.Send(Get("/many/", keep)));
    EXPECT_EQ(BodyOf(client.ReadAll()), listing);
}

TEST(TLS, ASecondConnectionResumesWithTheTicketOfTheFirst) {
    TLSServer s;
    TLSClient client;
    ASSERT_TRUE(client.Connect(s.tlsPort)) << client.Error();
    ASSERT_TRUE(client.Send(Get("/")));
    client.ReadAll();  // the ticket comes after the handshake
    EXPECT_FALSE(client.Resumed());
    client.Save();
    ASSERT_TRUE(client.Connect(s.tlsPort, true)) << client.Error();
    EXPECT_TRUE(client.Resumed());
}

TEST(TLS, AReloadTakesAGoodPairAndRefusesABadOneKeepingTheOld) {
    TLSServer s;
    TLSClient first;
    ASSERT_TRUE(first.Connect(s.tlsPort));
    const std::string original = first.Fingerprint();

    // A key that does not match its certificate: refused, the old pair serves.
    std::string fingerprint, error;
    ASSERT_TRUE(platform::TLSContext::MakeSelfSigned(s.t.Home().Path() + "/other.crt", s.Key(), {"localhost"},
                                                     &fingerprint, &error));
    s.t.Server().ReloadConfiguration();
    EXPECT_NE(s.t.Log("ERROR.LOG").find("does not match"), std::string::npos) << s.t.Log("ERROR.LOG");
    TLSClient kept;
    ASSERT_TRUE(kept.Connect(s.tlsPort));
    EXPECT_EQ(kept.Fingerprint(), original);
    // Rubbish in place of the certificate: refused too.
    TestHome::WriteFile(s.Certificate(), "not a certificate");
    s.t.Server().ReloadConfiguration();
    ASSERT_TRUE(kept.Connect(s.tlsPort));
    EXPECT_EQ(kept.Fingerprint(), original);

    // A whole new pair: served from the reload on.
    ASSERT_TRUE(platform::TLSContext::MakeSelfSigned(s.Certificate(), s.Key(), {"localhost"}, &fingerprint, &error));
    s.t.Server().ReloadConfiguration();
    TLSClient renewed(s.Certificate());
    ASSERT_TRUE(renewed.Connect(s.tlsPort)) << renewed.Error();
    EXPECT_EQ(renewed.Fingerprint(), fingerprint);
    EXPECT_NE(fingerprint, original);
}

TEST(TLS, APairUnfitAtStartLeavesHTTPSClosedUntilAReloadBringsAGoodOne) {
    std::string certificate, key;
    TLSServer s([&](HTTPConfiguration& c) {
        certificate = platform::HostPath(c.CertificateFile);
        key = platform::HostPath(c.KeyFile);
        TestHome::WriteFile(certificate, "typo");
        TestHome::WriteFile(key, "typo");
    });
    EXPECT_NE(s.t.Log("ERROR.LOG").find("HTTPS is not served"), std::string::npos) << s.t.Log("ERROR.LOG");
    EXPECT_EQ(TLSExchange(s.tlsPort, Get("/")), "");
    EXPECT_EQ(StatusOf(s.t.Exchange(Get("/"))).substr(0, 12), "HTTP/1.0 200");
    std::string fingerprint, error;
    ASSERT_TRUE(platform::TLSContext::MakeSelfSigned(certificate, key, {"localhost"}, &fingerprint, &error));
    s.t.Server().ReloadConfiguration();
    EXPECT_EQ(StatusOf(TLSExchange(s.tlsPort, Get("/"))).substr(0, 12), "HTTP/1.0 200");
}

TEST(TLS, RedirectsAndScriptsNameHttpsAndTheTLSPort) {
    TLSServer s([](HTTPConfiguration& c) { c.RedirectToTLS = 1; });
    std::filesystem::create_directories(s.t.Site("HTDOCS/folder"));
    const std::string tls = std::to_string(s.tlsPort), plain = std::to_string(s.t.Port());
    const std::string host = "Host: localhost:" + tls + "\r\n";
    EXPECT_EQ(HeaderOf(TLSExchange(s.tlsPort, Get("/folder", host)), "Location"),
              "https://localhost:" + tls + "/folder/");
    // Without a Host header the site address and the TLS port.
    EXPECT_EQ(HeaderOf(TLSExchange(s.tlsPort, Get("/folder")), "Location"), "https://localhost:" + tls + "/folder/");
    // The plain port as before; RedirectToTLS spares a client on this machine.
    EXPECT_EQ(HeaderOf(s.t.Exchange(Get("/folder", "Host: localhost:" + plain + "\r\n")), "Location"),
              "http://localhost:" + plain + "/folder/");

    s.t.WriteSite("CGI-BIN/env.cgi",
                  "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                  "echo \"[$HTTPS][$SERVER_PORT][$REQUEST_SCHEME]\"\n");
    std::filesystem::permissions(s.t.Site("CGI-BIN/env.cgi"), std::filesystem::perms(0755));
    EXPECT_EQ(BodyOf(TLSExchange(s.tlsPort, Get("/CGI-BIN/env.cgi"))), "[on][" + tls + "][https]\n");
    EXPECT_EQ(BodyOf(s.t.Exchange(Get("/CGI-BIN/env.cgi"))), "[][" + plain + "][]\n");
}

TEST(TLS, ListingsPagesScriptsStatsRangesAndPutsAreTheSameBytesAsInClear) {
    TLSServer s([](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterUser = "admin";
        c.MasterPassword = "secret";
        c.AllowPlainCredentials = 1;
    });
    s.t.WriteSite("HTDOCS/list/a.txt", "a");
    s.t.WriteSite("HTDOCS/list/b.html", "<p>b</p>");
    s.t.WriteSite("HTDOCS/footer.html", "<p>footer</p>\n");
    s.t.WriteSite("HTDOCS/page.shtml", "<p>[<!--#echo var=\"SERVER_PORT\" -->]</p><!--#include virtual=\"/footer.html\" -->");
    std::string ranged(5000, 'r');
    for (size_t i = 0; i < ranged.size(); ++i) ranged[i] = static_cast<char>('a' + i % 26);
    s.t.WriteSite("HTDOCS/ranged.bin", ranged);
    // A Windows script answers with the port its profile names.
    s.t.WriteSite("CGI-WIN/port.py", "#!/usr/bin/env python3\nimport sys\n"
                                     "lines = open(sys.argv[1], encoding='latin-1').read().splitlines()\n"
                                     "found = [l.split('=', 1)[1] for l in lines if l.startswith('Server Port=')]\n"
                                     "open(sys.argv[3], 'w').write('Content-Type: text/plain\\r\\n\\r\\n[' + found[0] + ']')\n");
    std::filesystem::permissions(s.t.Site("CGI-WIN/port.py"), std::filesystem::perms(0755));

    const std::string tls = std::to_string(s.tlsPort), plain = std::to_string(s.t.Port());
    EXPECT_EQ(BodyOf(TLSExchange(s.tlsPort, Get("/CGI-WIN/port.py"))), "[" + tls + "]");
    EXPECT_EQ(BodyOf(s.t.Exchange(Get("/CGI-WIN/port.py"))), "[" + plain + "]");
    EXPECT_EQ(BodyOf(TLSExchange(s.tlsPort, Get("/page.shtml"))), "<p>[" + tls + "]</p><p>footer</p>\n");

    for (const std::string& request :
         {Get("/list/"), Get("/page.shtml"), Get("/CGI-WIN/port.py"), Get("/ranged.bin", "Range: bytes=100-4099\r\n"),
          Get("/ranged.bin", "Range: bytes=0-9,4990-\r\n")}) {
        const std::string secure = TLSExchange(s.tlsPort, request);
        EXPECT_EQ(StatusOf(secure).substr(0, 11), "HTTP/1.0 20") << request;
        EXPECT_EQ(Unported(secure, s.tlsPort), Unported(s.t.Exchange(request), s.t.Port())) << request;
    }
    const std::string put = "PUT /put.txt HTTP/1.0\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n"
                            "Content-Length: 4\r\n\r\n";
    const std::string created = TLSExchange(s.tlsPort, put + "tls1");
    EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/put.txt")), "tls1");
    // Replaced once over TLS and once in clear: the same answer.
    const std::string secure = TLSExchange(s.tlsPort, put + "tls2");
    EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/put.txt")), "tls2");
    EXPECT_EQ(Unported(secure, s.tlsPort), Unported(s.t.Exchange(put + "open"), s.t.Port())) << created;
    EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/put.txt")), "open");

    // The statistics page lays out the same lines; only its counts differ.
    const auto shape = [](const std::string& page) {
        return std::regex_replace(page, std::regex("[ 0-9]*[0-9][ 0-9]*"), "#");
    };
    const std::string stats = TLSExchange(s.tlsPort, Get("/~stats"));
    EXPECT_NE(stats.find("TLS connections:"), std::string::npos) << stats;
    EXPECT_EQ(shape(WithoutDates(stats)), shape(WithoutDates(s.t.Exchange(Get("/~stats")))));
}

TEST(TLS, TheMasterKeyIsRefusedInClearWhileTLSIsOn) {
    const auto master = [](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterUser = "admin";
        c.MasterPassword = "secret";
    };
    const std::string put = "PUT /new.txt HTTP/1.0\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n"
                            "Content-Length: 3\r\n\r\nnew";
    {
        TLSServer s(master);
        EXPECT_EQ(StatusOf(s.t.Exchange(put)), "HTTP/1.0 403 HTTPS Required");
        EXPECT_NE(s.t.Log("ERROR.LOG").find("HTTPS Required"), std::string::npos);
        EXPECT_FALSE(TestHome::FileExists(s.t.Site("HTDOCS/new.txt")));
        // Nor is the password asked for in clear: no challenge to answer.
        const std::string asked = s.t.Exchange("DELETE /index.html HTTP/1.0\r\n\r\n");
        EXPECT_EQ(StatusOf(asked), "HTTP/1.0 403 HTTPS Required");
        EXPECT_EQ(HeaderOf(asked, "WWW-Authenticate"), "");
        const std::string secure = TLSExchange(s.tlsPort, put);
        EXPECT_EQ(secure.rfind("HTTP/1.0 20", 0), 0u) << secure;
        EXPECT_EQ(TestHome::ReadFile(s.t.Site("HTDOCS/new.txt")), "new");
    }
    TLSServer allowed([&](HTTPConfiguration& c) {
        master(c);
        c.AllowPlainCredentials = 1;
    });
    const std::string plain = allowed.t.Exchange(put);
    EXPECT_EQ(plain.rfind("HTTP/1.0 20", 0), 0u) << plain;
}

TEST(TLS, ClientsThatDieOrStallInTheHandshakeCostNothingButTheirConnection) {
    TLSServer s([](HTTPConfiguration& c) { c.RecvTimeOut = 1000; });
    // A client that sends half a ClientHello and dies; one that sends
    // rubbish; one that stays silent while others are served.
    RawClient silent(s.tlsPort);
    {
        RawClient half(s.tlsPort);
        half.Send(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));
    }
    RawClient rubbish(s.tlsPort);
    rubbish.Send("GET / HTTP/1.0\r\n\r\n");
    const std::string alert = rubbish.ReadAll();  // at most an alert record, then the end
    EXPECT_TRUE(alert.empty() || alert[0] == '\x15') << alert;
    EXPECT_EQ(StatusOf(TLSExchange(s.tlsPort, Get("/"))).substr(0, 12), "HTTP/1.0 200");
    EXPECT_EQ(StatusOf(s.t.Exchange(Get("/"))).substr(0, 12), "HTTP/1.0 200");
    // The silent one is closed at the receive time-out, like a plain client.
    EXPECT_TRUE(silent.PeerClosed(5000));
    std::string stats;
    EXPECT_TRUE(WaitUntil([&] {
        stats = TLSExchange(s.tlsPort, Get("/~stats"));
        return stats.find("TLS handshakes failed:                   3\n") != std::string::npos;
    }, 5000)) << stats;
    EXPECT_NE(stats.find("Total Errors:                            0\nTLS connections:  "), std::string::npos);
}

TEST(TLS, AnOccupiedTLSPortLeavesThePlainPortServing) {
    Socket taken(static_cast<short>(0), 1);
    SocketAddress name;
    taken.GetName(&name);
    taken.Listen(5);
    TestServer t([&](HTTPConfiguration& c) {
        c.UseTLS = 1;
        c.TLSPort = name.port;
    });
    EXPECT_EQ(StatusOf(t.Exchange(Get("/"))).substr(0, 12), "HTTP/1.0 200");
    EXPECT_FALSE(t.Server().Listener.IsListeningTLS());
    EXPECT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("Cannot serve HTTPS: port") != std::string::npos; }))
        << t.Log("ERROR.LOG");
}

TEST(TLS, TheTicketReachesTheClientWithAGatheredFirstAnswerAndWithoutAnAnswer) {
    TLSServer s([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    std::string mid(100 * 1024, 'm');
    for (size_t i = 0; i < mid.size(); i += 512) mid[i] = static_cast<char>('a' + i / 512 % 26);
    s.t.WriteSite("HTDOCS/mid.bin", mid);
    // The ticket waits for the first answer, here one of many records that
    // gather in one send: the answer arrives whole and the ticket resumes.
    TLSClient first;
    ASSERT_TRUE(first.Connect(s.tlsPort)) << first.Error();
    ASSERT_TRUE(first.Send(Get("/mid.bin", "Connection: Keep-Alive\r\n")));
    std::string got = first.Read(mid.size());
    const size_t headEnd = got.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    if (got.size() < headEnd + 4 + mid.size()) got += first.Read(headEnd + 4 + mid.size() - got.size());
    EXPECT_EQ(got.substr(headEnd + 4), mid);
    first.Save();
    ASSERT_TRUE(first.Connect(s.tlsPort, true)) << first.Error();
    EXPECT_TRUE(first.Resumed());
    // A request that never ends gets no answer: the ticket leaves anyway.
    TLSClient waiting;
    ASSERT_TRUE(waiting.Connect(s.tlsPort)) << waiting.Error();
    ASSERT_TRUE(waiting.Send("GET /mid.bin HTTP/1.0\r\n"));
    EXPECT_EQ(waiting.Read(1, 1000), "");
    waiting.Save();
    ASSERT_TRUE(waiting.Connect(s.tlsPort, true)) << waiting.Error();
    EXPECT_TRUE(waiting.Resumed());
}

// The server's flights are answered by the client before the server reads
// again: with TLS 1.2 twice in a full handshake and once in a resumed one.
TEST(TLS, TLS12HandshakesFullAndResumedServeTheirRequests) {
    TLSServer s;
    s.t.WriteSite("HTDOCS/v.txt", "version");
    TLSClient client;
    client.LimitToTLS12();
    ASSERT_TRUE(client.Connect(s.tlsPort)) << client.Error();
    EXPECT_EQ(client.Protocol(), "TLSv1.2");
    ASSERT_TRUE(client.Send(Get("/v.txt")));
    EXPECT_EQ(BodyOf(client.ReadAll()), "version");
    client.Save();
    ASSERT_TRUE(client.Connect(s.tlsPort, true)) << client.Error();
    EXPECT_TRUE(client.Resumed());
    ASSERT_TRUE(client.Send(Get("/v.txt")));
    EXPECT_EQ(BodyOf(client.ReadAll()), "version");
}
