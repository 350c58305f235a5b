// The connection core end to end: connections waiting in the event loops,
// requests served there or on workers, the slots of the pool, the document
// cache and the grouped log writes, all through a real server on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "server/HTTPServer.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestServer.h"

using testing_support::RawClient;
using testing_support::TestServer;
using testing_support::WaitUntil;
using testing_support::WithoutDates;
using testing_support::BodyOf;
using testing_support::StatusOf;

namespace {

using Clock = std::chrono::steady_clock;

size_t LineCount(const std::string& text) {
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    return lines;
}

const std::string kKeepAlive = " HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n";

TEST(EventCore, PipelinedRequestsAreAnsweredInOrderOnOneConnection) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/a.txt", "first");
    t.WriteSite("HTDOCS/b.txt", "second");
    auto client = t.Connect();
    client->Send("GET /a.txt" + kKeepAlive + "GET /b.txt" + kKeepAlive + "GET /a.txt" + kKeepAlive);
    EXPECT_EQ(BodyOf(client->ReadResponse()), "first");
    EXPECT_EQ(BodyOf(client->ReadResponse()), "second");
    EXPECT_EQ(BodyOf(client->ReadResponse()), "first");
    // After a pause, the kept connection still serves; a request without
    // keep-alive ends it in order.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client->Send("GET /a.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BodyOf(client->ReadResponse()), "first");
    EXPECT_TRUE(client->PeerClosed(2000));
}

TEST(EventCore, ASlowClientDoesNotHoldUpAFastOne) {
    TestServer t;
    t.WriteSite("HTDOCS/s.txt", "slow");
    t.WriteSite("HTDOCS/f.txt", "fast");
    auto slow = t.Connect();
    const std::string request = "GET /s.txt HTTP/1.0\r\nUser-Agent: a slow one\r\n\r\n";
    std::thread trickle([&] {
        for (char c : request) {
            slow->Send(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(BodyOf(t.Exchange("GET /f.txt HTTP/1.0\r\n\r\n")), "fast");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    }
    trickle.join();
    EXPECT_EQ(BodyOf(slow->ReadAll()), "slow");
}

TEST(EventCore, HeadsAndBodiesLargerThanTheBufferAreReadWhole) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/h.txt", "headers");
    std::string many;
    for (int i = 0; i < 60; ++i) many += "X-Filler-" + std::to_string(i) + ": " + std::string(460, 'f') + "\r\n";
    auto client = t.Connect();
    client->Send("GET /h.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n" + many + "\r\nGET /h.txt" + kKeepAlive);
    EXPECT_EQ(BodyOf(client->ReadResponse()), "headers") << "a 28 KiB head";
    EXPECT_EQ(BodyOf(client->ReadResponse()), "headers") << "and the request after it";
}

// The states a connection can be in when a flush or a stop comes.
struct EveryState {
    explicit EveryState(TestServer& t) {
        t.WriteSite("HTDOCS/big.bin", std::string(16 << 20, 'b'));
        t.WriteSite("CGI-BIN/nap.cgi", "#!/bin/sh\nsleep 2\nprintf 'Content-Type: text/plain\\n\\nawake\\n'\n");
        std::filesystem::permissions(t.Site("CGI-BIN/nap.cgi"), std::filesystem::perms(0755));
        waiting = t.Connect();
        reading = t.Connect();
        reading->Send("GET /big.bin HTTP/1.0\r\nUser-Ag");
        script = t.Connect();
        script->Send("GET /CGI-BIN/nap.cgi HTTP/1.0\r\n\r\n");
        sending = t.Connect();  // never reads, so the answer stops part-way
        sending->Send("GET /big.bin HTTP/1.0\r\n\r\n");
        EXPECT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 4; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the script runs, the send fills the buffers
    }
    std::unique_ptr<RawClient> waiting, reading, script, sending;
};

TEST(EventCore, FlushResetsConnectionsInEveryState) {
    TestServer t;
    t.WriteSite("HTDOCS/after.txt", "after");
    EveryState s(t);
    t.Server().Listener.Flush();
    for (auto* c : {&s.waiting, &s.reading}) EXPECT_TRUE((*c)->WasReset(2000) || (*c)->PeerClosed(100));
    EXPECT_LT(s.sending->ReadAll(3000).size(), size_t{16 << 20}) << "the large answer stops part-way";
    EXPECT_EQ(s.script->ReadAll(4000), "") << "the script's answer finds its connection reset";
    EXPECT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 0; })) << "every slot is free again";
    EXPECT_EQ(BodyOf(t.Exchange("GET /after.txt HTTP/1.0\r\n\r\n")), "after");
}

