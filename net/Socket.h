#pragma once
// One socket of either family, owning its descriptor, with timed receive, send and line
// reads, and failures recorded in LastError (Windows Sockets numbering, see
// platform/NetCalls.h) instead of thrown. No descriptor leaves net/: the
// rest of the server sees only this object.
//
// The socket only moves bytes: what arrives is kept by whoever reads it
// (a connection keeps its bytes in an InputBuffer), so nothing read from
// the descriptor waits in this object.
//
// Waiting. The descriptor itself never blocks, so a waiting operation
// wakes when another thread shuts the socket down. Timed operations wait
// up to their time-out. The untimed ones (Accept, the raw Send and Recv,
// an untimed Connect) wait without limit, unless NoBlock(1) asked them to
// fail at once with 10035 instead, as a listener polled by an event loop
// does. ReceiveNow, DropArrived and SendSome never wait.
//
// Time-outs are in milliseconds. A timed Recv or Send restarts its clock at
// every chunk that moves, so the time-out bounds a pause, not the transfer;
// GetLine's clock bounds the whole line.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/NetCalls.h"

namespace platform {
class File;
class Reply;
class TLSContext;
class TLSSession;
}  // namespace platform

using SocketAddress = platform::net::SocketAddress;

class Socket {
public:
    static constexpr unsigned long kNoTimeout = 0xffffffffUL;

    // A closed socket.
    Socket();
    // Creates a socket of type 1 (stream) or 2 (datagram), turns on
    // address reuse and keep-alive, and binds it to port on all local
    // addresses of both families (0 lets the system choose). Failures are
    // shown with DisplayErrorMsg ("Unable to create socket", "Unable to bind
    // socket") or DisplayInternalErrorMsg ("Invalid socket type") and leave
    // it closed.
    Socket(short port, int type);
    // As above, bound to bindAddress: empty, every address of both families
    // (one IPv6 socket that takes IPv4 peers too, or IPv4 alone where the
    // system has no IPv6); else an IPv4 or IPv6 address, or a host name
    // looked up now (its address as LookupHost picks it, see
    // platform/NetCalls.h). A failed lookup is shown as a bind failure, with
    // the name service's error.
    Socket(short port, int type, const std::string& bindAddress);
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool IsOpen() const { return Handle != platform::net::kInvalidSocket; }

    // Non-zero: the untimed operations fail at once instead of waiting (see
    // above); 0: they wait. Returns the setting it replaces (1 or 0), for a
    // caller that puts it back.
    int NoBlock(int on);
    int SetReuse(int on);                    // 0, or -1 with LastError
    int SetKeepAlive(int on);                // 0, or -1 with LastError
    int SetLinger(int on, int seconds);      // 0, or -1 with LastError
    // listen(); a failure is shown as "Socket listen error". 0 or -1.
    int Listen(int backlog);
    // The next connection (waiting for one unless NoBlock(1) was set), or
    // null with LastError.
    std::unique_ptr<Socket> Accept();
    // What ShutDown shuts.
    static constexpr int kShutReceive = 0, kShutSend = 1, kShutBoth = 2;
    // Shuts the socket down; -1 when closed or on failure.
    int ShutDown(int how);
    // Ends the connection abortively, from any thread, without closing it:
    // lingering on with a zero time, both directions shut. Whatever its
    // owner does with it fails at once, and closing it then resets the
    // connection, dropping what was not sent.
    void Abort();
    // Closes the descriptor; the socket is closed afterwards whatever the
    // result. -1 when it was already closed.
    int Close();

    // One raw transfer: bytes moved (0 from Recv: peer closed), or -1.
    int Send(const char* data, int len);
    int Recv(char* buffer, int len);
    // Timed transfer of exactly len bytes: len, or -1 (10060 when the clock
    // runs out; a peer that closes ends a receive at once).
    int Recv(char* buffer, int len, unsigned long timeout);
    int Send(const char* data, int len, unsigned long timeout);
    // As the timed Recv, and *got tells how many bytes arrived even when it
    // fails, so a short body keeps what came.
    int RecvSome(char* buffer, int len, unsigned long timeout, int* got);
    // Timed send of two pieces in one system call where possible (a
    // response's head and a small body). more: further data follows at once
    // (a file body), so the kernel need not push a partial segment. *sent
    // (when given) tells how much left even on failure. len of both, or -1.
    int SendPair(const char* first, int firstLen, const char* second, int secondLen, unsigned long timeout,
                 bool more, long* sent = nullptr);
    // Timed send of count bytes of file from offset, through the kernel's
    // file-to-socket path. Bytes sent (short when the file ends early), or -1.
    long long SendFile(const platform::File& file, uint64_t offset, uint64_t count, unsigned long timeout);

    // Reads one line of at most size - 1 characters into buffer, one byte
    // per receive, so that nothing after the line leaves the socket. CR LF or
    // a bare LF ends a line and is not stored; a longer line comes back in
    // pieces. Characters stored, or -1 (closed, error, or the clock ran out).
    int GetLine(char* buffer, int size, unsigned long timeout);
    // Discards what one receive returns, without waiting.
    void Drain();

