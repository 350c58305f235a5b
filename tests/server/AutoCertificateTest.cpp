// Automatic certificates: when they fall due, how failures back off, which
// names they are for, and the challenge answer of a real server over
// loopback.
#include <gtest/gtest.h>

#include "config/ACMEChallenge.h"
#include "server/AutoCertificate.h"
#include "server/HTTPServer.h"
#include "tests/support/TLSClient.h"
#include "tests/support/TestServer.h"

using namespace testing_support;

namespace {

constexpr int64_t kDay = 24 * 3600;
constexpr const char* kToken = "k7_Qd-3fZx";
const std::string kPath = std::string(ACMEChallenge::kPathPrefix) + kToken;

// The status code of a response.
std::string Code(const std::string& response) { return StatusOf(response).substr(9, 3); }

std::string Get(const std::string& target, const char* method = "GET") {
    return std::string(method) + " " + target + " HTTP/1.0\r\n\r\n";
}

}  // namespace

TEST(AutoCertificateSchedule, RenewalFallsDueWithAThirdOfTheLifetimeLeft) {
    // Ninety days: due after sixty, whatever the start.
    EXPECT_EQ(AutoCertificate::RenewalTime(1000, 1000 + 90 * kDay), 1000 + 60 * kDay);
    // A six-day certificate: with two days left.
    EXPECT_EQ(AutoCertificate::RenewalTime(0, 6 * kDay), 4 * kDay);
    // Dates the wrong way round make it due at its end, never later.
    EXPECT_EQ(AutoCertificate::RenewalTime(5 * kDay, kDay), kDay);
}

TEST(AutoCertificateSchedule, RetriesBackOffFromAMinuteDoublingToADay) {
    EXPECT_EQ(AutoCertificate::RetryDelay(1), 60);
    EXPECT_EQ(AutoCertificate::RetryDelay(2), 120);
    EXPECT_EQ(AutoCertificate::RetryDelay(3), 240);
    EXPECT_EQ(AutoCertificate::RetryDelay(11), 61440);
    EXPECT_EQ(AutoCertificate::RetryDelay(12), kDay);
    EXPECT_EQ(AutoCertificate::RetryDelay(1000), kDay);
}

TEST(AutoCertificateSchedule, NamesComeFromTheListElseTheSiteAddress) {
    HTTPConfiguration c;
    c.SiteAddress = "site.test";
    c.ACMENames = " a.test,b.test ,, a.test,";
    EXPECT_EQ(AutoCertificate::Names(c), (std::vector<std::string>{"a.test", "b.test"}));
    c.ACMENames = " , ";
    EXPECT_EQ(AutoCertificate::Names(c), (std::vector<std::string>{"site.test"}));
    // Nothing that the helper could take for an option, or that leads out of
    // its folder, is a name.
    c.ACMENames = "-f,../../x,a/b,.hidden,*.site.test";
    EXPECT_EQ(AutoCertificate::Names(c), (std::vector<std::string>{"*.site.test"}));
}

TEST(AutoCertificateSchedule, TheReasonIsTheAuthoritysProblem) {
    const std::string output =
        "uacme: challenge https://ca/chal/1 failed with status invalid\n"
        "uacme: the server reported the following error:\n{\n"
        "  \"type\": \"urn:ietf:params:acme:error:connection\",\n"
        "  \"detail\": \"dial tcp 127.0.0.2:80: connect: connection refused\",\n"
        "  \"status\": 400\n}\n";
    const std::string reason = AutoCertificate::Reason(output);
    EXPECT_NE(reason.find("urn:ietf:params:acme:error:connection"), std::string::npos) << reason;
    EXPECT_NE(reason.find("connection refused"), std::string::npos) << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    EXPECT_EQ(AutoCertificate::Reason("curl: (7) Failed to connect\n\n"), "curl: (7) Failed to connect");
}

