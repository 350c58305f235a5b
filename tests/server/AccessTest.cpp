// Protected folders end to end: access-control lists of the setup checked
// by a real server over loopback, with realm passwords stored plain or
// hashed, and the guessing throttle.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "auth/AuthACL.h"
#include "auth/AuthRealm.h"
#include "auth/GuessThrottle.h"
#include "platform/PasswordHash.h"
#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using namespace testing_support;

namespace {

// What no answer without the right credentials may carry.
const std::string kSecret = "TOP-SECRET-BYTES";

// Mask bits of the methods (bit n: method code n).
constexpr uint32_t kGet = 1u << 2, kHead = 1u << 3, kPost = 1u << 4, kPut = 1u << 5;

std::string Base64(const std::string& text) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 3) {
        uint32_t n = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) n |= static_cast<unsigned char>(text[i + 1]) << 8;
        if (i + 2 < text.size()) n |= static_cast<unsigned char>(text[i + 2]);
        out += digits[n >> 18 & 63];
        out += digits[n >> 12 & 63];
        out += i + 1 < text.size() ? digits[n >> 6 & 63] : '=';
        out += i + 2 < text.size() ? digits[n & 63] : '=';
    }
    return out;
}

std::string Credentials(const std::string& user, const std::string& password) {
    return "Authorization: Basic " + Base64(user + ":" + password) + "\r\n";
}

AuthACL List(const std::string& path, const std::string& realm, std::initializer_list<AuthAccess> entries) {
    AuthACL list;
    list.SetPath(path);
    list.Realm = realm;
    for (const AuthAccess& entry : entries) list.AddAccess(entry);
    return list;
}

// The realm Staff "A" (a name that needs escaping): alice (plain), bob
// (yescrypt), carol ($6$), dave ($2b$), erin (a member of the group
// readers); admin is the master user.
void Staff(HTTPConfiguration& c) {
    AuthRealm realm;
    realm.SetName("Staff \"A\"", "");
    realm.AddUser(AuthUser("alice", "alicepw"));
    realm.AddUser(AuthUser("bob", platform::HashPassword("bobpw")));
    realm.AddUser(AuthUser("carol", "$6$5cW6paMxN.ro5.gs$tOIei./K5EOumHwTXSoUeO5wg8OwM356GWzUhcEhxtJw4XlGKBcIb4."
                                    "iCVcIt0z..vsFgRM4QJ5eZrMTHZTes0"));                  // carolpw
    realm.AddUser(AuthUser("dave", "$2b$05$otLJmoxHrbMytP7ybfY8UeFADFaBW5lExbMJ87eEHHRBSJ.SNbK8K"));  // carolpw
    realm.AddUser(AuthUser("erin", "erinpw"));
    AuthGroup readers;
    readers.SetName("readers");
    readers.AddUsername("erin");
    realm.AddGroup(readers);
    c.RealmList.push_back(realm);
    const std::string name = realm.Name;
    c.AccessControlList.push_back(List("/priv", name,
                                       {AuthAccess("alice", 0, kGet | kHead | kPost), AuthAccess("bob", 0, kGet),
                                        AuthAccess("carol", 0, kGet), AuthAccess("dave", 0, kGet),
                                        AuthAccess("readers", 1, kGet | kHead)}));
    // Below it, only bob; an empty list opens its folder again.
    c.AccessControlList.push_back(List("/priv/inner/", name, {AuthAccess("bob", 0, kGet)}));
    c.AccessControlList.push_back(List("/priv/open", name, {}));
    // A realm that is not there (its name could be no store key) lets no one in.
    c.AccessControlList.push_back(List("/gone", "Gone\\\"", {AuthAccess("alice", 0, kGet)}));
    c.UseMasterKey = 1;
    c.MasterPassword = "secret";
}

class Protected : public testing::Test {
protected:
    Protected() {
        for (const char* name : {"priv/s.txt", "priv/inner/s.txt", "priv/dir/a.txt"}) t.WriteSite(std::string("HTDOCS/") + name, kSecret);
        t.WriteSite("HTDOCS/priv/open/o.txt", "open");
        t.WriteSite("HTDOCS/private.txt", "public");
    }
    std::string Get(const std::string& path, const std::string& headers = "", const std::string& method = "GET") {
        return WithoutDates(t.Exchange(method + " " + path + " HTTP/1.0\r\n" + headers + "\r\n"));
    }
    TestServer t{Staff};
};

