#include "platform/NetCalls.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/File.h"

namespace platform::net {
namespace {

thread_local int lastError = 0;
thread_local int lastSystemError = 0;  // the system's number behind lastError

int Translate(int e) {
    switch (e) {
        case EINTR: return WSAEINTR;
        case EBADF: return WSAEBADF;
        case EACCES:
        case EPERM: return WSAEACCES;
        case EFAULT: return WSAEFAULT;
        case EINVAL: return WSAEINVAL;
        case EMFILE:
        case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EWOULDBLOCK: return WSAEWOULDBLOCK;
        case EINPROGRESS: return WSAEINPROGRESS;
        case EALREADY: return WSAEALREADY;
        case ENOTSOCK: return WSAENOTSOCK;
        case EDESTADDRREQ: return WSAEDESTADDRREQ;
        case EMSGSIZE: return WSAEMSGSIZE;
        case EPROTOTYPE: return WSAEPROTOTYPE;
        case ENOPROTOOPT: return WSAENOPROTOOPT;
        case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP: return WSAEOPNOTSUPP;
        case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
        case EADDRINUSE: return WSAEADDRINUSE;
        case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
        case ENETDOWN: return WSAENETDOWN;
        case ENETUNREACH: return WSAENETUNREACH;
        case ENETRESET: return WSAENETRESET;
        case ECONNABORTED: return WSAECONNABORTED;
        case ECONNRESET:
        case EPIPE: return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM: return WSAENOBUFS;
        case EISCONN: return WSAEISCONN;
        case ENOTCONN: return WSAENOTCONN;
        case ESHUTDOWN: return WSAESHUTDOWN;
        case ETIMEDOUT: return WSAETIMEDOUT;
        case ECONNREFUSED: return WSAECONNREFUSED;
        case EHOSTDOWN: return WSAEHOSTDOWN;
        case EHOSTUNREACH: return WSAEHOSTUNREACH;
        default: return e;
    }
}

int Fail() {
    lastSystemError = errno;
    lastError = Translate(errno);
    return -1;
}

// a as the socket address a socket of family takes: an IPv6 socket takes
// an IPv4 address in its IPv6 form, an IPv4 socket no IPv6 address (0,
// with WSAEAFNOSUPPORT). The length of what was written.
socklen_t ToSockaddr(const SocketAddress& a, int family, sockaddr_storage* out) {
    std::memset(out, 0, sizeof *out);
    if (family == AF_INET6) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(out);
        sin6->sin6_family = AF_INET6;
        std::memcpy(sin6->sin6_addr.s6_addr, a.address.Bytes(), 16);
        sin6->sin6_port = htons(a.port);
        return sizeof *sin6;
    }
    if (family != AF_INET || (!a.address.IsV4() && !a.address.IsUnspecified())) {
        lastError = WSAEAFNOSUPPORT;
        return 0;
    }
    auto* sin = reinterpret_cast<sockaddr_in*>(out);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = a.address.AsV4();
    sin->sin_port = htons(a.port);
    return sizeof *sin;
}

// a as the socket s takes it (see above); 0 on failure.
socklen_t ToSockaddrFor(int s, const SocketAddress& a, sockaddr_storage* out) {
    int family = 0;
    socklen_t len = sizeof family;
    if (::getsockopt(s, SOL_SOCKET, SO_DOMAIN, &family, &len) == 0) return ToSockaddr(a, family, out);
    Fail();
    return 0;
}

// A socket address of either family as a SocketAddress; false for another.
bool FromSockaddr(const sockaddr_storage& in, SocketAddress* out) {
    if (in.ss_family == AF_INET) {
        const auto& sin = reinterpret_cast<const sockaddr_in&>(in);
        out->address = IPAddress::V4(sin.sin_addr.s_addr);
        out->port = ntohs(sin.sin_port);
        return true;
    }
    if (in.ss_family == AF_INET6) {
        const auto& sin6 = reinterpret_cast<const sockaddr_in6&>(in);
        out->address = IPAddress::V6(sin6.sin6_addr.s6_addr);
        out->port = ntohs(sin6.sin6_port);
        return true;
    }
    *out = SocketAddress();
    return false;
}

int Name(int s, SocketAddress* out, bool peer) {
    sockaddr_storage address;
    socklen_t len = sizeof address;
    const int r = peer ? ::getpeername(s, reinterpret_cast<sockaddr*>(&address), &len)
                       : ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &len);
    if (r != 0) return Fail();
    if (!FromSockaddr(address, out)) {
        lastError = WSAEAFNOSUPPORT;
        return -1;
    }
    return 0;
}

