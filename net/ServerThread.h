#pragma once
// One worker of the pool: it waits to be handed a connection, then serves
// it request after request while keep-alive holds, running the whole
// pipeline on its own thread, and ends the connection in one place.

#include <atomic>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

class HTTPServer;
class Socket;

class ServerThread {
public:
    enum StateCode : int { NotReady = 0, Idle = 1, Busy = 2, Ended = 3 };

    std::atomic<int> State{NotReady};
    HTTPServer* Server;  // not owned

    // Not started: Start() runs the thread body.
    explicit ServerThread(HTTPServer* server);
    // The thread must have ended (Join).
    ~ServerThread();
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    void Start();
    void Join();

    // Called by the listener: hands over a connection when the worker is
    // Idle (it becomes Busy and owns it) and returns 1; otherwise returns 0
    // and the listener keeps the connection.
    int ProcessSocket(std::unique_ptr<Socket>& request);
    // Resets the connection being served (if any) from another thread: its
    // current read, wait or write fails, the worker finishes the connection
    // and becomes idle again. The worker closes the descriptor itself.
    void FlushThread();
    // Asks the thread to end; an idle worker wakes and leaves.
    void EndThread();
    // Applies a priority level of the server's scale (-1 .. +2).
    void SetPriority(int priority);

    // The thread body.
    int Run();
    // Serves the connection in tcp.
    void Respond();

private:
    std::unique_ptr<Socket> tcp;      // the connection being served
    std::mutex tcpLock;               // guards tcp against FlushThread while it is handed over or released
    std::counting_semaphore<> notifyEvent{0};  // a hand-over or an end request wakes the worker
    std::atomic<bool> terminate_{false};
    std::atomic<int> threadId_{0};    // the system id, for priorities; 0 until the thread runs
    std::atomic<int> priority_{0};    // the priority to apply when the thread starts
    std::thread thread_;
};
