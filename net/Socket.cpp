#include "net/Socket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/SocketManager.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/OperatorReport.h"
#include "platform/Reply.h"
#include "platform/TLSSession.h"

namespace sys = platform::net;

namespace {


// File bodies from this size on go to a peer on this machine copied (see
// Socket::PeerOnThisMachine). A smaller file stays in the processor's
// cache from one request to the next, and sendfile then costs the peer
// no more than the copy (measured: even at 100 KiB, somewhat less for us;
// from 1 MiB the copy costs the two sides less in all).
constexpr uint64_t kCopiedFrom = 1 << 20;

// How long the name a socket is to be bound to may take to look up (ms).
constexpr unsigned long kBindLookupTimeout = 5000;

// Milliseconds left of a time-out that started at start; 0 when spent.
unsigned long Remaining(uint32_t start, unsigned long timeout) {
    if (timeout == Socket::kNoTimeout) return Socket::kNoTimeout;
    const uint32_t elapsed = platform::MillisecondClock() - start;
    return elapsed >= timeout ? 0 : timeout - elapsed;
}

}  // namespace

Socket::Socket() = default;


Socket::Socket(short port, int type) : Socket(port, type, std::string()) {}

Socket::Socket(short port, int type, const std::string& bindAddress) {
    if (!SockMan.Started()) platform::net::IgnoreBrokenPipe();  // a socket made before main
    if (type != 1 && type != 2) {
        DisplayInternalErrorMsg("Invalid socket type");
        return;
    }
    SocketAddress at;
    at.port = static_cast<uint16_t>(port);
    const bool everyAddress = bindAddress.empty();
    if (!everyAddress && !sys::LookupHost(bindAddress.c_str(), &at.address, kBindLookupTimeout)) {
        LastError = sys::LastError();
        DisplayErrorMsg("Unable to bind socket", at.port);
        return;
    }
    // Every address is one IPv6 socket that takes IPv4 peers too, or IPv4
    // alone on a system without IPv6.
    bool v6 = !at.address.IsV4();
    Handle = sys::Create(type, v6);
    if (Handle == sys::kInvalidSocket && everyAddress) {
        v6 = false;
        Handle = sys::Create(type, false);
    }
    if (Handle == sys::kInvalidSocket) {
        LastError = sys::LastError();
        DisplayErrorMsg("Unable to create socket");
        return;
    }
    if (v6 && everyAddress) sys::SetV6Only(Handle, 0);
    SetReuse(1);
    SetKeepAlive(1);
    if (sys::Bind(Handle, at) != 0) {
        LastError = sys::LastError();
        DisplayErrorMsg("Unable to bind socket", at.port);
        sys::Close(Handle);
        Handle = sys::kInvalidSocket;
    }
}

Socket::~Socket() {
    if (IsOpen()) sys::Close(Handle);
}

int Socket::Fail() {
    LastError = sys::LastError();
    return -1;
}

int Socket::NoBlock(int on) {
    const int was = noWait_ ? 1 : 0;
    noWait_ = on != 0;
    return was;
}

int Socket::SetReuse(int on) { return sys::SetReuseAddress(Handle, on) == 0 ? 0 : Fail(); }
int Socket::SetKeepAlive(int on) { return sys::SetKeepAlive(Handle, on) == 0 ? 0 : Fail(); }
int Socket::SetLinger(int on, int seconds) { return sys::SetLinger(Handle, on, seconds) == 0 ? 0 : Fail(); }

int Socket::Listen(int backlog) {
    if (sys::Listen(Handle, backlog) == 0) return 0;
    Fail();
    DisplayErrorMsg("Socket listen error");
    return -1;
}

int Socket::WaitFor(bool forWrite, unsigned long remaining) {
    if (!forWrite) awaitingPeer_.store(true, std::memory_order_relaxed);
    const int r = sys::Wait(Handle, forWrite, remaining);
    awaitingPeer_.store(false, std::memory_order_relaxed);
    if (r < 0) Fail();
    return r;
}

