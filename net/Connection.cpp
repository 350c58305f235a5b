#include "net/Connection.h"

#include <algorithm>
#include <cstring>

Connection::Connection(std::unique_ptr<Socket> socket, EventLoop* home, uint32_t now)
    : socket_(std::move(socket)), home_(home), waitingSince_(now), lineStart_(now) {}

long Connection::ReceiveSome(char* buffer, size_t len, unsigned long timeout) {
    if (len == 0) return 0;
    if (!input_.Empty()) {
        const std::string_view buffered = input_.Bytes();
        const size_t take = std::min(buffered.size(), len);
        std::memcpy(buffer, buffered.data(), take);
        input_.Consume(take);
        return static_cast<long>(take);
    }
    for (;;) {
        const long n = socket_->ReceiveNow(buffer, len);
        if (n >= 0) return n;
        if (socket_->LastError != platform::net::WSAEWOULDBLOCK) return -1;
        // A TLS session may have to send before it can read on.
        if (socket_->WantsWrite() ? !socket_->WriteReady(timeout) : !socket_->ReadReady(timeout)) {
            socket_->LastError = platform::net::WSAETIMEDOUT;
            return -1;
        }
    }
}