TEST(EventCore, StopEndsConnectionsInEveryState) {
    TestServer t;
    EveryState s(t);
    const auto start = Clock::now();
    t.Shutdown();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(t.Server().Listener.ThreadCount(), 0);
    for (auto* c : {&s.waiting, &s.reading, &s.script, &s.sending}) {
        (*c)->ReadAll(1000);
        EXPECT_TRUE((*c)->PeerClosed(100) || (*c)->WasReset(100));
    }
}

TEST(DocumentCache, EveryChangeIsSeenByTheVeryNextRequest) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    namespace fs = std::filesystem;
    t.WriteSite("HTDOCS/dir/c.txt", "one");
    auto client = t.Connect();
    const auto get = [&](const std::string& path) {
        client->Send("GET " + path + kKeepAlive);
        return WithoutDates(client->ReadResponse(3000));
    };
    EXPECT_EQ(BodyOf(get("/dir/c.txt")), "one");
    EXPECT_EQ(BodyOf(get("/dir/c.txt")), "one") << "from the cache now";

    t.WriteSite("HTDOCS/dir/c.txt", "two");  // rewritten in place, same size
    EXPECT_EQ(BodyOf(get("/dir/c.txt")), "two");

    client->Send("GET /dir/c.txt" + kKeepAlive);
    const std::string dated = client->ReadResponse(3000);
    fs::last_write_time(t.Site("HTDOCS/dir/c.txt"), fs::file_time_type::clock::now() - std::chrono::hours(48));
    client->Send("GET /dir/c.txt" + kKeepAlive);
    const std::string touched = client->ReadResponse(3000);
    const auto lastModified = [](const std::string& r) {
        const size_t at = r.find("Last-Modified: ");
        return r.substr(at, r.find("\r\n", at) - at);
    };
    EXPECT_NE(lastModified(touched), lastModified(dated)) << "a touch changes the date at once";

    t.WriteSite("HTDOCS/dir/other.txt", "three!");
    fs::rename(t.Site("HTDOCS/dir/other.txt"), t.Site("HTDOCS/dir/c.txt"));
    EXPECT_EQ(BodyOf(get("/dir/c.txt")), "three!") << "a file renamed over it";

    // A refusal ends its connection: those go on connections of their own.
    const auto status = [&](const std::string& path) { return StatusOf(t.Exchange("GET " + path + kKeepAlive)); };
    fs::remove(t.Site("HTDOCS/dir/c.txt"));
    EXPECT_EQ(status("/dir/c.txt"), "HTTP/1.0 404 Resource not found");
    t.WriteSite("HTDOCS/dir/c.txt", "four");
    EXPECT_EQ(BodyOf(get("/dir/c.txt")), "four") << "removed and created again";

    fs::rename(t.Site("HTDOCS/dir"), t.Site("HTDOCS/moved"));
    EXPECT_EQ(status("/dir/c.txt"), "HTTP/1.0 404 Resource not found") << "its folder renamed";
    EXPECT_EQ(BodyOf(get("/moved/c.txt")), "four");

    // Our own publishing, on a worker, is seen by the loop's cache.
    t.Server().ReplaceConfiguration([&] {
        HTTPConfiguration c = *t.Server().Snapshot();
        c.UseMasterKey = 1;
        c.MasterUser = "u";
        c.MasterPassword = "p";
        return c;
    }());
    const std::string put = t.Exchange(
        "PUT /moved/c.txt HTTP/1.0\r\nAuthorization: Basic dTpw\r\nContent-Length: 4\r\n\r\nfive");
    EXPECT_EQ(StatusOf(put), "HTTP/1.0 200 Document written");
    EXPECT_EQ(BodyOf(get("/moved/c.txt")), "five");
}

