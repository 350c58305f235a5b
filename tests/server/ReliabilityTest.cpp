// What no client may do to the server: crash it by hanging up at the wrong
// moment, or lock everyone else out by taking its answers in slowly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "net/Connection.h"
#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::RawClient;
using testing_support::TestServer;
using testing_support::WaitUntil;

namespace {

std::string BodyOf(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string StatusOf(const std::string& response) { return response.substr(0, response.find("\r\n")); }

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
    // The newcomers have not been judged yet, the silent client has not
    // waited five seconds, and the steady client is never judged slow: the
    // next newcomer finds no slot.
    EXPECT_EQ(t.Exchange("GET /n.txt HTTP/1.0\r\n\r\n", 1000), "");
    const size_t before = steadyGot;
    EXPECT_TRUE(WaitUntil([&] { return steadyGot > before + 65536; }, 3000)) << "the steady download goes on";
}

}  // namespace
