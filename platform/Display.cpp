#include "platform/Display.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

bool UnixSocketAnswers(const std::string& path) {
    sockaddr_un address;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
}

bool TcpAnswers(const std::string& host, int port) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return false;
    bool ok = false;
    const int s = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s >= 0) {
        if (::connect(s, found->ai_addr, found->ai_addrlen) == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd p = {s, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            ok = ::poll(&p, 1, 2000) == 1 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        ::close(s);
    }
    ::freeaddrinfo(found);
    return ok;
}

bool XDisplayAnswers(const std::string& display) {
    // [host]:number[.screen]; no host (or "unix") means the local socket.
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = display.substr(0, colon);
    const int number = std::atoi(display.c_str() + colon + 1);
    if (host.empty() || host == "unix") return UnixSocketAnswers("/tmp/.X11-unix/X" + std::to_string(number));
    return TcpAnswers(host, 6000 + number);
}

}  // namespace

bool DisplayReachable(std::string* name) {
    name->clear();
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
        *name = wayland;
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        const std::string path = wayland[0] == '/' ? wayland : std::string(runtime ? runtime : "") + "/" + wayland;
        if (UnixSocketAnswers(path)) return true;
    }
    if (const char* x = std::getenv("DISPLAY"); x && *x) {
        *name = x;
        return XDisplayAnswers(x);
    }
    return false;
}

}  // namespace platform