std::unique_ptr<Socket> Socket::Accept() {
    for (;;) {
        // The peer's address comes with the connection, which spares the
        // query every logged request would otherwise make.
        SocketAddress peer;
        const int c = sys::Accept(Handle, &peer);
        if (c >= 0) {
            auto connection = std::make_unique<Socket>();
            connection->Handle = c;
            connection->peer_ = peer;
            connection->peerKnown_ = peer.port != 0;  // 0: a peer of neither family
            return connection;
        }
        if (sys::LastError() != sys::WSAEWOULDBLOCK || noWait_) {
            Fail();
            return nullptr;
        }
        // Wait for a connection. A shutdown from another thread wakes the
        // wait and the next accept then fails.
        if (WaitFor(false, kNoTimeout) < 0) return nullptr;
    }
}

int Socket::SetNoDelay(int on) { return sys::SetNoDelay(Handle, on) == 0 ? 0 : Fail(); }
int Socket::SetDeferAccept(int seconds) { return sys::SetDeferAccept(Handle, seconds) == 0 ? 0 : Fail(); }

int Socket::ShutDown(int how) {
    if (!IsOpen()) return -1;
    return sys::Shutdown(Handle, how) == 0 ? 0 : Fail();
}

void Socket::Abort() {
    SetLinger(1, 0);
    ShutDown(kShutBoth);
}

int Socket::Close() {
    tls_.reset();
    const int h = Handle;
    Handle = sys::kInvalidSocket;
    peerKnown_ = nameKnown_ = false;
    peerText_.clear();
    nameText_.clear();
    local_ = -1;
    if (h == sys::kInvalidSocket) {
        LastError = sys::WSAENOTSOCK;
        return -1;
    }
    return sys::Close(h) == 0 ? 0 : Fail();
}

int Socket::Send(const char* data, int len) {
    for (;;) {
        const long n = sys::Send(Handle, data, static_cast<size_t>(std::max(len, 0)));
        if (n >= 0) return static_cast<int>(n);
        if (sys::LastError() != sys::WSAEWOULDBLOCK || noWait_) return Fail();
        if (WaitFor(true, kNoTimeout) < 0) return -1;
    }
}

int Socket::Recv(char* buffer, int len) {
    if (len <= 0) return 0;
    for (;;) {
        const long n = sys::Recv(Handle, buffer, static_cast<size_t>(len));
        if (n >= 0) return static_cast<int>(n);
        if (sys::LastError() != sys::WSAEWOULDBLOCK || noWait_) return Fail();
        if (WaitFor(false, kNoTimeout) < 0) return -1;
    }
}

long Socket::ReceiveNow(char* buffer, size_t len) {
    if (tls_) return ReceiveTLS(buffer, len);
    const long n = sys::Recv(Handle, buffer, len);
    return n >= 0 ? n : Fail();
}

int Socket::RecvSome(char* buffer, int len, unsigned long timeout, int* got) {
    int received = 0;
    if (got) *got = 0;
    if (!IsOpen()) return -1;
    if (len <= 0) return 0;
    uint32_t start = platform::MillisecondClock();
    while (received < len) {
        const unsigned long left = Remaining(start, timeout);
        if (left == 0) {
            LastError = sys::WSAETIMEDOUT;
            if (got) *got = received;
            return -1;
        }
        const long n = sys::Recv(Handle, buffer + received, static_cast<size_t>(len - received));
        if (n == 0) {
            if (got) *got = received;
            return -1;
        }
        if (n < 0) {
            if (sys::LastError() != sys::WSAEWOULDBLOCK) {
                Fail();
                if (got) *got = received;
                return -1;
            }
            WaitFor(false, left);
            continue;
        }
        start = platform::MillisecondClock();
        received += static_cast<int>(n);
    }
    if (got) *got = received;
    return received;
}

int Socket::Recv(char* buffer, int len, unsigned long timeout) { return RecvSome(buffer, len, timeout, nullptr); }

int Socket::Send(const char* data, int len, unsigned long timeout) {
    return SendPair(data, len, nullptr, 0, timeout, false);
}

