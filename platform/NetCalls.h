#pragma once
// The socket calls of the host, one thin function each, with failures
// reported in the Windows Sockets numbering the server's messages use
// (10035 would block, 10060 timed out, ...). The error of the last failed
// call is kept per thread, like WSAGetLastError. Sends never raise SIGPIPE.
// Only net/ calls these; it owns every socket descriptor.
//
// Every descriptor made here is non-blocking in the kernel, so no call ever
// blocks; net/ builds blocking behaviour from these calls and Wait. That
// spares a mode switch per transfer and lets sendfile honour time-outs.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/IPAddress.h"

namespace platform {
class File;
}

namespace platform::net {

enum SocketError : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

constexpr int kInvalidSocket = -1;

// An address of either family and a port (in host order).
struct SocketAddress {
    IPAddress address;
    uint16_t port = 0;
};

// The calling thread's last socket error, and a way to set it.
int LastError();
void SetLastError(int error);
// The system's own words for a socket error of the numbering above
// ("Address already in use" for 10048); empty for a number it has none for.
std::string ErrorText(int error);

// Each returns -1 (and sets the thread's last error) on failure.
// A socket of type 1 (stream) or 2 (datagram), IPv6 when v6 (which then
// takes IPv4 too, unless SetV6Only turns that off), else IPv4.
int Create(int type, bool v6 = false);
int Close(int s);
// Binds to the address and port; an IPv6 socket bound to "::" takes every
// address of both families, an IPv4 one bound to it (or 0.0.0.0) every
// IPv4 address.
int Bind(int s, const SocketAddress& at);
int SetV6Only(int s, int on);
int Listen(int s, int backlog);
// The next connection, with a non-blocking descriptor; its peer's address
// into peer when given (port 0 for a peer of neither family).
int Accept(int s, SocketAddress* peer = nullptr);
int Shutdown(int s, int how);               // 0 receive, 1 send, 2 both
int SetReuseAddress(int s, int on);
int SetKeepAlive(int s, int on);
// Sends small writes at once instead of gathering them (Nagle's algorithm
// off); connections accepted later inherit it.
int SetNoDelay(int s, int on);
// A listener hands out a connection only once its first bytes have come
// (or after about seconds, for a client that sends nothing), so that the
// first read after accepting finds the request there.
int SetDeferAccept(int s, int seconds);
// The bytes of a connection the peer has acknowledged so far (it has taken
// them in), or -1.
int64_t Acknowledged(int s);
int SetLinger(int s, int on, int seconds);
int Connect(int s, const SocketAddress& to);  // WSAEWOULDBLOCK while in progress
int ConnectResult(int s);                      // after Wait for writing: 0 or -1
int GetName(int s, SocketAddress* out);
int GetPeer(int s, SocketAddress* out);

// Bytes moved, or -1 (WSAEWOULDBLOCK when the call would have to wait).
// more tells the kernel further data follows at once (the head of a
// response before its body), so the two leave in full segments.
long Send(int s, const void* data, size_t size, bool more = false);
long SendTwo(int s, const void* first, size_t firstSize, const void* second, size_t secondSize, bool more = false);
long Recv(int s, void* buffer, size_t size);
// Sends up to count bytes of file from *offset (advanced by what was sent).
long SendFile(int s, const platform::File& file, uint64_t* offset, size_t count);

// Waits until the socket is readable (or writable). 1 ready, 0 timed out,
// -1 error. A socket that was shut down or reset counts as ready: the next
// call then reports it.
int Wait(int s, bool forWrite, unsigned long timeoutMs);

// Makes a write to a connection the peer has closed fail with an error
// instead of ending the process: sends pass MSG_NOSIGNAL, but the kernel's
// file-to-socket path has no such flag. Call once at start-up.
void IgnoreBrokenPipe();

// Name service, reentrant. LookupHost accepts an address of either family
// or a name, of which it takes the first IPv4 address, or the first IPv6
// address of a name that has none.
// A lookup that the name service does not answer within timeoutMs fails
// with WSATRY_AGAIN (the query itself finishes in the background).
bool LookupHost(const char* host, IPAddress* address, unsigned long timeoutMs = 0xffffffffUL);
bool ReverseLookup(const IPAddress& address, std::string* name);
// An IPv4 address (network order) in dotted decimal.
std::string Dotted(uint32_t address);

}  // namespace platform::net
