// The console front end: the real ruvuzerar program, driven with signals.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
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
    EXPECT_TRUE(testing_support::WaitUntil([&] { return c.Get("/").find("console") != std::string::npos; }, 2000));
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

// The socket a service manager listens on for a unit of Type=notify, named
// to the server in NOTIFY_SOCKET.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~NotifySocket() {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool Bound() const { return bound_; }
    // The next message, or empty after timeoutMs.
    std::string Receive(int timeoutMs = 10000) {
        pollfd ready = {fd_, POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) != 1) return {};
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

TEST(Console, TellsTheServiceManagerWhenThePortAcceptsReloadsAndStops) {
    Console c(TestServer::FreePort());
    NotifySocket manager(c.home.Path() + "/notify");
    ASSERT_TRUE(manager.Bound());
    ASSERT_TRUE(c.child.Start({RUVUZERAR_PATH, "Night", "Shift"}));
    const std::string ready = manager.Receive();
    EXPECT_NE(ready.find("READY=1"), std::string::npos) << ready;
    EXPECT_NE(ready.find("STATUS=Varevavo serves setup \"Night Shift\" at http://"), std::string::npos) << ready;
    // Ready means the port accepts: no retry here.
    EXPECT_NE(c.Get("/").find("console"), std::string::npos);

    c.child.Signal(SIGHUP);
    EXPECT_EQ(manager.Receive(), "RELOADING=1");
    EXPECT_NE(manager.Receive().find("READY=1"), std::string::npos);
    c.child.Signal(SIGTERM);
    EXPECT_EQ(manager.Receive(), "STOPPING=1");
    EXPECT_EQ(c.child.Wait(), 0);
}

}  // namespace
