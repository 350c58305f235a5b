// The socket layer over real loopback connections.
#include "net/Socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/InputBuffer.h"
#include "platform/Clock.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestHome.h"

using testing_support::LoopbackPair;
using testing_support::MakeLoopbackPair;
using testing_support::MessageCapture;
using testing_support::RawClient;

namespace {

std::string Line(Socket& s, int size = 256, unsigned long timeout = 2000) {
    std::string buffer(static_cast<size_t>(size), 'X');
    const int n = s.GetLine(buffer.data(), size, timeout);
    if (n < 0) return "<fail>";
    EXPECT_EQ(buffer[static_cast<size_t>(n)], '\0') << "the line is terminated";
    return buffer.substr(0, static_cast<size_t>(n));
}

uint32_t Elapsed(uint32_t start) { return platform::MillisecondClock() - start; }

// Ends s abortively from another thread, a moment after the caller starts
// to wait on it.
std::thread AbortSoon(Socket& s) {
    return std::thread([&s] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        s.Abort();
    });
}

TEST(SocketLines, LineEndsAndPieces) {
    LoopbackPair p = MakeLoopbackPair();
    ASSERT_TRUE(p.server);
    p.client->Send(std::string("abc\r\r\n") + "def\n" + "\r\n" + "a\rb\r\n");
    EXPECT_EQ(Line(*p.server), "abc\r") << "only the CR right before the LF is dropped";
    EXPECT_EQ(Line(*p.server), "def") << "a bare LF ends a line";
    EXPECT_EQ(Line(*p.server), "") << "an empty line";
    EXPECT_EQ(Line(*p.server), "a\rb") << "a CR elsewhere stays";
}

