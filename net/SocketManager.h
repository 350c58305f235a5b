#pragma once
// Starts and stops the socket library for the whole process. One instance,
// SockMan, lives from before main until after it returns. On this platform
// there is no library to start: it only makes sure a peer that closes its
// end can never end the process with SIGPIPE.

class SocketManager {
public:
    SocketManager();
    ~SocketManager();
    // True once the manager has started. Every socket asks, which also
    // makes sure the manager is linked into every program that uses sockets.
    bool Started() const;

private:
    bool started_ = false;
};

extern SocketManager SockMan;
