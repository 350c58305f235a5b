// What the kernel knows of a connection's progress. The C library's view of
// the TCP information block predates the acknowledged-bytes counter, so
// this reads the kernel's own definition, which cannot share a file with
// the C library's.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

#include "platform/NetCalls.h"

namespace platform::net {

int64_t Acknowledged(int s) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return -1;
    if (size < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked) return -1;
    return static_cast<int64_t>(info.tcpi_bytes_acked);
}

}  // namespace platform::net
