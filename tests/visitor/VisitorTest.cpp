// The counter program run by a real server, next to zazezere, on one store.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/RegistryStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestServer.h"
#include "visitor/CounterImage.h"

using namespace platform::reg;
using testing_support::RunProgram;
using testing_support::TestHome;
using testing_support::TestServer;

namespace fs = std::filesystem;

namespace {

// Lays the built program into a CGI-BIN folder (host path) under both names.
void LayProgram(const std::string& cgiBin) {
    fs::create_directories(cgiBin);
    for (const char* name : {"visitor", "visitor.exe"})
        fs::copy_file(VISITOR, cgiBin + "/" + name, fs::copy_options::overwrite_existing);
}

struct Answer {
    std::string status;
    std::string head;
    std::string body;
};

Answer Get(TestServer& t, const std::string& target, const char* method = "GET") {
    const std::string response = t.Exchange(std::string(method) + " " + target + " HTTP/1.0\r\n\r\n", 30000);
    const size_t end = response.find("\r\n\r\n");
    Answer a;
    a.status = response.substr(0, response.find("\r\n"));
    a.head = response.substr(0, end == std::string::npos ? response.size() : end + 2);
    if (end != std::string::npos) a.body = response.substr(end + 4);
    return a;
}

// A counter's stored number; false when it does not exist or is no REG_DWORD.
bool Counter(const std::string& name, uint32_t* count) {
    ScopedKey visitor;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Visitor", visitor.Receive()) != ERROR_SUCCESS) return false;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (RegQueryValueEx(visitor.get(), name, &type, &data) != ERROR_SUCCESS || type != REG_DWORD || data.size() != 4)
        return false;
    *count = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    return true;
}

uint32_t ValueCount() {
    ScopedKey visitor;
    uint32_t values = 0;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Visitor", visitor.Receive()) == ERROR_SUCCESS)
        RegQueryInfoKey(visitor.get(), nullptr, &values);
    return values;
}

void ExpectCounterImage(const Answer& a, uint32_t count) {
    EXPECT_EQ(a.status, "HTTP/1.0 200 Document Follows");
    EXPECT_NE(a.head.find("\r\nContent-Type: image/gif\r\n"), std::string::npos) << a.head;
    EXPECT_NE(a.head.find("\r\nPragma: no-cache\r\n"), std::string::npos) << a.head;
    EXPECT_NE(a.head.find("\r\nExpires: Thu, 01 Jan 1970 00:00:00 GMT\r\n"), std::string::npos) << a.head;
    EXPECT_TRUE(a.body == CounterImage::ForCount(count)) << "not the picture of " << count;
}

void ExpectRefusal(const Answer& a, const std::string& status) {
    EXPECT_EQ(a.status, status);
    EXPECT_NE(a.head.find("\r\nContent-Type: image/gif\r\n"), std::string::npos) << a.head;
    EXPECT_TRUE(a.body == CounterImage::ForError()) << a.status;
}

}  // namespace

TEST(Visitor, RoundTripWithZazezere) {
    TestServer t;
    LayProgram(t.Site("CGI-BIN"));
    ASSERT_EQ(RunProgram({ZAZEZERE}, "frontpage\n1000\n").status, 0);
    ExpectCounterImage(Get(t, "/cgi-bin/visitor?frontpage"), 1001);
    ExpectCounterImage(Get(t, "/cgi-bin/visitor.exe?FrontPage"), 1002);  // names compare without case
    const auto shown = RunProgram({ZAZEZERE}, "frontpage\n1002\n");
    EXPECT_NE(shown.out.find("frontpage exists with a value of (1002)\n"), std::string::npos) << shown.out;

    // A name that does not exist starts at 0 and is created as zazezere would.
    ExpectCounterImage(Get(t, "/cgi-bin/visitor?new%2Bpage"), 1);
    uint32_t count = 0;
    EXPECT_TRUE(Counter("new+page", &count));
    EXPECT_EQ(count, 1u);
    // HEAD shows without counting.
    EXPECT_EQ(Get(t, "/cgi-bin/visitor?new%2Bpage", "HEAD").status, "HTTP/1.0 200 Document Follows");
    EXPECT_TRUE(Counter("new+page", &count));
    EXPECT_EQ(count, 1u);
}

TEST(Visitor, ConcurrentHitsAllCount) {
    TestServer t([](HTTPConfiguration& c) { c.NumThreads = 64; });
    LayProgram(t.Site("CGI-BIN"));
    constexpr int kClients = 20;
    constexpr int kHitsEach = 10;
    std::atomic<int> images{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&] {
            for (int n = 0; n < kHitsEach; ++n)
                if (Get(t, "/cgi-bin/visitor?busy").status == "HTTP/1.0 200 Document Follows") ++images;
        });
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(images.load(), kClients * kHitsEach);
    uint32_t count = 0;
    ASSERT_TRUE(Counter("busy", &count));
    EXPECT_EQ(count, static_cast<uint32_t>(kClients * kHitsEach));
}

TEST(Visitor, NamesZazezereWouldRefuseChangeNothing) {
    TestServer t;
    LayProgram(t.Site("CGI-BIN"));
    ASSERT_EQ(RunProgram({ZAZEZERE}, "kept\n5\n").status, 0);
    for (const std::string& query : {std::string("a%20b"), std::string("a%09b"), std::string(""),
                                     std::string(256, 'n'), std::string("a%00b")})
        ExpectRefusal(Get(t, "/cgi-bin/visitor?" + query), "HTTP/1.0 400 Bad Counter Name");
    ExpectRefusal(Get(t, "/cgi-bin/visitor"), "HTTP/1.0 400 Bad Counter Name");
    ExpectCounterImage(Get(t, "/cgi-bin/visitor?" + std::string(255, 'n')), 1);  // the longest name there is
    EXPECT_EQ(ValueCount(), 2u) << "only kept and the 255-character name";
    uint32_t count = 0;
    EXPECT_TRUE(Counter("kept", &count));
    EXPECT_EQ(count, 5u);
}

TEST(Visitor, AStoreThatCannotBeOpened) {
    // The program in a second home, reached through a CGI folder of its own:
    // first a home without a store, then one whose store is no registry.
    TestHome other;  // points VAREVAVO_HOME at itself: restore the server's home below
    const std::string otherHome = other.Path();
    TestServer t([&](HTTPConfiguration& c) {
        c.CgiBin.insert(c.CgiBin.begin(), Mapping("/other", otherHome + "/drive_c/HTTPD/CGI-BIN"));
    });
    LayProgram(otherHome + "/drive_c/HTTPD/CGI-BIN");
    fs::remove(otherHome + "/registry.db");
    ExpectRefusal(Get(t, "/other/visitor?page"), "HTTP/1.0 500 Counter Store Not Found");
    EXPECT_FALSE(fs::exists(otherHome + "/registry.db")) << "the counter never makes a store";

    const std::string garbage(4096, 'x');
    TestHome::WriteFile(otherHome + "/registry.db", garbage);
    ExpectRefusal(Get(t, "/other/visitor.exe?page"), "HTTP/1.0 500 Counter Store Failed");
    EXPECT_EQ(TestHome::ReadFile(otherHome + "/registry.db"), garbage);

    // The server's own counters are another store, untouched.
    EXPECT_EQ(ValueCount(), 0u);
}
