// What no client may do to the server: crash it by hanging up at the wrong
// moment, or lock everyone else out by taking its answers in slowly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "net/Connection.h"
#include "net/ListenThread.h"
#include "net/Socket.h"
#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::RawClient;
using testing_support::TestServer;
using testing_support::WaitUntil;
using testing_support::BodyOf;
using testing_support::Occurrences;
using testing_support::StatusOf;

namespace {

void WriteScript(TestServer& t, const std::string& relative, const std::string& text) {
    t.WriteSite(relative, text);
    std::filesystem::permissions(t.Site(relative), std::filesystem::perms(0755));
}

// A file of the given size that takes no room on disk.
void WriteLargeFile(TestServer& t, const std::string& relative, uintmax_t size) {
    t.WriteSite(relative, "");
    std::filesystem::resize_file(t.Site(relative), size);
}

TEST(Scripts, SeeNoDescriptorOfTheServerButTheirStandardHandles) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    // Lists the script's open descriptors (the one its listing of the
    // folder used is closed again by then).
    WriteScript(t, "CGI-BIN/fds.cgi",
                "#!/usr/bin/python3\n"
                "import os\n"
                "fds = [f for f in sorted(map(int, os.listdir('/proc/self/fd'))) if os.path.exists('/proc/self/fd/%d' % f)]\n"
                "print('Content-Type: text/plain\\n')\n"
                "print(' '.join(map(str, fds)), end='')\n");
    // Connections in every state, and cached files, while the script starts.
    t.WriteSite("HTDOCS/a.txt", "a");
    auto kept = t.Connect();
    kept->Send("GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(BodyOf(kept->ReadResponse()), "a");
    auto silent = t.Connect();
    EXPECT_EQ(BodyOf(t.Exchange("GET /CGI-BIN/fds.cgi HTTP/1.0\r\n\r\n")), "0 1 2");
}

TEST(Reliability, ClientsHangingUpWhileScriptsStartCannotCrashTheServer) {
    TestServer t([](HTTPConfiguration& c) { c.NumThreads = 32; });
    WriteScript(t, "CGI-BIN/s.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\nscript'\n");
    WriteLargeFile(t, "HTDOCS/big.bin", 20u << 20);
    std::atomic<int> scripts{0};
    std::thread runner([&] {
        for (int i = 0; i < 80; ++i)
            if (BodyOf(t.Exchange("GET /CGI-BIN/s.cgi HTTP/1.0\r\n\r\n")) == "script") ++scripts;
    });
    // Each takes the first bytes of a large answer and hangs up while the
    // rest is leaving, so connections end in the loop as scripts start.
    std::vector<std::thread> quitters;
    for (int q = 0; q < 2; ++q) {
        quitters.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                RawClient c(t.Port());
                c.Send("GET /big.bin HTTP/1.0\r\n\r\n");
                c.ReadExactly(1000, 2000);
            }
        });
    }
    runner.join();
    for (auto& q : quitters) q.join();
    EXPECT_EQ(scripts.load(), 80);
    t.WriteSite("HTDOCS/alive.txt", "alive");
    EXPECT_EQ(BodyOf(t.Exchange("GET /alive.txt HTTP/1.0\r\n\r\n")), "alive");
}

