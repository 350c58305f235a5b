#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "net/Socket.h"

namespace testing_support {

RawClient::RawClient(int port, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) Close();
}

RawClient::RawClient(const std::string& address, int port) {
    sockaddr_in6 sin6{};
    sockaddr_in sin{};
    const bool v6 = ::inet_pton(AF_INET6, address.c_str(), &sin6.sin6_addr) == 1;
    if (!v6 && ::inet_pton(AF_INET, address.c_str(), &sin.sin_addr) != 1) return;
    fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(static_cast<uint16_t>(port));
    sin.sin_family = AF_INET;
    sin.sin_port = sin6.sin6_port;
    const int r = v6 ? ::connect(fd_, reinterpret_cast<sockaddr*>(&sin6), sizeof sin6)
                     : ::connect(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    if (r != 0) Close();
}

bool HasIPv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&sin6), sizeof sin6) == 0;
    ::close(fd);
    return bound;
}

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RawClient::ShutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

bool RawClient::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {
// One read with a time-out: >0 bytes appended, 0 closed, -1 time-out, -2 error/reset.
int ReadSome(int fd, std::string* out, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return -1;
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) return -2;
    out->append(buffer, static_cast<size_t>(n));
    return static_cast<int>(n);
}
}  // namespace

std::string RawClient::ReadAll(int timeoutMs) {
    std::string out = std::move(pending_);
    pending_.clear();
    while (fd_ >= 0 && ReadSome(fd_, &out, timeoutMs) > 0) {
    }
    return out;
}

std::string RawClient::ReadExactly(size_t n, int timeoutMs) {
    std::string out = std::move(pending_);
    pending_.clear();
    while (fd_ >= 0 && out.size() < n && ReadSome(fd_, &out, timeoutMs) > 0) {
    }
    if (out.size() > n) {
        pending_ = out.substr(n);
        out.resize(n);
    }
    return out;
}

uint64_t RawClient::Discard(uint64_t n, int timeoutMs) {
    uint64_t got = std::min<uint64_t>(pending_.size(), n);
    pending_.erase(0, static_cast<size_t>(got));
    std::vector<char> buffer(1 << 20);
    while (fd_ >= 0 && got < n) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) break;
        // MSG_TRUNC: the kernel counts the bytes off without copying them.
        const ssize_t r =
            ::recv(fd_, buffer.data(), static_cast<size_t>(std::min<uint64_t>(n - got, buffer.size())), MSG_TRUNC);
        if (r <= 0) break;
        got += static_cast<uint64_t>(r);
    }
    return got;
}

std::string RawClient::ReadHead(int timeoutMs) {
    std::string out = std::move(pending_);
    pending_.clear();
    size_t end;
    while ((end = out.find("\r\n\r\n")) == std::string::npos) {
        if (fd_ < 0 || ReadSome(fd_, &out, timeoutMs) <= 0) return out;
    }
    pending_ = out.substr(end + 4);
    out.resize(end + 4);
    return out;
}

std::string RawClient::ReadResponse(int timeoutMs) {
    std::string head = ReadHead(timeoutMs);
    size_t length = 0;
    const size_t at = head.find("\r\nContent-Length: ");
    if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 18, nullptr, 10);
    return head + ReadExactly(length, timeoutMs);
}

bool RawClient::PeerClosed(int timeoutMs) {
    if (!pending_.empty()) return false;
    std::string sink;
    return ReadSome(fd_, &sink, timeoutMs) == 0;
}

bool RawClient::WasReset(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    return ::recv(fd_, &c, 1, 0) < 0 && errno == ECONNRESET;
}

LoopbackPair MakeLoopbackPair() {
    LoopbackPair pair;
    pair.listener = std::make_unique<Socket>(0, 1);
    pair.listener->Listen(5);
    SocketAddress name;
    pair.listener->GetName(&name);
    pair.port = name.port;
    pair.client = std::make_unique<RawClient>(pair.port);
    pair.server = pair.listener->Accept();
    return pair;
}

}  // namespace testing_support