int Socket::SendPair(const char* first, int firstLen, const char* second, int secondLen, unsigned long timeout,
                     bool more, long* sent) {
    if (sent) *sent = 0;
    if (!IsOpen()) return -1;
    const long total = static_cast<long>(std::max(firstLen, 0)) + std::max(secondLen, 0);
    long done = 0;
    uint32_t start = platform::MillisecondClock();
    do {
        const unsigned long left = Remaining(start, timeout);
        if (left == 0) {
            LastError = sys::WSAETIMEDOUT;
            return -1;
        }
        long n;
        if (done < firstLen && secondLen > 0)
            n = sys::SendTwo(Handle, first + done, static_cast<size_t>(firstLen - done), second,
                             static_cast<size_t>(secondLen), more);
        else if (done < firstLen)
            n = sys::Send(Handle, first + done, static_cast<size_t>(firstLen - done), more);
        else
            n = sys::Send(Handle, second + (done - firstLen), static_cast<size_t>(total - done), more);
        if (n < 0) {
            if (sys::LastError() != sys::WSAEWOULDBLOCK) return Fail();
            WaitFor(true, left);
            continue;
        }
        start = platform::MillisecondClock();
        done += n;
        if (sent) *sent = done;
    } while (done < total);
    return static_cast<int>(total);
}

long long Socket::SendFile(const platform::File& file, uint64_t offset, uint64_t count, unsigned long timeout) {
    if (!IsOpen()) return -1;
    uint64_t position = offset;
    const uint64_t end = offset + count;
    uint32_t start = platform::MillisecondClock();
    while (position < end) {
        const unsigned long left = Remaining(start, timeout);
        if (left == 0) {
            LastError = sys::WSAETIMEDOUT;
            return -1;
        }
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(end - position, 1u << 30));
        const long n = sys::SendFile(Handle, file, &position, chunk);
        if (n < 0) {
            if (sys::LastError() != sys::WSAEWOULDBLOCK) return Fail();
            WaitFor(true, left);
            continue;
        }
        if (n == 0) break;  // the file is shorter than it was
        start = platform::MillisecondClock();
    }
    return static_cast<long long>(position - offset);
}

int Socket::GetLine(char* buffer, int size, unsigned long timeout) {
    if (!IsOpen() || size < 2) return -1;
    // One byte per receive: whatever follows the line (a body, the next
    // request) stays in the socket for the next reader.
    const uint32_t start = platform::MillisecondClock();
    int i = 0;
    while (i < size - 1) {
        char c;
        const long n = sys::Recv(Handle, &c, 1);
        if (n == 0) return -1;
        if (n < 0) {
            if (sys::LastError() != sys::WSAEWOULDBLOCK) return Fail();
            const unsigned long left = Remaining(start, timeout);
            if (left == 0) {
                LastError = sys::WSAETIMEDOUT;
                return -1;
            }
            WaitFor(false, left);
            continue;
        }
        if (c == '\n') {
            if (i > 0 && buffer[i - 1] == '\r') --i;
            break;
        }
        buffer[i++] = c;
    }
    buffer[i] = '\0';
    return i;
}

void Socket::Drain() {
    if (!IsOpen()) return;
    char scratch[8192];
    sys::Recv(Handle, scratch, sizeof scratch);
}

long Socket::DropArrived() {
    char scratch[8192];
    return ReceiveNow(scratch, sizeof scratch);
}

int Socket::SendSome(platform::Reply& reply) {
    if (!IsOpen()) return -1;
    if (tls_) return SendSomeTLS(reply);
    const std::string_view head = reply.head;
    const std::string_view memory = reply.Memory();
    const uint64_t inMemory = head.size() + memory.size();
    while (!reply.Done()) {
        const uint64_t sent = reply.Sent();
        const bool fileFollows = reply.file && reply.fileCount > 0;
        const bool more = fileFollows || endFollows_;
        uint64_t asked;
        long n;
        if (sent < head.size() && !memory.empty()) {
            asked = inMemory - sent;
            n = sys::SendTwo(Handle, head.data() + sent, head.size() - sent, memory.data(), memory.size(), more);
        } else if (sent < inMemory) {
            const std::string_view rest = sent < head.size() ? head.substr(sent) : memory.substr(sent - head.size());
            asked = rest.size();
            n = sys::Send(Handle, rest.data(), rest.size(), more);
        } else {
            uint64_t position = reply.fileOffset + (sent - inMemory);
            asked = std::min<uint64_t>(reply.fileOffset + reply.fileCount - position, 1u << 30);
            n = reply.fileCount >= kCopiedFrom && PeerOnThisMachine()
                    ? SendFilePart(*reply.file, position, &asked)
                                    : sys::SendFile(Handle, *reply.file, &position, static_cast<size_t>(asked));
            if (n == 0) {  // the file is shorter than the length the head announced
                LastError = sys::WSAECONNABORTED;
                return -1;
            }
        }
        if (n < 0) return sys::LastError() == sys::WSAEWOULDBLOCK ? 0 : Fail();
        reply.Advance(static_cast<uint64_t>(n));
        // A short write means the socket's buffer is full.
        if (static_cast<uint64_t>(n) < asked) return reply.Done() ? 1 : 0;
    }
    return 1;
}

