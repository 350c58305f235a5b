// The console front end: the real ruvuzerar program, driven with signals.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "config/HTTPConfiguration.h"
#include "net/Socket.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestServer.h"

using testing_support::ChildProcess;
using testing_support::RawClient;
using testing_support::TestHome;
using testing_support::TestServer;

namespace {

struct Console {
    explicit Console(int port) : port(port) {
        HTTPConfiguration config;
        config.DefaultConfiguration();
        config.Port = port;
        config.ResolveLocal = 0;
        config.NumThreads = 8;
        config.SaveConfiguration("Night Shift");
        std::filesystem::create_directories(home.DriveC("HTTPD/LOGS"));
        TestHome::WriteFile(home.DriveC("HTTPD/HTDOCS/index.html"), "console");
        ::setenv("VAREVAVO_SHELL", "console", 1);
    }
    bool Start() { return child.Start({RUVUZERAR_PATH, "Night", "Shift"}) && child.WaitForOutput("serves setup"); }
    std::string Get(const std::string& path) {
        RawClient client(port);
        client.Send("GET " + path + " HTTP/1.0\r\n\r\n");
        return client.ReadAll();
    }
    TestHome home;
    int port;
    ChildProcess child;
};

TEST(Console, RunsTheNamedSetupAndEndsOnTerminate) {
    Console c(TestServer::FreePort());
    ASSERT_TRUE(c.Start()) << c.child.Errors();
    EXPECT_NE(c.child.Output().find("serves setup \"Night Shift\""), std::string::npos) << c.child.Output();
    EXPECT_NE(c.Get("/").find("console"), std::string::npos);
    c.child.Signal(SIGTERM);
    EXPECT_EQ(c.child.Wait(), 0);
}

TEST(Console, InterruptEndsCleanly) {
    Console c(TestServer::FreePort());
    ASSERT_TRUE(c.Start());
    c.child.Signal(SIGINT);
    EXPECT_EQ(c.child.Wait(), 0);
}

// Control-C reaches a whole process group, and a wrapper script passes it
// on too: a second signal during the shutdown must not end the process.
TEST(Console, ASecondSignalDuringShutdownStillEndsCleanly) {
    Console c(TestServer::FreePort());
    ASSERT_TRUE(c.Start());
    c.child.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.child.Signal(SIGTERM);
    EXPECT_EQ(c.child.Wait(), 0);
}

TEST(Console, HangupReloadsTheSetupAndReopensLogs) {
    Console c(TestServer::FreePort());
    ASSERT_TRUE(c.Start());
    c.Get("/");
    EXPECT_EQ(testing_support::RotateAndReload(c.child, c.home, "Night Shift", c.port), "");
    c.child.Signal(SIGTERM);
    EXPECT_EQ(c.child.Wait(), 0);
}

TEST(Console, UserSignalFlushesConnections) {
    Console c(TestServer::FreePort());
    ASSERT_TRUE(c.Start());
    RawClient idle(c.port);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.child.Signal(SIGUSR1);
    EXPECT_TRUE(idle.WasReset(5000) || idle.PeerClosed(5000));
    // A connection made while the flush still walks the pool may be reset
    // too; the server serves again once the flush is over.
    std::string got;
    for (int i = 0; i < 20 && got.find("console") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        got = c.Get("/");
    }
    EXPECT_NE(got.find("console"), std::string::npos);
    c.child.Signal(SIGTERM);
    EXPECT_EQ(c.child.Wait(), 0);
}

TEST(Console, PortInUseEndsWithStatusOne) {
    Socket taken(0, 1);
    ASSERT_EQ(taken.Listen(5), 0);
    SocketAddress name;
    taken.GetName(&name);
    Console c(name.port);
    ASSERT_TRUE(c.child.Start({RUVUZERAR_PATH, "Night", "Shift"}));
    EXPECT_EQ(c.child.Wait(), 1);
    EXPECT_NE(c.child.Errors().find("Error: Windows Socket error 10048: Unable to bind socket (port " +
                                    std::to_string(name.port) + ": Address already in use)"),
              std::string::npos)
        << c.child.Errors();
}

}  // namespace