    // --- What the event-driven connection core uses ----------------------
    // True while a thread waits in a timed read of this socket for the peer
    // to send (read from other threads).
    bool AwaitingPeer() const { return awaitingPeer_.load(std::memory_order_relaxed); }
    // One receive of at most len bytes, never waiting. Bytes received; 0
    // when the peer closed; -1 with LastError (10035: nothing yet).
    long ReceiveNow(char* buffer, size_t len);
    // Drops what one receive brings, never waiting: bytes dropped, 0 when
    // the peer has closed, -1 with LastError (10035: nothing yet).
    long DropArrived();
    // Sends what the kernel takes of reply now: 1 when all of it has left,
    // 0 when the rest must wait for the socket to be writable, -1 on error
    // (also when a file body turns out shorter than announced). A file body
    // goes by sendfile, except a large one to a peer on this machine, which
    // is copied in parts (see PeerOnThisMachine).
    int SendSome(platform::Reply& reply);
    // The connection ends (ShutDown) right after the answers SendSome sends
    // from now on: their last bytes may wait for the end of the stream and
    // leave in one segment with it, rather than each in one of its own.
    void EndFollows(bool ends) { endFollows_ = ends; }
    // Sends the whole reply, waiting; timeout bounds each pause. 1, or 0 on
    // error or time-out.
    int SendAll(platform::Reply& reply, unsigned long timeout);

    // The bytes of this connection the peer has acknowledged, or -1. Safe
    // from another thread while the socket stays open.
    int64_t Acknowledged() const { return platform::net::Acknowledged(Handle); }
    // Sends small writes at once instead of gathering them; connections a
    // listener accepts later inherit it. 0, or -1 with LastError.
    int SetNoDelay(int on);
    // A listener hands out a connection once its first bytes have come, or
    // after about seconds for a client that sends nothing. 0, or -1.
    int SetDeferAccept(int seconds);

    // 1 when readable / writable within timeout; 0
    // on time-out, error or a closed socket.
    int ReadReady(unsigned long timeout);
    int WriteReady(unsigned long timeout);

    // Connects to an address of either family or a host name (a socket
    // bound to IPv4 alone reaches no IPv6 address). A failed lookup records
    // --- TLS ----------------------------------------------------------
    // A connection accepted on a TLS port speaks TLS from here on:
    // ReceiveNow, DropArrived, SendSome and SendAll carry plain text
    // through the session, whose handshake happens within the first
    // receives. False when no session could be made (the connection is
    // then to be closed).
    bool StartTLS(const platform::TLSContext& context);
    // Whether the connection speaks TLS.
    bool Secure() const { return tls_ != nullptr; }
    // A TLS connection whose handshake has completed.
    bool Established() const;
    // A TLS connection that resumed an earlier session.
    bool Resumed() const;
    // Bytes the session holds (decrypted, or read ahead and not opened yet):
    // no poll will report them, so a reader takes them before waiting.
    bool Pending() const;
    // The last transfer that could not go on must wait for the socket to be
    // writable, even if it was a receive (a TLS session may need to send
    // before it can read, and the other way round: a send of SendSome that
    // returned 0 then waits for readability when this is false).
    bool WantsWrite() const;
    // Sends close_notify on a TLS connection that ends in order (before
    // ShutDown); nothing on a plain one. The owner's thread only: unlike
    // ShutDown, never from another thread.
    void CloseNotify();

    // Connects to a dotted address or a host name. A failed lookup records
    // LastError. timeout bounds the name lookup and, again, the connection.
    // 0 or -1.
    int Connect(const char* host, short port, unsigned long timeout = kNoTimeout);
    int Connect(const SocketAddress& address, unsigned long timeout = kNoTimeout);
    // The peer's and this end's addresses. A connection's addresses never
    // change, so they are asked of the system once and then remembered.
    int GetPeer(SocketAddress* address);
    int GetName(SocketAddress* address);
    // The same addresses as text (dotted decimal, or the IPv6 form), made
    // once for the connection rather than for each of its requests; null
    // when the system cannot tell the address.
    const std::string* PeerText();
    const std::string* NameText();

    // The Windows Sockets code of the last failure. Another thread may end
    // a connection abortively while its owner is inside a transfer, so it is
    // an atomic.
    std::atomic<int> LastError{0};

private:
    friend class EventLoop;  // registers the descriptor in its poll
    int Fail();
    // *text, made from what get tells the first time it is asked for.
    const std::string* AddressText(int (Socket::*get)(SocketAddress*), std::string* text);
    int WaitFor(bool forWrite, unsigned long remaining);
    // Whether the peer is on this machine (a loopback address, or this end's
    // own), asked once. Such a peer reads the bytes on a processor of this
    // machine: from file pages lent by sendfile, which are cold in its
    // cache, that read costs about three times what it costs from bytes
    // the sender has just copied (measured on two processors with a 10 MiB
    // file: 4.3 against 1.5 ms of the client's time per response, for 0.4
    // ms more of ours). A remote peer's network card reads the pages
    // instead, and there sendfile spares the copy.
    bool PeerOnThisMachine();
    // One part of a file body copied and sent, for a peer on this machine.
    long SendFilePart(const platform::File& file, uint64_t position, uint64_t* asked);

    int Handle = platform::net::kInvalidSocket;
    bool noWait_ = false;   // untimed operations fail instead of waiting (NoBlock)
    SocketAddress peer_, name_;
    bool peerKnown_ = false, nameKnown_ = false;
    std::string peerText_, nameText_;  // empty until asked for
    int8_t local_ = -1;     // PeerOnThisMachine's answer; -1 not asked yet
    bool endFollows_ = false;  // EndFollows
    // The TLS side of a connection accepted on a TLS port; null on a plain
    // one, whose paths only ever test it for null.
    std::unique_ptr<platform::TLSSession> tls_;
    long ReceiveTLS(char* buffer, size_t len);
    int SendSomeTLS(platform::Reply& reply);
    std::atomic<bool> awaitingPeer_{false};
};

// "Windows Socket error %d: " with the calling thread's last socket error,
// then message, then in brackets the port (when not negative) and the
// system's words for the error; shown with the caption "Error".
void DisplayErrorMsg(const char* message, int port = -1);
// message, with the caption "Sock32 Error".
void DisplayInternalErrorMsg(const char* message);