int SetIntOption(int s, int level, int name, int value) {
    return ::setsockopt(s, level, name, &value, sizeof value) == 0 ? 0 : Fail();
}

}  // namespace

std::string ErrorText(int error) {
    switch (error) {
        case WSAHOST_NOT_FOUND: return ::gai_strerror(EAI_NONAME);
        case WSATRY_AGAIN: return ::gai_strerror(EAI_AGAIN);
        case WSANO_RECOVERY: return ::gai_strerror(EAI_FAIL);
        case WSANO_DATA: return ::gai_strerror(EAI_NODATA);
        default: break;
    }
    // The calling thread's last failure names the system's own error; any
    // other number is taken back to the first system error it stands for.
    int code = Translate(lastSystemError) == error ? lastSystemError : 0;
    for (int candidate = 1; code == 0 && candidate < 256; ++candidate)
        if (Translate(candidate) == error) code = candidate;
    if (code == 0) return {};
    char buffer[128];
    return ::strerror_r(code, buffer, sizeof buffer);
}

int LastError() { return lastError; }
void SetLastError(int error) { lastError = error; }

int Create(int type, bool v6) {
    const int kind = type == 1 ? SOCK_STREAM : SOCK_DGRAM;
    const int s = ::socket(v6 ? AF_INET6 : AF_INET, kind | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return s >= 0 ? s : Fail();
}

int Close(int s) { return ::close(s) == 0 ? 0 : Fail(); }

int Bind(int s, const SocketAddress& at) {
    sockaddr_storage address;
    const socklen_t len = ToSockaddrFor(s, at, &address);
    if (len == 0) return -1;
    return ::bind(s, reinterpret_cast<const sockaddr*>(&address), len) == 0 ? 0 : Fail();
}

int SetV6Only(int s, int on) { return SetIntOption(s, IPPROTO_IPV6, IPV6_V6ONLY, on); }

int Listen(int s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : Fail(); }

int Accept(int s, SocketAddress* peer) {
    const int flags = SOCK_CLOEXEC | SOCK_NONBLOCK;
    for (;;) {
        sockaddr_storage address;
        socklen_t len = sizeof address;
        const int c = peer ? ::accept4(s, reinterpret_cast<sockaddr*>(&address), &len, flags)
                           : ::accept4(s, nullptr, nullptr, flags);
        if (c >= 0) {
            if (peer) FromSockaddr(address, peer);
            return c;
        }
        if (errno != EINTR) return Fail();
    }
}

int Shutdown(int s, int how) {
    const int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    return ::shutdown(s, mode) == 0 ? 0 : Fail();
}

int SetReuseAddress(int s, int on) { return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, on); }
int SetKeepAlive(int s, int on) { return SetIntOption(s, SOL_SOCKET, SO_KEEPALIVE, on); }
int SetNoDelay(int s, int on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on); }
int SetDeferAccept(int s, int seconds) { return SetIntOption(s, IPPROTO_TCP, TCP_DEFER_ACCEPT, seconds); }

int SetLinger(int s, int on, int seconds) {
    linger l;
    l.l_onoff = on ? 1 : 0;
    l.l_linger = static_cast<int16_t>(seconds);
    return ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : Fail();
}

int Connect(int s, const SocketAddress& to) {
    sockaddr_storage address;
    const socklen_t len = ToSockaddrFor(s, to, &address);
    if (len == 0) return -1;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), len) == 0) return 0;
    if (errno == EINPROGRESS) {
        lastError = WSAEWOULDBLOCK;
        return -1;
    }
    return Fail();
}

int ConnectResult(int s) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return Fail();
    if (error == 0) return 0;
    lastSystemError = error;
    lastError = Translate(error);
    return -1;
}

int GetName(int s, SocketAddress* out) { return Name(s, out, false); }
int GetPeer(int s, SocketAddress* out) { return Name(s, out, true); }

long Send(int s, const void* data, size_t size, bool more) {
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0);
    for (;;) {
        const ssize_t n = ::send(s, data, size, flags);
        if (n >= 0) return n;
        if (errno != EINTR) return Fail();
    }
}

long SendTwo(int s, const void* first, size_t firstSize, const void* second, size_t secondSize, bool more) {
    iovec parts[2];
    parts[0].iov_base = const_cast<void*>(first);
    parts[0].iov_len = firstSize;
    parts[1].iov_base = const_cast<void*>(second);
    parts[1].iov_len = secondSize;
    msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0);
    for (;;) {
        const ssize_t n = ::sendmsg(s, &message, flags);
        if (n >= 0) return n;
        if (errno != EINTR) return Fail();
    }
}

