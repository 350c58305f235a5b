#include "net/SocketManager.h"

SocketManager SockMan;

// Every send already passes MSG_NOSIGNAL (platform/NetCalls.cpp), so there is
// nothing to start or to clean up here.
SocketManager::SocketManager() = default;
SocketManager::~SocketManager() = default;
