#pragma once
// The listening thread and its fixed pool of workers, created once when the
// listener starts. The listener accepts, hands each connection to the first
// idle worker in pool order, counts, and raises the server's overload flag
// when the worker it used lies at or beyond nine tenths of the pool. There
// is no queue: a connection that finds no idle worker is closed at once.

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class HTTPServer;
class ServerThread;
class Socket;

class ListenThread {
public:
    static constexpr int kMinThreads = 8;
    static constexpr int kMaxThreads = 512;
    static constexpr int kBacklog = 5;

    HTTPServer* Server;  // not owned

    explicit ListenThread(HTTPServer* server);
    ~ListenThread();
    ListenThread(const ListenThread&) = delete;
    ListenThread& operator=(const ListenThread&) = delete;

    // Starts the listener thread (which builds the socket and the pool).
    void Start();
    // Builds the listening socket and the pool; runs on the listener thread.
    void Setup();
    // Ends and deletes every worker and the listening socket; runs on the
    // listener thread after its loop.
    void Shutdown();
    // Sets the priority of every worker from a PriorityLevel setting
    // (0 Low, 1 Medium, 2 High, 3 Critical; any other: Medium). Workers that
    // start later get it too.
    void SetPriority(int level);
    // The number of workers serving a connection.
    int BusyCount();
    // The number of workers (0 before Setup and after Shutdown).
    int ThreadCount();
    // Resets every open connection; the workers stay.
    void Flush();
    // Stops accepting, ends the listener and waits for it and every worker.
    void Stop();
    // True once Setup found the port bound and listening.
    bool IsListening() const { return listening_; }
    // True once Setup has run (whether or not the port could be used).
    bool IsSetUp() const { return setUp_; }

    // The listener's thread body.
    int Run();

private:
    std::unique_ptr<Socket> ListenSocket;
    std::mutex socketLock_;  // guards ListenSocket against Stop, which wakes the accept from another thread
    std::atomic<int> ProcessCount{0};
    std::unique_ptr<ServerThread> Process[kMaxThreads];
    std::mutex ProcessLock;  // guards Process and ProcessCount while the pool is built, torn down, counted, flushed or re-prioritised
    std::atomic<bool> terminate_{false};
    std::atomic<bool> listening_{false};
    std::atomic<bool> setUp_{false};
    std::atomic<int> priority_{0};  // the last priority asked for, for workers that start later
    std::thread thread_;
};