TEST(GroupedLogs, NoLineIsLostAcrossReloadsFlushesAndTheStop) {
    // Clients send requests four at a time, so the loops keep batches of
    // lines, while the logs are reopened (as a reload does) and flushed
    // without pause: every batch written races a reopen.
    constexpr int kClients = 6, kRounds = 50, kPipelined = 4;  // six: below the pool's overload mark
    constexpr int kLines = kClients * kRounds * kPipelined;
    auto t = std::make_unique<TestServer>([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t->WriteSite("HTDOCS/l.txt", "logged");
    std::atomic<int> answered{0};
    std::atomic<int> running{kClients};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            auto c = t->Connect();
            std::string requests;
            for (int n = 0; n < kPipelined; ++n) requests += "GET /l.txt" + kKeepAlive;
            for (int round = 0; round < kRounds; ++round) {
                c->Send(requests);
                for (int n = 0; n < kPipelined; ++n)
                    if (BodyOf(c->ReadResponse()) == "logged") ++answered;
            }
            --running;
        });
    }
    int reopens = 0;
    while (running.load() > 0) {
        if (++reopens % 50 == 0) t->Server().ReloadConfiguration();
        else t->Server().InitializeLogs();
        if (reopens % 3 == 0) t->Server().FlushLogs();
    }
    for (auto& c : clients) c.join();
    clients.clear();
    EXPECT_EQ(answered.load(), kLines);
    EXPECT_TRUE(WaitUntil([&] { return LineCount(t->Log("ACCESS.LOG")) == kLines; }, 3000))
        << LineCount(t->Log("ACCESS.LOG")) << " lines after " << reopens << " reopens";

    // The stop: clients go on asking while the server shuts down. Every
    // document a client received has its line.
    std::atomic<int> received{0};
    std::atomic<bool> stopped{false};
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            while (!stopped.load()) {
                auto c = t->Connect();
                for (;;) {
                    if (!c->Send("GET /l.txt" + kKeepAlive)) break;
                    const std::string response = c->ReadResponse(2000);
                    if (response.empty()) break;
                    if (BodyOf(response) == "logged") ++received;
                    if (response.find("Connection: Keep-Alive") == std::string::npos) break;
                }
            }
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return received.load() > 20; }));
    t->Shutdown();
    stopped = true;
    for (auto& c : clients) c.join();
    EXPECT_GE(LineCount(t->Log("ACCESS.LOG")), static_cast<size_t>(kLines + received.load()));
}

// The same race without the network in between, at the rate only threads
// writing straight into a log reach: lines written at once and in batches
// while another thread reopens and flushes the log.
TEST(GroupedLogs, ReopeningNeverDropsALineWrittenMeanwhile) {
    testing_support::TestHome home;
    const std::string path = home.Path() + "/busy.log";
    EventLog log;
    ASSERT_EQ(log.StartLogFile(path.c_str()), 1);
    constexpr int kWriters = 4, kLinesEach = 60000;
    std::atomic<int> running{kWriters};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            EventLog::Batch batch;
            EventLog::Batch* kept = w % 2 == 0 ? &batch : nullptr;
            for (int n = 0; n < kLinesEach; ++n) {
                log.LogAsIs("line", kept);
                if (n % 8 == 7) batch.Flush();
            }
            batch.Flush();
            --running;
        });
    }
    int reopens = 0;
    while (running.load() > 0) {
        ASSERT_EQ(log.StartLogFile(path.c_str()), 1);
        if (++reopens % 4 == 0) log.FlushLogFile();
    }
    for (auto& w : writers) w.join();
    log.StopLogFile();
    EXPECT_EQ(LineCount(testing_support::TestHome::ReadFile(path)), static_cast<size_t>(kWriters * kLinesEach))
        << "after " << reopens << " reopens";
}