bool Socket::PeerOnThisMachine() {
    if (local_ < 0) {
        SocketAddress peer, name;
        local_ = GetPeer(&peer) == 0 &&
                 (peer.address.IsLoopback() || (GetName(&name) == 0 && name.address == peer.address));
    }
    return local_ > 0;
}

long Socket::SendFilePart(const platform::File& file, uint64_t position, uint64_t* asked) {
    // A part the size of the loopback's packets: the peer takes it in while
    // it is still in the cache. Only threads that send such bodies have
    // the buffer. What the socket does not take is read again next time.
    constexpr size_t kPart = 64 * 1024;
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) buffer = std::make_unique<char[]>(kPart);
    const long got = file.ReadAt(position, buffer.get(), static_cast<size_t>(std::min<uint64_t>(*asked, kPart)));
    if (got < 0) {
        sys::SetLastError(sys::WSAEBADF);  // not a socket's failure: never one to wait out
        return -1;
    }
    if (got == 0) return 0;
    *asked = static_cast<uint64_t>(got);
    return sys::Send(Handle, buffer.get(), static_cast<size_t>(got), false);
}

int Socket::SendAll(platform::Reply& reply, unsigned long timeout) {
    uint32_t start = platform::MillisecondClock();
    for (;;) {
        const uint64_t before = reply.Sent();
        const int r = SendSome(reply);
        if (r != 0) return r > 0 ? 1 : 0;
        if (reply.Sent() != before) start = platform::MillisecondClock();
        const unsigned long left = Remaining(start, timeout);
        if (left == 0) {
            LastError = sys::WSAETIMEDOUT;
            return 0;
        }
        if (WaitFor(!tls_ || tls_->WantsWrite(), left) < 0) return 0;
    }
}

int Socket::ReadReady(unsigned long timeout) {
    if (!IsOpen()) return 0;
    return WaitFor(false, timeout) > 0 ? 1 : 0;
}

int Socket::WriteReady(unsigned long timeout) {
    if (!IsOpen()) return 0;
    return WaitFor(true, timeout) > 0 ? 1 : 0;
}

int Socket::Connect(const char* host, short port, unsigned long timeout) {
    SocketAddress address;
    if (!sys::LookupHost(host, &address.address, timeout)) return Fail();
    address.port = static_cast<uint16_t>(port);
    return Connect(address, timeout);
}

int Socket::Connect(const SocketAddress& address, unsigned long timeout) {
    if (sys::Connect(Handle, address) == 0) return 0;
    if (sys::LastError() != sys::WSAEWOULDBLOCK || noWait_) return Fail();
    const int r = WaitFor(true, timeout);
    if (r < 0) return -1;
    if (r == 0) {
        LastError = sys::WSAETIMEDOUT;
        return -1;
    }
    return sys::ConnectResult(Handle) == 0 ? 0 : Fail();
}

int Socket::GetPeer(SocketAddress* address) {
    if (!peerKnown_) {
        if (sys::GetPeer(Handle, &peer_) != 0) return Fail();
        peerKnown_ = true;
    }
    *address = peer_;
    return 0;
}

int Socket::GetName(SocketAddress* address) {
    if (!nameKnown_) {
        if (sys::GetName(Handle, &name_) != 0) return Fail();
        nameKnown_ = true;
    }
    *address = name_;
    return 0;
}

const std::string* Socket::AddressText(int (Socket::*get)(SocketAddress*), std::string* text) {
    if (text->empty()) {
        SocketAddress address;
        if ((this->*get)(&address) != 0) return nullptr;
        *text = address.address.Text();
    }
    return text;
}

