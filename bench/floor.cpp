// The floor for the benchmark: the least a server can do for a kept-alive
// request on this machine. One thread, one epoll, one read and one write
// per request, and a canned answer of a 1 KiB body; no parsing, no files,
// no log. Not part of the server.
//
//   floor PORT
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor PORT\n");
        return 2;
    }
    const std::string body(1024, 'x');
    const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 1024\r\nContent-Type: application/octet-stream\r\n"
                               "Connection: Keep-Alive\r\n\r\n" + body;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(listener, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 512) != 0) {
        std::perror("floor");
        return 1;
    }
    const int poll = ::epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    ::epoll_ctl(poll, EPOLL_CTL_ADD, listener, &event);
    epoll_event ready[64];
    char buffer[16384];
    for (;;) {
        const int n = ::epoll_wait(poll, ready, 64, -1);
        for (int i = 0; i < n; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == listener) {
                const int c = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
                if (c < 0) continue;
                event.events = EPOLLIN;
                event.data.fd = c;
                ::epoll_ctl(poll, EPOLL_CTL_ADD, c, &event);
                continue;
            }
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                ::close(fd);
                continue;
            }
            if (::write(fd, answer.data(), answer.size()) < 0) ::close(fd);
        }
    }
}