TEST(SlowClients, AConnectionWaitingForFiveSecondsGivesWayWhenThePoolIsFull) {
    TestServer t;  // a pool of 8
    t.WriteSite("HTDOCS/n.txt", "newcomer");
    t.WriteSite("CGI-BIN/x.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\n'\ncat\n");
    std::filesystem::permissions(t.Site("CGI-BIN/x.cgi"), std::filesystem::perms(0755));
    // Four clients send a head and then nothing of the body it announces
    // (they wait on workers), four send nothing at all.
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 8; ++i) {
        silent.push_back(t.Connect());
        if (i < 4) silent.back()->Send("POST /CGI-BIN/x.cgi HTTP/1.0\r\nContent-Length: 50\r\n\r\n");
        ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == i + 1; }));
        if (i == 3) std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the heads are read
    }
    // Younger than five seconds: the pool behaves as it always did.
    EXPECT_EQ(t.Exchange("GET /n.txt HTTP/1.0\r\n\r\n", 2000), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(5200));
    // Now the longest-waiting one (a body that never came) gives its slot
    // to the newcomer, which is answered.
    EXPECT_EQ(BodyOf(t.Exchange("GET /n.txt HTTP/1.0\r\n\r\n", 2000)), "newcomer");
    EXPECT_TRUE(silent[0]->WasReset(1000) || silent[0]->PeerClosed(0)) << "the oldest gives way";
    for (size_t i = 1; i < silent.size(); ++i) EXPECT_EQ(silent[i]->ReadAll(0), "") << i;
    EXPECT_EQ(t.Server().Listener.BusyCount(), 7) << "the others keep their slots";

    // Newcomers that took slots that way and have sent nothing since are on
    // probation: when they are all that is left, the next newcomer may take
    // a slot from one of them at once.
    std::vector<std::unique_ptr<RawClient>> probation;
    for (int i = 0; i < 8; ++i) {
        probation.push_back(t.Connect());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 8; }));
    const std::string served = t.Exchange("GET /n.txt HTTP/1.0\r\n\r\n", 2000);
    EXPECT_TRUE(BodyOf(served) == "newcomer" || StatusOf(served) == "HTTP/1.0 503 Server overloaded") << served;
}

}  // namespace

// A loop serves request after request with the same request and response
// objects: nothing of one answer may reach the next.
TEST(EventCore, AKeptConnectionAnswersEachRequestAsAFreshOneWould) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/a.txt", "0123456789");
    t.WriteSite("HTDOCS/dir/b.txt", "b");
    const std::vector<std::string> heads = {
        // (Answers that carry their length: the client reads by it.)
        "GET /a.txt?q=1 HTTP/1.0\r\nReferer: http://elsewhere/\r\nAuthorization: Basic dXNlcjpwdw==\r\n"
        "Range: bytes=2-4\r\n",
        "GET /a.txt HTTP/1.0\r\n",
        "GET /missing.txt HTTP/1.0\r\n",
        "GET /dir/ HTTP/1.0\r\n",
        "GET /dir HTTP/1.0\r\n",
        "GET /a.txt HTTP/1.0\r\nRange: bytes=2-4\r\n",
        "GET /a.txt HTTP/1.0\r\n",
    };
    std::vector<std::string> fresh;
    for (const std::string& head : heads) fresh.push_back(WithoutDates(t.Exchange(head + "\r\n")));
    auto client = t.Connect();
    for (size_t i = 0; i < heads.size(); ++i) {
        client->Send(heads[i] + "Connection: Keep-Alive\r\n\r\n");
        std::string kept = WithoutDates(client->ReadResponse());
        // Only the connection's own headers differ; an answer that is not
        // kept alive (a refusal) ends the connection.
        if (kept.find("Connection: close\r\n") != std::string::npos) client = t.Connect();
        for (const char* own : {"Connection: Keep-Alive\r\n", "Connection: close\r\n", "Keep-Alive: "}) {
            const size_t at = kept.find(own);
            if (at != std::string::npos) kept.erase(at, kept.find("\r\n", at) + 2 - at);
        }
        EXPECT_EQ(kept, fresh[i]) << heads[i];
    }
    // Only the first request, asked twice, names a referrer in the log.
    ASSERT_TRUE(WaitUntil([&] { return LineCount(t.Log("ACCESS.LOG")) >= 2 * heads.size(); }));
    const std::string log = t.Log("ACCESS.LOG");
    size_t named = 0;
    for (size_t at = log.find("elsewhere"); at != std::string::npos; at = log.find("elsewhere", at + 1)) ++named;
    EXPECT_EQ(named, 2u) << log;
}