const std::string* Socket::PeerText() { return AddressText(&Socket::GetPeer, &peerText_); }

const std::string* Socket::NameText() { return AddressText(&Socket::GetName, &nameText_); }

void DisplayErrorMsg(const char* message, int port) {
    const int error = sys::LastError();
    std::string text = "Windows Socket error " + std::to_string(error) + ": " + message;
    // The system's own words follow, with the port when one is concerned.
    const std::string words = sys::ErrorText(error);
    std::string detail = port >= 0 ? "port " + std::to_string(port) : std::string();
    if (!words.empty()) detail += (detail.empty() ? "" : ": ") + words;
    if (!detail.empty()) text += " (" + detail + ")";
    platform::ReportToOperator(platform::OperatorProblem::Socket, text);
}

void DisplayInternalErrorMsg(const char* message) {
    platform::ReportToOperator(platform::OperatorProblem::SocketInternal, message);
}

bool Socket::StartTLS(const platform::TLSContext& context) {
    tls_ = std::make_unique<platform::TLSSession>(context, Handle);
    if (tls_->IsValid()) return true;
    tls_.reset();
    return false;
}

bool Socket::Established() const { return tls_ && tls_->Established(); }
bool Socket::Resumed() const { return tls_ && tls_->Resumed(); }
bool Socket::Pending() const { return tls_ && tls_->Pending(); }
bool Socket::WantsWrite() const { return tls_ && tls_->WantsWrite(); }

void Socket::CloseNotify() {
    if (tls_ && IsOpen()) tls_->ShutDown();
}

long Socket::ReceiveTLS(char* buffer, size_t len) {
    // One record per call, as the plain path makes one receive; what the
    // session decrypted beyond it is taken at once, since no poll reports it.
    size_t got = 0;
    while (got < len) {
        const long n = tls_->Read(buffer + got, len - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            if (!tls_->Pending()) break;
            continue;
        }
        if (got > 0) break;  // what failed shows at the next call
        if (n == 0) return 0;
        LastError = n == platform::TLSSession::kFailed ? sys::WSAECONNABORTED : sys::WSAEWOULDBLOCK;
        return -1;
    }
    return static_cast<long>(got);
}

int Socket::SendSomeTLS(platform::Reply& reply) {
    // A head and a small body leave as one record, as they leave the plain
    // path in one system call.
    constexpr size_t kJoined = 16384;
    thread_local std::string joined;
    const std::string_view head = reply.head;
    const std::string_view memory = reply.Memory();
    const uint64_t inMemory = head.size() + memory.size();
    // An answer of several records leaves a few records per system call.
    if (reply.Size() - reply.Sent() > kJoined) tls_->Gather();
    while (!reply.Done()) {
        const uint64_t sent = reply.Sent();
        long n;
        if (sent < head.size() && !memory.empty() && inMemory - sent <= kJoined) {
            joined.assign(head.substr(sent));
            joined.append(memory);
            n = tls_->Write(joined.data(), joined.size());
        } else if (sent < inMemory) {
            const std::string_view rest = sent < head.size() ? head.substr(sent) : memory.substr(sent - head.size());
            n = tls_->Write(rest.data(), rest.size());
        } else {
            const uint64_t position = reply.fileOffset + (sent - inMemory);
            const uint64_t asked = std::min<uint64_t>(reply.fileOffset + reply.fileCount - position, 1u << 30);
            n = tls_->SendFile(*reply.file, position, static_cast<size_t>(asked));
            if (n == 0) {  // the file is shorter than the length the head announced
                LastError = sys::WSAECONNABORTED;
                return -1;
            }
        }
        if (n == platform::TLSSession::kWantRead || n == platform::TLSSession::kWantWrite) return 0;
        if (n < 0) {
            LastError = sys::WSAECONNABORTED;
            return -1;
        }
        reply.Advance(static_cast<uint64_t>(n));
    }
    // Records still gathered must leave before the answer counts as sent.
    const long flushed = tls_->Flush();
    if (flushed == platform::TLSSession::kWantWrite) return 0;
    if (flushed < 0) {
        LastError = sys::WSAECONNABORTED;
        return -1;
    }
    return 1;
}
