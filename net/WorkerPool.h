#pragma once
// Threads that may block, for the requests an event loop must not serve
// itself: scripts, request bodies, name lookups, heads too long for a
// connection's buffer. A connection handed to the pool is served there
// (request, answer) and then goes back to its loop to wait for the next
// request, or ends.
//
// Threads are made when work finds none idle, up to the number of slots
// (so every connection of the pool could be served at once, as when each
// had its own thread), and leave again after a while without work.

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

class Connection;
class ConnectionHost;
class ListenThread;

class WorkerPool {
public:
    WorkerPool(ListenThread* listener, ConnectionHost* host);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // At most maxThreads threads from now on.
    void SetLimit(int maxThreads);
    // A priority of the server's scale (-1 .. +2) for every thread.
    void SetPriority(int priority);
    // Serves the connection on a worker.
    void Submit(Connection* connection);
    // Lets the work in hand finish and ends every thread.
    void Stop();

private:
    void Run();
    void JoinFinished();

    ListenThread* listener_;
    ConnectionHost* host_;
    std::mutex lock_;  // guards everything below
    std::condition_variable wake_;
    std::deque<Connection*> queue_;
    std::list<std::thread> threads_;
    std::list<std::thread::id> finished_;  // threads that have left and wait to be joined
    int idle_ = 0;
    int limit_ = 8;
    int priority_ = 0;
    bool stopping_ = false;
};
