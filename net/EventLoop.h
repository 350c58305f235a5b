#pragma once
// One event loop of the connection core, on a thread of its own. Every
// connection it holds that is waiting (for its first request, for the next
// one under keep-alive, for a slow client's next bytes, for room to send)
// sits in its poll and costs no thread. When bytes arrive it receives them
// on every ready connection, then serves each request that is whole and
// sends its answer at once (several connections per wake under load), lets
// the host write what the batch logged, and only then closes the
// connections that end (so a client that waits for the end of its
// connection finds its line in the log).
// Requests the host cannot answer without blocking go to the worker pool,
// and come back here afterwards.
//
// Time-outs: the server's receive time-out bounds each line of a request
// head and each pause in its body, the send time-out each pause in an
// answer, the keep-alive time-out the wait between requests. A connection
// that runs out of time is closed without an answer.

#include <atomic>
#include <mutex>
#include <vector>

#include "net/Connection.h"
#include "net/ConnectionHost.h"
#include "platform/Poller.h"

class LoopOwner;
class Socket;

class EventLoop {
public:
    // A listening socket, shared by every loop, and whether what it accepts
    // speaks TLS.
    struct Listening {
        Socket* socket;
        bool tls;
    };
    // listeners: the ports that could be opened (none, one, or more).
    EventLoop(LoopOwner* owner, ConnectionHost* host, std::vector<Listening> listeners);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Runs until Stop; then ends every connection it still holds.
    void Run();
    // Asks the loop to end (any thread).
    void Stop();
    // Takes a connection to serve here: a new one from another loop, or one
    // a worker has served (any thread). False once the loop has stopped;
    // the caller then ends the connection.
    bool Adopt(Connection* connection);
    // The connections it holds (those at a worker included).
    int Load() const { return load_.load(std::memory_order_relaxed); }
    // A connection held by this loop has ended on a worker.
    void Forget() { load_.fetch_sub(1, std::memory_order_relaxed); }
    // A priority of the server's scale (-1 .. +2) for the loop's thread,
    // applied by the loop itself at its next turn.
    void SetPriority(int priority) {
        priority_ = priority;
        wake_.Signal();
    }

private:
    // The steps of Run. Begin and EndAll frame the loop; each turn applies
    // a changed priority, hands back memory once the loop has been quiet
    // for a while, re-reads the host's settings when they are old, acts on
    // what the poll reported, then serves the requests that came whole,
    // expires timers, writes the turn's log lines and ends what was
    // answered. EndAll resets every connection still held.
    void Begin();
    void ApplyPriority();
    void TrimWhenQuiet(bool active, uint32_t now);
    void RefreshSettings(uint32_t now);
    void Dispatch(const platform::net::Poller::Event* events, int n, uint32_t now);
    void FinishTurn();
    void EndAll();