TEST_F(Protected, TheLongestCoveringListDecidesAtASlashBoundary) {
    EXPECT_EQ(BodyOf(Get("/private.txt")), "public") << "/private is not below /priv";
    EXPECT_EQ(StatusOf(Get("/priv/s.txt")), "HTTP/1.0 401 Access Denied");
    EXPECT_EQ(BodyOf(Get("/priv/s.txt", Credentials("alice", "alicepw"))), kSecret);
    EXPECT_EQ(StatusOf(Get("/priv/inner/s.txt", Credentials("alice", "alicepw"))), "HTTP/1.0 403 Access Denied")
        << "the inner list (written with a trailing slash) grants alice nothing";
    EXPECT_EQ(BodyOf(Get("/priv/inner/s.txt", Credentials("bob", "bobpw"))), kSecret);
    EXPECT_EQ(BodyOf(Get("/priv/open/o.txt")), "open") << "a list without entries protects nothing";
}

TEST_F(Protected, GroupsGrantAndRefusalsChallengeTheRealm) {
    EXPECT_EQ(BodyOf(Get("/priv/s.txt", Credentials("erin", "erinpw"))), kSecret) << "through the group";
    EXPECT_EQ(StatusOf(Get("/priv/s.txt", Credentials("erin", "erinpw"), "POST")), "HTTP/1.0 403 Access Denied")
        << "the group grants no POST";
    EXPECT_EQ(StatusOf(Get("/priv/s.txt", Credentials("bob", "bobpw"), "HEAD")), "HTTP/1.0 403 Access Denied");
    for (const std::string& refused : {Get("/priv/s.txt"), Get("/priv/s.txt", Credentials("alice", "wrong")),
                                       Get("/priv/s.txt", Credentials("nobody", "alicepw"))}) {
        EXPECT_EQ(StatusOf(refused), "HTTP/1.0 401 Access Denied");
        EXPECT_EQ(HeaderOf(refused, "WWW-Authenticate"), "Basic realm=\"Staff \\\"A\\\"\"");
        EXPECT_EQ(refused.find(kSecret), std::string::npos);
    }
    const std::string gone = Get("/gone/s.txt", Credentials("alice", "alicepw"));
    EXPECT_EQ(StatusOf(gone), "HTTP/1.0 401 Access Denied");
    EXPECT_EQ(HeaderOf(gone, "WWW-Authenticate"), "Basic realm=\"Gone\\\\\\\"\"");
}

TEST_F(Protected, EveryKindOfStoredPasswordIsChecked) {
    for (const auto& [user, password] : {std::pair{"alice", "alicepw"}, std::pair{"bob", "bobpw"},
                                         std::pair{"carol", "carolpw"}, std::pair{"dave", "carolpw"}}) {
        EXPECT_EQ(BodyOf(Get("/priv/s.txt", Credentials(user, password))), kSecret) << user;
        EXPECT_EQ(StatusOf(Get("/priv/s.txt", Credentials(user, std::string(password) + "x"))),
                  "HTTP/1.0 401 Access Denied")
            << user;
    }
    EXPECT_NE(BodyOf(Get("/~stats", Credentials("alice", "alicepw"))).find("Password checks:                         8\n"),
              std::string::npos);
}

// A kept-alive connection that showed the right password is not made to
// wait for it to be hashed again; another connection is.
TEST_F(Protected, AConnectionKeepsWhatItProvedAndNoOther) {
    HTTPConfiguration config = *t.Server().Snapshot();
    config.UseKeepAlive = 1;
    t.Server().ReplaceConfiguration(config);
    const auto ask = [&](RawClient& client, const std::string& password) {
        client.Send("GET /priv/s.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n" + Credentials("bob", password) + "\r\n");
        return client.ReadResponse();
    };
    auto first = t.Connect();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(BodyOf(ask(*first, "bobpw")), kSecret);
    EXPECT_EQ(t.Server().Statistics.PasswordChecks.load(), 1u);
    EXPECT_EQ(StatusOf(ask(*first, "wrong")), "HTTP/1.0 401 Access Denied") << "other credentials are checked";
    auto second = t.Connect();
    EXPECT_EQ(BodyOf(ask(*second, "bobpw")), kSecret);
    EXPECT_EQ(t.Server().Statistics.PasswordChecks.load(), 3u);
}