TEST(SlowClients, AClientThatTakesItsAnswerTooSlowlyGivesWayWhenThePoolIsFull) {
    TestServer t;  // a pool of 8
    WriteLargeFile(t, "HTDOCS/big.bin", 64u << 20);
    t.WriteSite("HTDOCS/n.txt", "newcomer");
    const std::string big = "GET /big.bin HTTP/1.0\r\n\r\n";
    // One client takes its download in steadily, seven take in nothing.
    auto steady = std::make_unique<RawClient>(t.Port(), 4096);
    steady->Send(big);
    std::atomic<bool> stop{false};
    std::atomic<size_t> steadyGot{0};
    std::thread reader([&] {
        while (!stop) {
            steadyGot += steady->ReadExactly(32768, 200).size();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    struct Joined {
        std::atomic<bool>& stop;
        std::thread& reader;
        ~Joined() {
            stop = true;
            reader.join();
        }
    } joined{stop, reader};
    // Six take in nothing after the head (each answered before the next
    // comes, so none sees the overload a later hand-over sets), and one
    // silent client holds the last slot.
    std::vector<std::unique_ptr<RawClient>> stalled;
    for (int i = 0; i < 6; ++i) {
        stalled.push_back(std::make_unique<RawClient>(t.Port(), 4096));
        stalled.back()->Send(big);
        EXPECT_EQ(StatusOf(stalled.back()->ReadHead(2000)), "HTTP/1.0 200 Document Follows") << i;
    }
    auto silent = t.Connect();
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 8; }, 3000))
        << t.Server().Listener.BusyCount();
    // Once the stalled answers have been measured taking in nothing (the
    // first period may still fill the client's buffers), each newcomer (that
    // takes in nothing either) takes the slot of the oldest.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * Connection::kSendJudgeTime + 300));
    std::vector<std::unique_ptr<RawClient>> newcomers;
    for (int i = 0; i < 6; ++i) {
        newcomers.push_back(std::make_unique<RawClient>(t.Port(), 4096));
        newcomers.back()->Send(big);
        EXPECT_EQ(StatusOf(newcomers.back()->ReadHead(2000)), "HTTP/1.0 200 Document Follows") << i;
    }
    // What the evicted clients' buffers held comes out, then the end.
    for (size_t i = 0; i < stalled.size(); ++i) {
        EXPECT_LT(stalled[i]->ReadAll(2000).size(), size_t{1} << 20) << "stalled " << i;
        EXPECT_TRUE(stalled[i]->PeerClosed(0)) << "stalled " << i;
    }
    // The newcomers took their slots by eviction and their answers wait,
    // not measured yet: on probation, they give way to the next newcomer at
    // once. The steady client is never judged slow and keeps its slot.
    const std::string next = t.Exchange("GET /n.txt HTTP/1.0\r\n\r\n", 2000);
    EXPECT_TRUE(BodyOf(next) == "newcomer" || StatusOf(next) == "HTTP/1.0 503 Server overloaded") << next;
    const size_t before = steadyGot;
    EXPECT_TRUE(WaitUntil([&] { return steadyGot > before + 65536; }, 3000)) << "the steady download goes on";
}

}  // namespace

namespace {

// A script that runs until the test opens its gate.
void WriteGatedScript(TestServer& t) {
    WriteScript(t, "CGI-BIN/gate.cgi",
                "#!/bin/sh\nwhile [ ! -e '" + t.Site("gate") +
                    "' ]; do sleep 0.02; done\nprintf 'Content-Type: text/plain\\n\\nran'\n");
}

std::unique_ptr<RawClient> AskForScript(TestServer& t) {
    auto c = t.Connect();
    c->Send("GET /CGI-BIN/gate.cgi HTTP/1.0\r\n\r\n");
    return c;
}

TEST(ScriptFlood, ScriptsWaitTheirTurnApartFromThePoolAndTheRestAreTurnedAway) {
    TestServer t;  // a pool of 8: eight scripts at once, sixty-four waiting
    WriteGatedScript(t);
    t.WriteSite("HTDOCS/d.txt", "document");
    std::vector<std::unique_ptr<RawClient>> running, waiting;
    for (int i = 0; i < 8; ++i) running.push_back(AskForScript(t));
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 8; }, 5000));
    for (int i = 0; i < 64; ++i) waiting.push_back(AskForScript(t));
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 72; }, 5000))
        << t.Server().Listener.BusyCount();
    // The scripts hold no slot: documents are served as ever.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(BodyOf(t.Exchange("GET /d.txt HTTP/1.0\r\n\r\n")), "document");
    // One more finds the wait full: turned away at once, told when to retry.
    const std::string refused = t.Exchange("GET /CGI-BIN/gate.cgi HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusOf(refused), "HTTP/1.0 503 Server overloaded");
    EXPECT_NE(refused.find("\r\nRetry-After: 5\r\n"), std::string::npos) << refused;
    // Once the scripts may end, every waiting request runs in its turn.
    t.WriteSite("gate", "");
    for (auto& c : running) EXPECT_EQ(BodyOf(c->ReadAll()), "ran");
    for (auto& c : waiting) EXPECT_EQ(BodyOf(c->ReadAll()), "ran");
    EXPECT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 0; }, 3000));
}

