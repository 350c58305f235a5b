#include "net/SocketManager.h"

#include "platform/NetCalls.h"

SocketManager SockMan;

// There is no socket library to start on this platform; what remains is to
// keep a peer that closes its end from ending the process.
SocketManager::SocketManager() {
    platform::net::IgnoreBrokenPipe();
    started_ = true;
}

bool SocketManager::Started() const { return started_; }

SocketManager::~SocketManager() = default;