TEST_F(Protected, NoOtherSpellingOrRouteGetsAround) {
    HTTPConfiguration config = *t.Server().Snapshot();
    config.Alias.emplace_back("/mirror", t.Site("HTDOCS/priv"));
    config.Alias.emplace_back("/all", t.Site("HTDOCS"));
    t.Server().ReplaceConfiguration(config);
    t.WriteSite("CGI-BIN/cat.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                                   "echo \"[$PATH_TRANSLATED]\"; cat \"$PATH_TRANSLATED\" 2>/dev/null\n");
    std::filesystem::permissions(t.Site("CGI-BIN/cat.cgi"), std::filesystem::perms(0755));
    const std::string include = "<!--#include virtual=\"/priv/s.txt\" -->|<!--#fsize virtual=\"/mirror/s.txt\" -->";
    t.WriteSite("HTDOCS/page.shtml", include);
    t.WriteSite("HTDOCS/priv/page.shtml", include);
    for (const std::string path : {"/mirror/s.txt", "/all/priv/s.txt", "/%70riv/s.txt", "/PRIV/s.txt", "//priv/s.txt",
                                    "/./priv/./s.txt", "/x/../priv/s.txt", "/priv%2Fs.txt", "/CGI-BIN/cat.cgi/priv/s.txt",
                                    "/page.shtml", "/priv/dir/"}) {
        for (const std::string method : {"GET", "HEAD"}) {
            const std::string got = Get(path, "Range: bytes=0-5\r\n", method);
            EXPECT_EQ(got.find(kSecret.substr(0, 6)), std::string::npos) << method << " " << path << "\n" << got;
        }
    }
    const std::string page = Get("/page.shtml");
    EXPECT_EQ(BodyOf(page), "<b>[SSI Processing Error]</b>|<b>[SSI Processing Error]</b>");
    EXPECT_EQ(BodyOf(Get("/CGI-BIN/cat.cgi/priv/s.txt")), "[]\n") << "no translated path into the folder";
    EXPECT_EQ(BodyOf(Get("/priv/page.shtml", Credentials("alice", "alicepw"))), kSecret + "|16")
        << "a page that passed the same list includes its files";
    EXPECT_EQ(BodyOf(Get("/mirror/s.txt", Credentials("alice", "alicepw"))), kSecret) << "the alias asks the same";
}

TEST_F(Protected, ScriptsSeeTheUserAndTheMasterKeyOnlyWrites) {
    HTTPConfiguration config = *t.Server().Snapshot();
    config.CgiBin.insert(config.CgiBin.begin(), Mapping("/priv/cgi", t.Site("CGI-BIN")));
    t.Server().ReplaceConfiguration(config);
    t.WriteSite("CGI-BIN/who.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n%s %s' \"$AUTH_TYPE\" "
                                   "\"$REMOTE_USER\"\n");
    std::filesystem::permissions(t.Site("CGI-BIN/who.cgi"), std::filesystem::perms(0755));
    EXPECT_EQ(BodyOf(Get("/priv/cgi/who.cgi", Credentials("alice", "alicepw"))), "Basic alice");
    EXPECT_EQ(StatusOf(Get("/priv/cgi/who.cgi")), "HTTP/1.0 401 Access Denied");

    EXPECT_EQ(StatusOf(Get("/priv/s.txt", Credentials("admin", "secret"))), "HTTP/1.0 401 Access Denied")
        << "the master key reads no protected folder";
    EXPECT_EQ(StatusOf(t.Exchange("PUT /priv/new.txt HTTP/1.0\r\n" + Credentials("admin", "secret") +
                                  "Content-Length: 3\r\n\r\nnew")),
              "HTTP/1.0 201 Document Created");
    EXPECT_EQ(StatusOf(t.Exchange("PUT /priv/new.txt HTTP/1.0\r\n" + Credentials("alice", "alicepw") +
                                  "Content-Length: 3\r\n\r\nnew")),
              "HTTP/1.0 403 Access Denied")
        << "alice has no PUT";
}

TEST(ProtectedMasterKey, AHashedMasterPasswordIsChecked) {
    TestServer t([](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterPassword = platform::HashPassword("secret");
    });
    const auto put = [&](const std::string& password) {
        return StatusOf(t.Exchange("PUT /new.txt HTTP/1.0\r\n" + Credentials("admin", password) +
                                   "Content-Length: 3\r\n\r\nnew"));
    };
    // A request with no credentials has nothing to hash: it is refused
    // without the cost of a comparison, whatever its method.
    for (const char* method : {"OPTIONS", "TRACE", "DELETE"}) {
        const std::string refused = t.Exchange(std::string(method) + " /new.txt HTTP/1.0\r\n\r\n");
        EXPECT_EQ(StatusOf(refused), "HTTP/1.0 401 Access Denied") << method;
        EXPECT_FALSE(HeaderOf(refused, "WWW-Authenticate").empty()) << method;
    }
    EXPECT_EQ(t.Server().Statistics.PasswordChecks.load(), 0u);
    EXPECT_EQ(put("wrong"), "HTTP/1.0 401 Access Denied");
    EXPECT_EQ(put("secret"), "HTTP/1.0 201 Document Created");
    EXPECT_EQ(t.Server().Statistics.PasswordChecks.load(), 2u);
}