// The answer comes from the challenge folder while the challenge is
// pending, before any mapping (here a redirection of the whole folder)
// and never from the document root; once it ends, the path is served as
// any other.
TEST(ACMEChallengeAnswer, APendingChallengeAnswersOnThePlainPortBeforeAnyMapping) {
    TestServer t([](HTTPConfiguration& c) {
        c.AutoCertificate = 1;
        c.Redir.emplace_back("/.well-known", "http://elsewhere.test/", 0);
    });
    t.WriteSite(std::string("HTDOCS/.well-known/acme-challenge/") + kToken, "document root");
    ASSERT_TRUE(ACMEChallenge::Begin(kToken, "authorization.of.token"));
    std::string response = t.Exchange(Get(kPath));
    EXPECT_EQ(Code(response), "200");
    EXPECT_EQ(BodyOf(response), "authorization.of.token");
    EXPECT_EQ(HeaderOf(response, "Content-Length"), "22");
    response = t.Exchange(Get(kPath, "HEAD"));
    EXPECT_EQ(Code(response), "200");
    EXPECT_EQ(BodyOf(response), "");
    // Other methods, and other paths to the same file, are no challenge.
    EXPECT_EQ(Code(t.Exchange("POST " + kPath + " HTTP/1.0\r\nContent-Length: 0\r\n\r\n")), "302");
    EXPECT_EQ(Code(t.Exchange(Get(std::string("/x") + kPath))), "404");
    EXPECT_EQ(Code(t.Exchange(Get(std::string("/.well-known/acme-challenge/%2E%2E%2F") + kToken))), "302");

    ASSERT_TRUE(ACMEChallenge::End(kToken));
    EXPECT_EQ(Code(t.Exchange(Get(kPath))), "302");
}

// A file in the challenge folder whose name is no token is never served,
// and with automatic certificates off no challenge answers at all.
TEST(ACMEChallengeAnswer, OnlyTokensOfTheAlphabetAnswerAndOnlyWhileAutomatic) {
    bool automatic = true;
    TestServer t([&](HTTPConfiguration& c) { c.AutoCertificate = automatic; });
    EXPECT_FALSE(ACMEChallenge::Begin("a.b", "x"));
    EXPECT_FALSE(ACMEChallenge::Begin("a/b", "x"));
    EXPECT_FALSE(ACMEChallenge::Begin("", "x"));
    EXPECT_FALSE(ACMEChallenge::Begin(std::string(256, 'a'), "x"));
    t.WriteSite("TLS/ACME/challenges/a.b", "secret");
    t.WriteSite("TLS/ACME/challenges/a%b", "secret");
    EXPECT_EQ(Code(t.Exchange(Get("/.well-known/acme-challenge/a.b"))), "404");
    EXPECT_EQ(Code(t.Exchange(Get("/.well-known/acme-challenge/a%25b"))), "404");
    EXPECT_EQ(Code(t.Exchange(Get("/.well-known/acme-challenge/"))), "404");
    t.Shutdown();

    automatic = false;
    TestServer off([&](HTTPConfiguration& c) { c.AutoCertificate = automatic; });
    ASSERT_TRUE(ACMEChallenge::Begin(kToken, "authorization"));
    EXPECT_EQ(Code(off.Exchange(Get(kPath))), "404");
}

// Over TLS a pending challenge is no answer. Without the helper's hook at
// hand (the test program's folder has none), the first try says so in the
// error log, the named pair goes on serving, and /~stats shows the state.
TEST(ACMEChallengeAnswer, TheTLSPortNeverAnswersAndAMissingHelperLeavesThePairServing) {
    const int tlsPort = TestServer::FreePort();
    TestServer t([&](HTTPConfiguration& c) {
        c.UseTLS = 1;
        c.TLSPort = tlsPort;
        c.AutoCertificate = 1;
        c.ACMEDirectory = "https://127.0.0.1:1/directory";
    });
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.IsListeningTLS(); }));
    ASSERT_TRUE(ACMEChallenge::Begin(kToken, "authorization"));
    EXPECT_EQ(Code(TLSExchange(tlsPort, Get(kPath))), "404");
    EXPECT_EQ(BodyOf(t.Exchange(Get(kPath))), "authorization");

    ASSERT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("is missing") != std::string::npos; }))
        << t.Log("ERROR.LOG");
    EXPECT_EQ(Occurrences(t.Log("ERROR.LOG"), "Automatic certificate"), 1u);
    EXPECT_EQ(Code(TLSExchange(tlsPort, Get("/~stats"))), "200");
    const std::string stats = BodyOf(t.Exchange(Get("/~stats")));
    EXPECT_NE(stats.find("Certificate renewal:"), std::string::npos) << stats;
    EXPECT_NE(stats.find("Certificate error:            the ACME helper is missing"), std::string::npos) << stats;
    EXPECT_NE(t.Server().Certificates.StatusLine().find("; last error: the ACME helper is missing"),
              std::string::npos);
}