    void Accept(const Listening& listener, uint32_t now);
    // A connection accepted on a TLS port gets its session; false when it
    // could not (the connection is then closed).
    bool StartTLS(Socket& socket);
    // Out of descriptors (error: the accept's): the listener leaves the
    // poll for a moment; the host is told once per shortage.
    void PauseListener(uint32_t now, int error);
    void ResumeListener();
    // False when the connection could not join the poll (it has ended).
    // A connection read at once (now) joins it only at the end of the turn,
    // and only if it still waits for something then.
    bool Welcome(Connection* c, uint32_t now, bool readNow);
    void Receive(Connection* c, uint32_t now);
    void ServeBatch();
    void Serve(Connection* c, uint32_t now);
    // Sends an answer the host has put in the connection's reply.
    void Answer(Connection* c, ConnectionHost::After after, uint32_t now);
    void Send(Connection* c, uint32_t now);
    void Answered(Connection* c, uint32_t now);
    // Arms the send timer for the earlier of the answer's deadline and the
    // next measure of its client's pace (once it has had to wait).
    void ArmSend(Connection* c);
    // Measures what the client took in since the last measure, and marks it
    // too slow (Connection::SendsTooSlowly) or not.
    void MeasurePace(Connection* c, uint32_t now);
    void Linger(Connection* c, uint32_t now);
    void FinishEndings();
    void WaitForRequest(Connection* c, uint32_t now);
    void ToWorker(Connection* c);
    // A request that waits on nothing but its script: it leaves its slot for
    // the scripts' lane, or is turned away when that is full.
    void ToScript(Connection* c, uint32_t now);
    // Into the poll, waiting to read (false: it could not, and has ended) /
    // out of it (closing: its descriptor is about to close).
    bool Register(Connection* c);
    void Unregister(Connection* c, bool closing);
    // The connections of this turn's accepts still open: into the poll,
    // waiting for what they wait for.
    void RegisterDue();
    // A connection's tag in the poll: a slot and the slot's generation, so
    // that an event reported after the connection ended is recognised.
    void* TakePollTag(Connection* c);
    void ReleasePollTag(Connection* c);
    // The connection a tag stands for, or null for a retired tag.
    Connection* ConnectionOf(void* tag) const;
    void End(Connection* c, bool orderly);
    void SetInterest(Connection* c, unsigned interest);
    void TakeAdopted(uint32_t now);

    // Timers: a list per kind, each ordered by deadline.
    void Arm(Connection* c, Connection::Timer timer, uint32_t deadline);
    void Disarm(Connection* c);
    void Expire(uint32_t now);
    // At a receive time-out: true when the connection holds part of a head,
    // which is then served as it stands (its timer disarmed).
    bool HeadCutShort(Connection* c);
    int NextTimeout(uint32_t now) const;

    LoopOwner* owner_;
    ConnectionHost* host_;
    std::unique_ptr<ConnectionHost::ThreadState> thread_;  // the host's state for this loop's thread, while it runs
    std::vector<Listening> listeners_;
    platform::net::Poller poller_;
    platform::net::WakeEvent wake_;
    std::atomic<bool> stop_{false};
    std::atomic<int> load_{0};
    std::atomic<int> priority_{0};
    int appliedPriority_ = 0;  // what the loop's thread runs at; loop thread only

    std::mutex adoptLock_;            // guards adopted_ and stopped_
    std::vector<Connection*> adopted_;
    bool stopped_ = false;

    // Loop-thread state.
    struct PollSlot {
        Connection* connection = nullptr;
        uint32_t generation = 0;  // 31 bits, advanced each time the slot is let go
    };
    std::vector<PollSlot> pollSlots_;
    std::vector<uint32_t> freePollSlots_;
    std::vector<Connection*> ready_;    // connections with bytes to serve
    // The batch being served; it and ready_ trade their memory batch after
    // batch, so that neither grows afresh each time.
    std::vector<Connection*> serving_;
    std::vector<Connection*> ending_;   // answered, to end once the log lines are written
    // Accepted this turn and not yet polled. Most new connections are read,
    // answered and ended in the turn that accepted them, and never need the
    // poll's system calls.
    std::vector<Connection*> pollDue_;
    Connection* head_[Connection::TimerCount] = {};
    Connection* tail_[Connection::TimerCount] = {};
    ConnectionHost::Settings settings_;
    uint32_t settingsRead_ = 0;
    uint32_t lastActive_ = 0;  // when the poll last reported something
    bool trimDue_ = false;     // memory may have been freed since the loop was last quiet
    bool listenerPaused_ = false;      // the listener is out of the poll
    uint32_t listenerResume_ = 0;      // when it goes back in
    bool shortOfDescriptors_ = false;  // an accept failed for want of descriptors; none has worked since
    // The host's change reports are in the poll (its address is their tag).
    bool changesPolled_ = false;
    // This turn's requests may have been sent after a change the poll has
    // not reported yet: the host looks for changes itself before serving.
    bool changesMissed_ = false;
};