TEST(ScriptFlood, AWaitLongerThanTheScriptTimeOutIsTurnedAway) {
    TestServer t([](HTTPConfiguration& c) { c.CGITimeOut = 3000; });
    WriteGatedScript(t);
    // Eight run until the time-out ends them; the ninth waiting would have
    // to wait two rounds.
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 8; ++i) clients.push_back(AskForScript(t));
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 8; }, 5000)) << t.Server().Listener.BusyCount();
    // Well after them, so that the first eight waiting are still within
    // their time when the running ones are ended.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int i = 0; i < 9; ++i) clients.push_back(AskForScript(t));
    const std::string answer = clients.back()->ReadAll(8000);
    EXPECT_EQ(StatusOf(answer), "HTTP/1.0 503 Server overloaded") << answer;
    clients.clear();
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 0; }, 5000));
    // A flush reaches the requests of the scripts' lane too.
    for (int i = 0; i < 9; ++i) clients.push_back(AskForScript(t));
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 9; }, 3000)) << t.Server().Listener.BusyCount();
    t.Server().Listener.Flush();
    EXPECT_EQ(clients.back()->ReadAll(3000), "");
}

}  // namespace

namespace {

// Holds every descriptor the process may still open, and gives them back
// one by one.
class DescriptorSqueeze {
public:
    DescriptorSqueeze() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0 && held_.size() < 4096;) held_.push_back(fd);
        rlimit squeezed = saved_;
        squeezed.rlim_cur = static_cast<rlim_t>(held_.back() + 1);
        setrlimit(RLIMIT_NOFILE, &squeezed);
    }
    ~DescriptorSqueeze() {
        for (int fd : held_) close(fd);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }
    void Free(size_t count) {
        for (; count > 0 && !held_.empty(); --count) {
            close(held_.back());
            held_.pop_back();
        }
    }

private:
    rlimit saved_{};
    std::vector<int> held_;
};

TEST(Descriptors, ConnectionsWaitForDescriptorsAndTheShortageIsLoggedOnce) {
    TestServer t;
    t.WriteSite("HTDOCS/a.txt", "a");
    EXPECT_EQ(BodyOf(t.Exchange("GET /a.txt HTTP/1.0\r\n\r\n")), "a");
    // The error log is read through a descriptor opened beforehand.
    const int logFd = open(t.Site("LOGS/ERROR.LOG").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(logFd, 0);
    const auto errorLog = [logFd] {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = pread(logFd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    };
    std::unique_ptr<RawClient> waiting;
    {
        DescriptorSqueeze squeeze;
        // Room for the client's own socket only: the server cannot take it.
        squeeze.Free(1);
        waiting = t.Connect();
        ASSERT_TRUE(waiting->IsOpen());
        waiting->Send("GET /a.txt HTTP/1.0\r\n\r\n");
        const auto shortage = [&] { return Occurrences(errorLog(), "Cannot accept connections") > 0; };
        ASSERT_TRUE(WaitUntil(shortage, 5000)) << errorLog();
        EXPECT_EQ(waiting->ReadAll(300), "") << "not taken while there is no descriptor";
        // Descriptors come back: the waiting connection is served.
        squeeze.Free(4);
        EXPECT_EQ(BodyOf(waiting->ReadAll()), "a");
    }
    close(logFd);
    const std::string log = t.Log("ERROR.LOG");
    EXPECT_EQ(Occurrences(log, "Cannot accept connections (Too many open files): they wait until a connection ends"), 1u)
        << log;
}

}  // namespace

// A burst of clients that arrives while every loop is busy waits in the
// kernel's queue, all of it: none is dropped to come back a retransmission
// later. No loop takes from this listener, so the queue holds the whole burst.
TEST(Listener, HoldsABurstOfClientsUntilALoopTakesThem) {
    bool listening = false;
    const std::unique_ptr<Socket> listener = ListenThread::OpenListener(0, "127.0.0.1", &listening);
    ASSERT_TRUE(listening);
    SocketAddress name;
    ASSERT_EQ(listener->GetName(&name), 0);
    constexpr int kBurst = 40;
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < kBurst; ++i) {
        clients.push_back(std::make_unique<RawClient>(name.port));
        ASSERT_TRUE(clients.back()->IsOpen());
        ASSERT_TRUE(clients.back()->Send("GET / HTTP/1.0\r\n\r\n"));
    }
    // A client dropped from a full queue comes back no sooner than its first
    // retransmission, 200 ms on; until then only the queue can hand it out.
    std::vector<std::unique_ptr<Socket>> taken;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (taken.size() < kBurst && std::chrono::steady_clock::now() < until) {
        if (auto c = listener->Accept()) taken.push_back(std::move(c));
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(taken.size(), static_cast<size_t>(kBurst));
}
