// Clients of both families on one port, and where BindAddress puts the
// port: real servers, real clients over the loopback of each family.
#include <gtest/gtest.h>

#include <filesystem>

#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using namespace testing_support;

namespace {

#define REQUIRE_IPV6() \
    if (!HasIPv6Loopback()) GTEST_SKIP() << "no ::1 here: IPv6 is off"

// Scripts of both kinds that answer with the client's address as they got it.
void WriteAddressScripts(TestServer& t) {
    t.WriteSite("CGI-BIN/addr.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n%s' \"$REMOTE_ADDR\"\n");
    t.WriteSite("CGI-WIN/addr.py", "#!/usr/bin/env python3\nimport sys\n"
                                   "lines = open(sys.argv[1], encoding='latin-1').read().splitlines()\n"
                                   "found = [l.split('=', 1)[1] for l in lines if l.startswith('Remote Address=')]\n"
                                   "open(sys.argv[3], 'w').write('Content-Type: text/plain\\r\\n\\r\\n' + found[0])\n");
    for (const char* script : {"CGI-BIN/addr.cgi", "CGI-WIN/addr.py"})
        std::filesystem::permissions(t.Site(script), std::filesystem::perms(0755));
}

TEST(DualStack, EachFamilyGetsTheSameAnswersUnderItsOwnAddress) {
    REQUIRE_IPV6();
    TestServer t;
    t.WriteSite("HTDOCS/dir/index.html", "<p>same</p>");
    t.WriteSite("HTDOCS/list/a.txt", "a");
    WriteAddressScripts(t);
    const std::string port = std::to_string(t.Port());
    for (const std::string path : {"/dir/", "/list/", "/nothing"}) {
        const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
        EXPECT_EQ(WithoutDates(t.ExchangeAt("::1", request)), WithoutDates(t.ExchangeAt("127.0.0.1", request)))
            << path;
    }
    for (const char* script : {"/CGI-BIN/addr.cgi", "/CGI-WIN/addr.py"}) {
        const std::string request = "GET " + std::string(script) + " HTTP/1.0\r\n\r\n";
        EXPECT_EQ(BodyOf(t.ExchangeAt("::1", request)), "::1") << script;
        EXPECT_EQ(BodyOf(t.ExchangeAt("127.0.0.1", request)), "127.0.0.1") << script;
    }
    EXPECT_EQ(HeaderOf(t.ExchangeAt("::1", "GET /dir HTTP/1.0\r\nHost: [::1]:" + port + "\r\n\r\n"), "Location"),
              "http://[::1]:" + port + "/dir/");
    // Every exchange above is logged under the address it came from.
    EXPECT_TRUE(WaitUntil([&] { return Occurrences(t.Log("ACCESS.LOG"), "\n::1 - - [") == 6; }, 3000))
        << t.Log("ACCESS.LOG");
    EXPECT_EQ(Occurrences("\n" + t.Log("ACCESS.LOG"), "\n127.0.0.1 - - ["), 5u);
    EXPECT_NE(t.Log("ERROR.LOG").find("::1 ["), std::string::npos) << "the missing file";
}

TEST(DualStack, KeptConnectionsOfBothFamiliesKeepTheirOwnAddresses) {
    REQUIRE_IPV6();
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/a.txt", "a");
    WriteAddressScripts(t);
    // Both connections stay open side by side, their requests alternating:
    // each request of each is told and logged under its own address.
    RawClient six("::1", t.Port()), four("127.0.0.1", t.Port());
    ASSERT_TRUE(six.IsOpen() && four.IsOpen());
    const std::string kept = "GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n";
    for (int round = 0; round < 2; ++round) {
        for (RawClient* client : {&six, &four}) {
            ASSERT_TRUE(client->Send(kept));
            EXPECT_EQ(BodyOf(client->ReadResponse()), "a") << round;
        }
    }
    const std::string script = "GET /CGI-BIN/addr.cgi HTTP/1.0\r\n\r\n";
    ASSERT_TRUE(six.Send(script) && four.Send(script));
    EXPECT_EQ(BodyOf(six.ReadAll()), "::1");
    EXPECT_EQ(BodyOf(four.ReadAll()), "127.0.0.1");
    EXPECT_TRUE(WaitUntil([&] { return Occurrences("\n" + t.Log("ACCESS.LOG"), "\n127.0.0.1 - - [") == 3; }, 3000))
        << t.Log("ACCESS.LOG");
    EXPECT_EQ(Occurrences("\n" + t.Log("ACCESS.LOG"), "\n::1 - - ["), 3u) << t.Log("ACCESS.LOG");
}

// Which families reach a server whose BindAddress is bind: {IPv4, IPv6}.
std::pair<bool, bool> Reached(const std::string& bind) {
    TestServer t([&](HTTPConfiguration& c) { c.BindAddress = bind; });
    t.WriteSite("HTDOCS/up.txt", "up");
    const auto answers = [&](const char* address) {
        RawClient client(address, t.Port());
        return client.IsOpen() && client.Send("GET /up.txt HTTP/1.0\r\n\r\n") && BodyOf(client.ReadAll()) == "up";
    };
    return {answers("127.0.0.1"), answers("::1")};
}

TEST(BindAddress, ThePortListensWhereItSays) {
    REQUIRE_IPV6();
    EXPECT_EQ(Reached(""), std::make_pair(true, true));
    EXPECT_EQ(Reached("127.0.0.1"), std::make_pair(true, false));
    EXPECT_EQ(Reached("0.0.0.0"), std::make_pair(true, false));
    EXPECT_EQ(Reached("::1"), std::make_pair(false, true));
    EXPECT_EQ(Reached("localhost"), std::make_pair(true, false))
        << "a name stands for one address: its IPv4 one when it has one (as localhost does), whatever comes first";
}

TEST(BindAddress, AnAddressThatCannotBeBoundOrANameThatCannotBeFoundIsABindFailure) {
    for (const char* bind : {"192.0.2.1", "no-such-host.invalid"}) {
        MessageCapture messages;
        TestServer t([&](HTTPConfiguration& c) { c.BindAddress = bind; });
        EXPECT_FALSE(t.Server().Listener.IsListening()) << bind;
        const auto shown = messages.Messages();
        ASSERT_FALSE(shown.empty()) << bind;
        EXPECT_NE(shown[0].text.find(": Unable to bind socket (port " + std::to_string(t.Port()) + ": "),
                  std::string::npos)
            << shown[0].text;
    }
}

}  // namespace