// The listener hands out a connection once its request has come. A client
// that sends nothing is still handed out, holds a slot, and has its receive
// time-out; one that sends its request only after that is answered.
TEST(EventCore, ClientsThatWaitBeforeSendingAreTimedOutOrServed) {
    TestServer t([](HTTPConfiguration& c) { c.RecvTimeOut = 1500; });
    t.WriteSite("HTDOCS/late.txt", "late but served");
    auto silent = t.Connect();
    auto late = t.Connect();
    ASSERT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 2; })) << "both hold a slot";
    ASSERT_TRUE(late->Send("GET /late.txt HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(BodyOf(late->ReadAll()), "late but served");
    EXPECT_TRUE(silent->PeerClosed(10000)) << "the silent one is timed out";
    EXPECT_TRUE(WaitUntil([&] { return t.Server().Listener.BusyCount() == 0; })) << "and its slot is free";
    EXPECT_EQ(BodyOf(t.Exchange("GET /late.txt HTTP/1.0\r\n\r\n")), "late but served");
}

// A file body reaches a client on this machine in copied parts: whole and
// in order however often the client's small window cuts a send short, and
// from the right place for a range.
TEST(EventCore, FileBodiesArriveWholeThroughShortSends) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    std::string body(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919 + i / 65536) % 251);
    t.WriteSite("HTDOCS/big.bin", body);
    RawClient client(t.Port(), 4096);
    ASSERT_TRUE(client.Send("GET /big.bin HTTP/1.0\r\n" + kKeepAlive));
    const std::string head = client.ReadHead();
    ASSERT_EQ(StatusOf(head), "HTTP/1.0 200 Document Follows");
    EXPECT_TRUE(client.ReadExactly(body.size(), 10000) == body) << "the whole body, byte for byte";
    ASSERT_TRUE(client.Send("GET /big.bin HTTP/1.0\r\nRange: bytes=100000-2200000\r\nConnection: Keep-Alive\r\n\r\n"));
    EXPECT_TRUE(BodyOf(client.ReadResponse(10000)) == body.substr(100000, 2100001)) << "a range";
}

// A closing answer's last bytes wait for the end of the stream and leave
// with it: they must all arrive, and the stream end, also when the client
// sent more than its request (which the server takes in and drops).
TEST(EventCore, AClosingAnswerArrivesWholeWithTheEndOfTheStream) {
    TestServer t;
    std::string body(3000, 'b');
    for (size_t i = 0; i < body.size(); i += 100) body[i] = static_cast<char>('a' + i / 100 % 26);
    t.WriteSite("HTDOCS/c.txt", body);
    for (const std::string& trailing : {std::string(), std::string(32 * 1024, 'x')}) {
        auto client = t.Connect();
        client->Send("GET /c.txt HTTP/1.0\r\n\r\n" + trailing);
        EXPECT_EQ(BodyOf(client->ReadAll(3000)), body) << trailing.size() << " bytes after the request";
        EXPECT_TRUE(client->PeerClosed(100) || client->WasReset(100));
    }
}
