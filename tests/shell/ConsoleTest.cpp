// The console front end: the real ruvuzerar program, driven with signals.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

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
        config.UseTLS = 0;  // no test takes the HTTPS port of the machine
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
    // A connection in the middle of its head (one that has sent nothing yet
    // is handed to the server only after about a second).
    RawClient idle(c.port);
    ASSERT_TRUE(idle.Send("GET / HTTP/1.0\r\n"));
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

// A program on a terminal of its own (a pseudo-terminal), as a user runs
// it: its standard input, output and error are all the terminal.
class TerminalChild {
public:
    ~TerminalChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    bool Start(const std::vector<std::string>& argv) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return false;
        const std::string terminal = ::ptsname(master_);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            const int fd = ::open(terminal.c_str(), O_RDWR);
            if (fd < 0) ::_exit(127);
            ::dup2(fd, 0);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return pid_ > 0;
    }
    // Reads what the terminal shows until it holds text after from (true),
    // or the time-out passes (false).
    bool WaitForOutput(const std::string& text, size_t from = 0, int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out_.find(text, from) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd ready = {master_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) != 1) continue;
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return false;
            out_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    void Type(const std::string& keys) { EXPECT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
    // Ends the program with SIGTERM; its exit status, 128 + the signal that
    // ended it, or -1 when it does not end.
    int Stop() {
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            // The terminal is kept drained, so that the program never waits to write.
            if (!WaitForOutput("\x01", out_.size(), 100))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    const std::string& Output() const { return out_; }

private:
    int pid_ = -1;
    int master_ = -1;
    std::string out_;
};

// The title stays on the terminal's last line without a line end; a message
// must not run into it ("Varevavo [80] idleResolveLocal: ..."), and the title
// comes back below it.
TEST(Console, MessagesStartOnALineOfTheirOwnOnATerminal) {
    Console c(TestServer::FreePort());
    HTTPConfiguration config;
    ASSERT_TRUE(config.LoadConfiguration("Night Shift"));
    config.BounceSite = "127.0.0.1";
    config.BouncePort = TestServer::FreePort();  // nobody listens: the lookup fails at once
    ASSERT_TRUE(config.SaveConfiguration("Night Shift"));
    TerminalChild terminal;
    ASSERT_TRUE(terminal.Start({RUVUZERAR_PATH, "Night", "Shift"}));
    const std::string title = "Varevavo [" + std::to_string(c.port) + "] idle";
    ASSERT_TRUE(terminal.WaitForOutput(title)) << terminal.Output();
    const size_t before = terminal.Output().size();
    terminal.Type("r");  // resolve the address: the lookup fails and says so
    const std::string says = "ResolveLocal: Could not resolve local name";
    ASSERT_TRUE(terminal.WaitForOutput(says, before)) << terminal.Output();
    const std::string& out = terminal.Output();
    const size_t at = out.find(says, before);
    const size_t newline = out.rfind('\n', at);
    std::string line = out.substr(newline == std::string::npos ? 0 : newline + 1);
    line.resize(at - (newline == std::string::npos ? 0 : newline + 1));
    if (const size_t cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    EXPECT_TRUE(line.empty() || line == "\x1b[K") << "before the message: " << line;
    ASSERT_TRUE(terminal.WaitForOutput(title, at)) << "the title comes back below: " << terminal.Output();
    EXPECT_EQ(terminal.Stop(), 0) << terminal.Output();
}

}  // namespace