TEST(ProtectedListing, DisableAutoIndexListsNothingBelowItsPath) {
    TestServer t([](HTTPConfiguration& c) {
        AuthACL list;
        list.SetPath("/quiet");
        list.DisableAutoIndex = 1;
        c.AccessControlList.push_back(list);
    });
    t.WriteSite("HTDOCS/quiet/sub/a.txt", "a");
    t.WriteSite("HTDOCS/loud/a.txt", "a");
    EXPECT_EQ(StatusOf(t.Exchange("GET /quiet/sub/ HTTP/1.0\r\n\r\n")), "HTTP/1.0 404 Resource not found");
    EXPECT_EQ(StatusOf(t.Exchange("GET /QUIET/ HTTP/1.0\r\n\r\n")), "HTTP/1.0 404 Resource not found");
    EXPECT_EQ(StatusOf(t.Exchange("GET /loud/ HTTP/1.0\r\n\r\n")), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(BodyOf(t.Exchange("GET /quiet/sub/a.txt HTTP/1.0\r\n\r\n")), "a") << "files are served";
}

TEST(ProtectedTLS, CredentialsOnlyOverTLSWhileItIsOffered) {
    for (const int allowPlain : {0, 1}) {
        TestServer t([&](HTTPConfiguration& c) {
            Staff(c);
            c.UseTLS = 1;
            c.TLSPort = static_cast<uint32_t>(TestServer::FreePort());
            c.AllowPlainCredentials = allowPlain;
        });
        t.WriteSite("HTDOCS/priv/s.txt", kSecret);
        const std::string got = t.Exchange("GET /priv/s.txt HTTP/1.0\r\n" + Credentials("alice", "alicepw") + "\r\n");
        if (allowPlain) EXPECT_EQ(BodyOf(got), kSecret);
        else EXPECT_EQ(StatusOf(got), "HTTP/1.0 403 HTTPS Required");
    }
}

// Ten failures in a minute shut an address out, with no password compared.
TEST_F(Protected, GuessingIsThrottledPerAddress) {
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(StatusOf(Get("/priv/s.txt", Credentials("alice", "guess" + std::to_string(i)))),
                  "HTTP/1.0 401 Access Denied");
    for (int i = 0; i < 3; ++i) {
        const std::string refused = Get("/priv/s.txt", Credentials("alice", "alicepw"));
        EXPECT_EQ(StatusOf(refused), "HTTP/1.0 429 Too Many Requests");
        EXPECT_EQ(refused.find(kSecret), std::string::npos);
    }
    EXPECT_EQ(StatusOf(Get("/private.txt")), "HTTP/1.0 200 Document Follows") << "requests without credentials go on";
    EXPECT_EQ(t.Server().Statistics.PasswordChecks.load(), 10u);
    EXPECT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("Too many failed credentials") != std::string::npos; }));
    EXPECT_EQ(Occurrences(t.Log("ERROR.LOG"), "Too many failed credentials from 127.0.0.1"), 1u);
}

TEST(GuessThrottleTable, AMinutePassesAndTheTableStaysBounded) {
    GuessThrottle throttle(4096);
    bool first = false;
    const uint32_t start = 0xFFFF0000u;  // the clock wraps during the minute
    for (int i = 0; i < 9; ++i) throttle.Failed("10.0.0.1", start + i);
    throttle.Failed("10.0.0.2", start);
    EXPECT_FALSE(throttle.Blocked("10.0.0.1", start + 100, &first));
    throttle.Failed("10.0.0.1", start + 100);
    EXPECT_TRUE(throttle.Blocked("10.0.0.1", start + 200, &first));
    EXPECT_TRUE(first);
    EXPECT_TRUE(throttle.Blocked("10.0.0.1", start + GuessThrottle::kMinuteMs - 1, &first));
    EXPECT_FALSE(first) << "one refusal is reported per minute";
    EXPECT_FALSE(throttle.Blocked("10.0.0.1", start + GuessThrottle::kMinuteMs, &first)) << "the minute has passed";
    EXPECT_FALSE(throttle.Blocked("10.0.0.2", start + 300, &first));

    // A flood of addresses, while one address keeps being seen.
    const uint32_t later = start + GuessThrottle::kMinuteMs + 1000;
    for (int i = 0; i < 100000; ++i) {
        throttle.Failed("127." + std::to_string(i >> 16) + "." + std::to_string(i >> 8 & 255) + "." +
                            std::to_string(i & 255),
                        later);
        if (i % 1000 == 0) throttle.Failed("10.0.0.1", later);
    }
    EXPECT_EQ(throttle.Size(), 4096u);
    EXPECT_TRUE(throttle.Blocked("10.0.0.1", later, &first)) << "the address seen lately kept its failures";
    EXPECT_FALSE(throttle.Blocked("10.0.0.2", later, &first));
}

}  // namespace