long Recv(int s, void* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::recv(s, buffer, size, MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno != EINTR) return Fail();
    }
}

long SendFile(int s, const platform::File& file, uint64_t* offset, size_t count) {
    off_t position = static_cast<off_t>(*offset);
    ssize_t n;
    do {
        n = ::sendfile(s, file.NativeHandle(), &position, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    *offset = static_cast<uint64_t>(position);
    return n;
}

int Wait(int s, bool forWrite, unsigned long timeoutMs) {
    pollfd p;
    p.fd = s;
    p.events = forWrite ? POLLOUT : POLLIN;
    p.revents = 0;
    const int timeout = timeoutMs > 0x7fffffffUL ? 0x7fffffff : static_cast<int>(timeoutMs);
    for (;;) {
        const int r = ::poll(&p, 1, timeout);
        if (r > 0) return 1;
        if (r == 0) return 0;
        if (errno != EINTR) return Fail();
    }
}

void IgnoreBrokenPipe() {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

namespace {

// One name lookup, shared between the caller and the thread that asks the
// name service, so that a caller who stops waiting leaves it nothing to free.
struct PendingLookup {
    std::mutex lock;  // guards done, found, address, error
    std::condition_variable finished;
    bool done = false;
    bool found = false;
    IPAddress address;
    int error = 0;
};

void Resolve(const std::string& host, PendingLookup* pending) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    std::lock_guard<std::mutex> guard(pending->lock);
    // The first IPv4 address, else the first IPv6 one: a name that has both
    // stays where it led before IPv6 was served (a connection over a broken
    // IPv6 route would fail where IPv4 works), and an IPv6-only name works.
    for (const addrinfo* a = r == 0 ? result : nullptr; a; a = a->ai_next) {
        sockaddr_storage address;
        SocketAddress candidate;
        if (a->ai_addrlen > sizeof address) continue;
        std::memcpy(&address, a->ai_addr, a->ai_addrlen);
        if (!FromSockaddr(address, &candidate)) continue;
        if (!pending->found || candidate.address.IsV4()) {
            pending->address = candidate.address;
            pending->found = true;
        }
        if (candidate.address.IsV4()) break;
    }
    if (!pending->found)
        pending->error = r == EAI_AGAIN ? WSATRY_AGAIN : r == EAI_FAIL ? WSANO_RECOVERY : WSAHOST_NOT_FOUND;
    if (result) ::freeaddrinfo(result);
    pending->done = true;
    pending->finished.notify_all();
}

}  // namespace

bool LookupHost(const char* host, IPAddress* address, unsigned long timeoutMs) {
    if (!host) return false;
    if (IPAddress::Parse(host, address)) return true;
    auto pending = std::make_shared<PendingLookup>();
    std::thread([name = std::string(host), pending] { Resolve(name, pending.get()); }).detach();
    std::unique_lock<std::mutex> guard(pending->lock);
    if (!pending->finished.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return pending->done; })) {
        lastError = WSATRY_AGAIN;
        return false;
    }
    if (!pending->found) {
        lastError = pending->error;
        return false;
    }
    *address = pending->address;
    return true;
}

bool ReverseLookup(const IPAddress& address, std::string* name) {
    // An IPv4 address is asked for as one, which the name service knows it as.
    sockaddr_storage at;
    const socklen_t len = ToSockaddr(SocketAddress{address, 0}, address.IsV4() ? AF_INET : AF_INET6, &at);
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&at), len, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return false;
    *name = host;
    return true;
}

namespace {

// Each octet's digits with a dot after them, and how many digits: written
// by copying four bytes rather than by dividing.
constexpr struct OctetTexts {
    char text[256][4];
    unsigned char digits[256];
    constexpr OctetTexts() : text{}, digits{} {
        for (int v = 0; v < 256; ++v) {
            int n = 0;
            if (v >= 100) text[v][n++] = static_cast<char>('0' + v / 100);
            if (v >= 10) text[v][n++] = static_cast<char>('0' + v / 10 % 10);
            text[v][n++] = static_cast<char>('0' + v % 10);
            text[v][n] = '.';
            digits[v] = static_cast<unsigned char>(n);
        }
    }
} kOctets;

}  // namespace

std::string Dotted(uint32_t address) {
    // Every request names both ends this way: four numbers copied from a
    // table cost far less than the library's formatted printing.
    const auto* octets = reinterpret_cast<const unsigned char*>(&address);
    char text[20];
    size_t n = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned v = octets[i];
        std::memcpy(text + n, kOctets.text[v], 4);
        n += kOctets.digits[v] + 1u;
    }
    return std::string(text, n - 1);  // without the last dot
}

}  // namespace platform::net
