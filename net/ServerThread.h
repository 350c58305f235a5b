#pragma once
// One slot of the pool. The waiting is done by a few event loops, and a
// slot is what a connection occupies from its hand-over until it ends:
// NumThreads slots, handed out in index order, whose count of Busy ones is
// the server's busy count and whose index at hand-over decides the
// overload flag. No thread belongs to a slot.
//
// The owner of a connection (its loop, or a worker serving it) is the only
// one that ends it. Other threads reach the connection of a slot only under
// the slot's lock, to reset it (FlushThread) or to take the slot from a
// connection that has waited too long (Evict); the owner gives the slot up
// (Release) under the same lock before it closes the socket, so nothing
// touches a closed descriptor.

#include <atomic>
#include <cstdint>
#include <mutex>

class Connection;

class ServerThread {
public:
    enum StateCode : int { NotReady = 0, Idle = 1, Busy = 2 };

    std::atomic<int> State{NotReady};

    ServerThread() = default;
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    // Puts the slot in service (Idle).
    void Start() { State = Idle; }
    // Hands over a connection when the slot is Idle: it becomes Busy and
    // holds it; 1. Otherwise 0.
    int ProcessSocket(Connection* request);
    // The owner ends connection: the slot becomes Idle again if it still
    // holds it (an eviction may have taken the slot already). Call before
    // the socket is closed.
    void Release(Connection* connection);
    // Resets the connection held (if any): whatever its owner is doing with
    // it fails, and the owner ends it.
    void FlushThread();
    // Whether the connection held may give its slot to a newcomer, at now:
    // age -1 when it may not; otherwise how long it has held the slot
    // without progress (ms), and whether it may only because it is on
    // probation (see Connection::OnProbation). A connection may give way
    // when it has waited for a request (or between requests) for at least
    // minimumAge ms, or waits on probation, or takes its answer in too
    // slowly (Connection::SendsTooSlowly), or its first answer waits for its
    // client on probation (Connection::AnswerOnProbation).
    struct Claim {
        long age = -1;
        bool probation = false;
    };
    Claim Yield(uint32_t now, uint32_t minimumAge);
    // Takes the slot from its connection when Yield allows it (checked
    // again under the lock): the connection is reset (its owner ends it)
    // and the slot is Idle at once. True when it did.
    bool Evict(uint32_t now, uint32_t minimumAge);
    // Takes the slot out of service.
    void EndThread();

private:
    static Claim ClaimOf(const Connection* c, uint32_t now, uint32_t minimumAge);

    Connection* tcp = nullptr;  // the connection held while Busy
    std::mutex tcpLock;         // guards tcp against the other threads that reset or evict it
};
