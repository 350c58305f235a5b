#include "platform/ServiceManager.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// The service manager's notification protocol: one datagram of
// "NAME=value" lines to the Unix socket named in NOTIFY_SOCKET (a leading
// "@" names one in the abstract namespace). Written here rather than taken
// from the service manager's library, which would load a dozen more
// libraries into every server for one datagram.
void Notify(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (!name || (name[0] != '/' && name[0] != '@')) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(name);
    if (length >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, name, length);
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const int s = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return;
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    [[maybe_unused]] const ssize_t sent =
        ::sendto(s, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), size);
    ::close(s);
}

}  // namespace

void NotifyReady(const std::string& status) { Notify("READY=1\nSTATUS=" + status); }

void NotifyReloading() { Notify("RELOADING=1"); }

void NotifyStopping() { Notify("STOPPING=1"); }

}  // namespace platform