TEST(SocketLines, LineArrivingInPieces) {
    LoopbackPair p = MakeLoopbackPair();
    std::thread sender([&] {
        for (const char* piece : {"GE", "T /in", "dex.html HT", "TP/1.0\r", "\n"}) {
            p.client->Send(piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    EXPECT_EQ(Line(*p.server), "GET /index.html HTTP/1.0");
    sender.join();
}

TEST(SocketLines, OverLongLinesComeBackInPieces) {
    LoopbackPair p = MakeLoopbackPair();
    p.client->Send("abcdefgh\r\n" "12345678901\n");
    EXPECT_EQ(Line(*p.server, 9), "abcdefgh") << "a line of size - 1 characters fills the buffer";
    EXPECT_EQ(Line(*p.server, 9), "") << "its CR LF comes back as an empty line";
    EXPECT_EQ(Line(*p.server, 9), "12345678");
    EXPECT_EQ(Line(*p.server, 9), "901");
}

TEST(SocketLines, WhatALineLeavesOverStaysForTheNextRead) {
    LoopbackPair p = MakeLoopbackPair();
    p.client->Send("HEAD\r\nbody-bytes");
    EXPECT_EQ(Line(*p.server), "HEAD");
    EXPECT_EQ(p.server->ReadReady(1000), 1) << "the rest stays in the socket";
    char body[10];
    ASSERT_EQ(p.server->Recv(body, 10, 1000), 10);
    EXPECT_EQ(std::string(body, 10), "body-bytes");
    EXPECT_EQ(p.server->ReadReady(50), 0);
}

TEST(SocketLines, GetLineClockBoundsTheWholeLine) {
    LoopbackPair p = MakeLoopbackPair();
    std::atomic<bool> stop{false};
    std::thread slow([&] {
        while (!stop) {
            p.client->Send("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const uint32_t start = platform::MillisecondClock();
    char buffer[8192];
    EXPECT_EQ(p.server->GetLine(buffer, sizeof buffer, 400), -1);
    const uint32_t took = Elapsed(start);
    stop = true;
    slow.join();
    EXPECT_GE(took, 390u);
    EXPECT_LT(took, 2000u) << "a trickle of bytes cannot keep a line read alive";
}

TEST(SocketLines, PeerCloseFailsTheLine) {
    LoopbackPair p = MakeLoopbackPair();
    p.client->Send("partial");
    p.client->Close();
    char buffer[64];
    EXPECT_EQ(p.server->GetLine(buffer, sizeof buffer, 5000), -1);
}

TEST(SocketTimed, RecvClockRestartsAtEveryChunk) {
    LoopbackPair p = MakeLoopbackPair();
    std::thread slow([&] {
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            p.client->Send("ab");
        }
    });
    char buffer[12];
    EXPECT_EQ(p.server->Recv(buffer, 12, 300), 12) << "each pause is shorter than the time-out";
    slow.join();
}

TEST(SocketTimed, PeerCloseEndsATimedReceiveAtOnce) {
    LoopbackPair p = MakeLoopbackPair();
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        p.client->Send("abc");
        p.client->Close();
    });
    const uint32_t start = platform::MillisecondClock();
    char buffer[100];
    int got = -5;
    EXPECT_EQ(p.server->RecvSome(buffer, 100, 10000, &got), -1);
    EXPECT_LT(Elapsed(start), 3000u);
    EXPECT_EQ(got, 3) << "what arrived is reported";
    closer.join();
}

TEST(SocketTimed, TimeOutSetsTheTimedOutCode) {
    LoopbackPair p = MakeLoopbackPair();
    char buffer[4];
    const uint32_t start = platform::MillisecondClock();
    EXPECT_EQ(p.server->Recv(buffer, 4, 200), -1);
    EXPECT_EQ(p.server->LastError.load(), 10060);
    EXPECT_GE(Elapsed(start), 190u);
}

TEST(SocketTimed, ReadReadyWaits) {
    LoopbackPair p = MakeLoopbackPair();
    uint32_t start = platform::MillisecondClock();
    EXPECT_EQ(p.server->ReadReady(300), 0);
    EXPECT_GE(Elapsed(start), 290u);
    p.client->Send("x");
    EXPECT_EQ(p.server->ReadReady(2000), 1);
    EXPECT_EQ(p.server->WriteReady(100), 1);
}

TEST(SocketTimed, SendOfALargeBlockToASlowReader) {
    LoopbackPair p = MakeLoopbackPair();
    const std::string big(4 << 20, 'z');
    std::thread reader([&] { EXPECT_EQ(p.client->ReadExactly(big.size()).size(), big.size()); });
    EXPECT_EQ(p.server->Send(big.data(), static_cast<int>(big.size()), 5000), static_cast<int>(big.size()));
    reader.join();
}

TEST(SocketTimed, SendToAReaderThatNeverReadsTimesOut) {
    LoopbackPair p = MakeLoopbackPair();
    const std::string big(64 << 20, 'z');
    EXPECT_EQ(p.server->Send(big.data(), static_cast<int>(big.size()), 300), -1);
    EXPECT_EQ(p.server->LastError.load(), 10060);
}

TEST(SocketLifecycle, CloseTwiceAndShutdownOfAClosedSocket) {
    LoopbackPair p = MakeLoopbackPair();
    EXPECT_EQ(p.server->Close(), 0);
    EXPECT_FALSE(p.server->IsOpen());
    EXPECT_EQ(p.server->Close(), -1);
    EXPECT_FALSE(p.server->IsOpen());
    EXPECT_EQ(p.server->ShutDown(2), -1);
    EXPECT_EQ(p.server->ReadReady(10), 0);
    char buffer[4];
    EXPECT_EQ(p.server->GetLine(buffer, 4, 10), -1);
}

TEST(SocketLifecycle, AbortiveEndResetsThePeer) {
    LoopbackPair p = MakeLoopbackPair();
    p.server->Abort();
    p.server->Close();
    EXPECT_TRUE(p.client->WasReset() || p.client->PeerClosed());
}

TEST(SocketLifecycle, ShutdownFromAnotherThreadWakesABlockedReceive) {
    LoopbackPair p = MakeLoopbackPair();
    std::thread flusher = AbortSoon(*p.server);
    const uint32_t start = platform::MillisecondClock();
    char buffer[16];
    EXPECT_EQ(p.server->Recv(buffer, 16, 30000), -1);
    EXPECT_LT(Elapsed(start), 5000u);
    flusher.join();
}

TEST(SocketLifecycle, ShutdownWakesABlockingAccept) {
    Socket listener(0, 1);
    ASSERT_EQ(listener.Listen(5), 0);
    listener.NoBlock(0);
    std::thread stopper = AbortSoon(listener);
    EXPECT_EQ(listener.Accept(), nullptr);
    stopper.join();
}

TEST(SocketLifecycle, BadTypeAndBindFailureAreShown) {
    MessageCapture messages;
    Socket bad(0, 3);
    EXPECT_FALSE(bad.IsOpen());
    Socket first(0, 1);
    ASSERT_EQ(first.Listen(5), 0);
    SocketAddress name;
    first.GetName(&name);
    Socket second(static_cast<short>(name.port), 1);
    EXPECT_FALSE(second.IsOpen());
    const auto shown = messages.Messages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "Sock32 Error");
    EXPECT_EQ(shown[0].text, "Invalid socket type");
    EXPECT_EQ(shown[1].caption, "Error");
    EXPECT_EQ(shown[1].text, "Windows Socket error 10048: Unable to bind socket (port " + std::to_string(name.port) +
                                 ": Address already in use)")
        << "the code keeps its text and the system's words follow";
}

TEST(SocketLifecycle, ConnectAndAddresses) {
    Socket listener(0, 1);
    ASSERT_EQ(listener.Listen(5), 0);
    SocketAddress name;
    listener.GetName(&name);
    Socket outbound(0, 1);
    EXPECT_EQ(outbound.Connect("127.0.0.1", static_cast<short>(name.port)), 0);
    auto accepted = listener.Accept();
    ASSERT_TRUE(accepted);
    SocketAddress local, peer;
    EXPECT_EQ(accepted->GetName(&local), 0);
    EXPECT_EQ(accepted->GetPeer(&peer), 0);
    EXPECT_EQ(peer.address.Text(), "127.0.0.1");
    EXPECT_EQ(local.port, name.port);
    Socket refused(0, 1);
    EXPECT_EQ(refused.Connect("127.0.0.1", 1), -1);
    EXPECT_EQ(refused.LastError.load(), 10061);
}

// A connection's input: what arrives is appended without waiting, what is
// used goes, and a head that outgrows the usual room keeps its bytes as
// the room grows.
TEST(SocketInput, ReceiveConsumeGrowAndRelease) {
    LoopbackPair p = MakeLoopbackPair();
    InputBuffer input;
    EXPECT_EQ(input.ReceiveFrom(*p.server), -1);
    EXPECT_EQ(p.server->LastError.load(), 10035) << "nothing yet, and no wait";
    p.client->Send("GET / HTTP/1.0\r\n");
    ASSERT_EQ(p.server->ReadReady(2000), 1);
    EXPECT_EQ(input.ReceiveFrom(*p.server), 16);
    input.Consume(4);
    EXPECT_EQ(input.Bytes(), "/ HTTP/1.0\r\n");
    p.client->Send(std::string(InputBuffer::kUsualSize, 'x'));
    while (!input.Full()) {
        if (input.ReceiveFrom(*p.server) < 0) {
            ASSERT_EQ(p.server->ReadReady(2000), 1);
        }
    }
    EXPECT_EQ(input.ReceiveFrom(*p.server), -1) << "a full buffer takes nothing";
    input.Grow(2 * InputBuffer::kUsualSize);
    EXPECT_EQ(input.Bytes().substr(0, 12), "/ HTTP/1.0\r\n");
    EXPECT_EQ(input.Bytes().size(), InputBuffer::kUsualSize);
    ASSERT_EQ(p.server->ReadReady(2000), 1);
    EXPECT_GT(input.ReceiveFrom(*p.server), 0) << "the rest fits now";
    input.Release();
    EXPECT_EQ(input.Capacity(), 2 * InputBuffer::kUsualSize) << "bytes not used keep their storage";
    input.Clear();
    input.Release();
    EXPECT_EQ(input.Capacity(), 0u);
}

TEST(SocketLifecycle, DrainDiscardsWhatIsWaiting) {
    LoopbackPair p = MakeLoopbackPair();
    p.client->Send("line\r\ntrailing junk");
    EXPECT_EQ(Line(*p.server), "line");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.server->Drain();
    EXPECT_EQ(p.server->ReadReady(100), 0);
}

}  // namespace
