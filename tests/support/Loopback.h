#pragma once
// Test support: real loopback connections. A RawClient is a plain blocking
// client written straight on the system's sockets, independent of the
// server's socket layer, so a test can play any peer: slow, silent, or one
// that closes half-way.

#include <cstdint>
#include <memory>
#include <string>

class Socket;

namespace testing_support {

class RawClient {
public:
    // Connects to 127.0.0.1:port; IsOpen() tells whether it worked. A
    // receiveBuffer (bytes) above 0 shrinks the client's receive window, so
    // that a client that reads slowly soon holds the server's sends back.
    explicit RawClient(int port, int receiveBuffer = 0);
    // Connects to address (a literal of either family, "::1") and port.
    RawClient(const std::string& address, int port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    bool Send(const std::string& bytes);
    // Reads until the peer closes or timeoutMs passes without data.
    std::string ReadAll(int timeoutMs = 5000);
    // Reads exactly n bytes (fewer if the peer closes or time runs out).
    std::string ReadExactly(size_t n, int timeoutMs = 5000);
    // Reads up to and including the first "\r\n\r\n" (or what came).
    std::string ReadHead(int timeoutMs = 5000);
    // Reads and throws away up to n bytes (what a body too large to keep
    // would be), never more, stopping early if the peer closes or time runs
    // out; how many came.
    uint64_t Discard(uint64_t n, int timeoutMs = 5000);
    // Reads one HTTP/1.0 response: the head, then Content-Length bytes.
    std::string ReadResponse(int timeoutMs = 5000);
    // True when the peer has closed (a read returns end of file) within timeoutMs.
    bool PeerClosed(int timeoutMs = 5000);
    // True when the peer reset the connection.
    bool WasReset(int timeoutMs = 5000);
    void ShutdownWrite();
    void Close();

private:
    int fd_ = -1;
    std::string pending_;
};

// Whether this machine's loopback has ::1 (IPv6 may be off in the kernel:
// a test that needs it then skips).
bool HasIPv6Loopback();

// A listening server-side socket on an ephemeral loopback port and the
// accepted end of one connection from a RawClient.
struct LoopbackPair {
    std::unique_ptr<Socket> listener;
    std::unique_ptr<Socket> server;
    std::unique_ptr<RawClient> client;
    int port = 0;
};
LoopbackPair MakeLoopbackPair();

}  // namespace testing_support
