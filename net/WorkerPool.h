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
//
// Scripts have a lane of their own. A request that only waits on its script
// (its head and any body have arrived) leaves its slot, so that a flood of
// slow scripts cannot hold every slot and lock out the clients of
// documents. At most as many scripts as there are slots run at once, on
// threads of their own; the others wait their turn in order, at most
// kScriptWaitFactor for each that runs, and no longer than the script
// time-out (when one is set). A request that finds the wait full, or whose
// wait runs out, is turned away with the overload answer.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "net/ConnectionHost.h"

class Connection;

class WorkerPool {
public:
    class Serving;
    // server: serves what a worker takes (the listener); host: the server
    // the worker threads report their start and end to.
    WorkerPool(Serving* server, ConnectionHost* host);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // At most maxThreads threads for general work, and maxThreads scripts
    // at once, from now on.
    void SetLimit(int maxThreads);
    // A priority of the server's scale (-1 .. +2) for every thread.
    void SetPriority(int priority);
    static constexpr int kScriptWaitFactor = 8;

    // Serves the connection on a worker.
    void Submit(Connection* connection);
    // Puts a script request in the scripts' lane, at now, to wait at most
    // maxWait ms for its turn (0: no limit); the connection has left its
    // slot. False when the wait is full: the caller turns it away.
    bool SubmitScript(Connection* connection, uint32_t now, unsigned long maxWait);
    // The script requests running or waiting.
    int ScriptCount();
    // Resets the connections of the scripts' lane (see ServerThread::FlushThread).
    void Flush();
    // A script request has been served: it leaves the lane (before it goes
    // back to its loop or ends).
    void LeaveLane(Connection* connection);
    // How a worker is to serve what it took.
    enum class Lane {
        General,           // Serving::ServeOnWorker
        Script,            // run the script
        ScriptTurnedAway,  // its wait ran out: the overload answer
        ScriptDropped,     // the pool stops: ended unanswered
    };
    // What a worker asks of the listener: to serve what it took.
    class Serving {
    public:
        virtual ~Serving() = default;
        // thread: the host's state for the calling worker.
        // Lane::General: the connection's next request.
        virtual void ServeOnWorker(ConnectionHost::ThreadState* thread, Connection* connection) = 0;
        // Any other lane: a request of the scripts' lane, as lane says.
        virtual void ServeScript(ConnectionHost::ThreadState* thread, Connection* connection, Lane lane) = 0;
    };
    // Lets the work in hand finish and ends every thread; script requests
    // still waiting are ended unanswered.
    void Stop();

private:
    struct Waiting {
        Connection* connection;
        uint32_t since;         // when it joined the lane
        unsigned long maxWait;  // ms; 0: no limit
    };
    void Run();
    void JoinFinished();
    // A thread for work that finds none idle (lock_ held), and a wake.
    void Grow();
    // True when a thread has something to take (lock_ held).
    bool HasWork() const;
    static bool ScriptExpired(const Waiting& waiting, uint32_t now);
    // The next work a thread may take (lock_ held): a general connection,
    // or a script request when the lane has room or its wait ran out; a
    // script request taken joins running_. Null when there is none.
    Connection* Next(uint32_t now, Lane* lane);
    // How long an idle thread may sleep before a wait runs out.
    std::chrono::milliseconds NextExpiry(uint32_t now) const;

    Serving* server_;
    ConnectionHost* host_;
    std::mutex lock_;  // guards everything below
    std::condition_variable wake_;
    std::deque<Connection*> queue_;
    std::deque<Waiting> scripts_;          // script requests waiting their turn
    std::list<Connection*> running_;       // script requests being served
    std::list<std::thread> threads_;
    std::list<std::thread::id> finished_;  // threads that have left and wait to be joined
    int idle_ = 0;
    int limit_ = 8;  // general threads, and scripts at once
    int priority_ = 0;
    bool stopping_ = false;
};
