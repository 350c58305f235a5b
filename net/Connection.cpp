#include "net/Connection.h"

Connection::Connection(std::unique_ptr<Socket> socket, EventLoop* home, uint32_t now)
    : socket_(std::move(socket)), home_(home), waitingSince_(now), lineStart_(now) {}
