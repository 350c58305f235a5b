#pragma once
// One client connection as the connection core holds it: its socket, the
// bytes received and not used yet, the slot of the pool it occupies, the
// answer being sent, and where it stands (waiting for a request, waiting
// between requests, sending, or served on a worker). A connection lives on one event loop, which alone changes it;
// the pool's slot reaches into it from other threads only to reset its
// socket (a flush, a stop, an eviction), under the slot's lock.

#include <atomic>
#include <cstdint>
#include <memory>

#include "net/ConnectionHost.h"
#include "net/CredentialMemo.h"
#include "net/InputBuffer.h"
#include "net/Socket.h"
#include "platform/Reply.h"

class EventLoop;
class ServerThread;

class Connection {
public:
    enum Phase : uint8_t {
        Reading,  // waiting for (the rest of) a request
        Idle,     // kept alive, waiting for the next request
        Sending,  // an answer is leaving
        Working,  // served on a worker thread
        Lingering,  // answered; dropping what the client still sends before closing
    };

    Connection(std::unique_ptr<Socket> socket, EventLoop* home, uint32_t now);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The connection's socket, for the host that serves it.
    Socket& Tcp() { return *socket_; }
    const Socket& Tcp() const { return *socket_; }

    // --- For the host that reads and serves the requests -----------------
    // The bytes received and not used yet. The host consumes what it has
    // read; the rest (a body, a pipelined request) stays for the next read.
    InputBuffer& Input() { return input_; }
    const InputBuffer& Input() const { return input_; }
    // True when no more bytes will come for the request being read: the
    // client has closed its side, or it went silent past the receive
    // time-out.
    bool InputEnded() const { return peerClosed_ || silent_; }
    // How many of the buffered bytes the host has read as whole parts of a
    // request it has not finished (0 when it has none): the loop restarts
    // the receive clock whenever this grows, so the time-out bounds each
    // part, not the whole request.
    uint32_t HeadProgress() const { return headProgress_; }
    void SetHeadProgress(uint32_t bytes) { headProgress_ = bytes; }
    // A request the host has read and keeps with the connection until it
    // is served (on a worker, or once its body has arrived); null when none.
    void Park(std::unique_ptr<ConnectionHost::Parked> parked) { parked_ = std::move(parked); }
    std::unique_ptr<ConnectionHost::Parked> TakeParked() { return std::move(parked_); }
    bool HasParked() const { return parked_ != nullptr; }
    // Credentials the host verified on this connection (by whichever thread
    // serves its request at the time).
    CredentialMemo& Credentials() { return credentials_; }
    // On a worker: up to len bytes of what the client sends, the buffered
    // ones first, waiting at most timeout for some to arrive. Bytes
    // received; 0 when the client has closed; -1 on failure or time-out.
    long ReceiveSome(char* buffer, size_t len, unsigned long timeout);

    // Read from other threads (the pool's eviction).
    Phase CurrentPhase() const { return phase_.load(std::memory_order_relaxed); }
    // When the wait for the current request began: the connection's start,
    // or the end of the previous answer (millisecond clock).
    uint32_t WaitingSince() const { return waitingSince_.load(std::memory_order_relaxed); }
    // Admitted by taking the slot of a connection that waited too long, and
    // no whole request read since: it may give way at once in turn.
    bool OnProbation() const { return probation_.load(std::memory_order_relaxed); }

    // A client that takes an answer in more slowly than this, once the
    // answer has had to wait for it, holds its slot as a silent client
    // does: a newcomer that finds no idle slot may take it. The floor is far
    // below any real link (a 2G phone takes in several KiB a second) and a
    // slow-reading attacker (a few bytes a second) far below the floor.
    static constexpr int64_t kMinSendRate = 1024;  // bytes per second
    // While an answer waits for its client, the loop measures what the
    // client took in over each period this long (ms).
    static constexpr uint32_t kSendJudgeTime = 1000;
    // True when the answer leaving took in less than kMinSendRate over the
    // last period measured. Read from other threads (the pool's eviction).
    bool SendsTooSlowly() const { return CurrentPhase() == Sending && pace_.load(std::memory_order_relaxed) == TooSlow; }
    // True when a newcomer that took its slot by eviction is waiting for its
    // client to take in its first answer, not yet measured: on probation
    // like a newcomer whose request is not whole, so that slow readers
    // arriving faster than they can be measured give way to each other
    // rather than lock out everyone else.
    bool AnswerOnProbation() const {
        return CurrentPhase() == Sending && pace_.load(std::memory_order_relaxed) == Unmeasured &&
               admittedByEviction_.load(std::memory_order_relaxed);
    }
    // How long (at now) the answer has waited for the client to take it in.
    uint32_t StalledFor(uint32_t now) const { return now - stalledSince_.load(std::memory_order_relaxed); }

private:
    friend class EventLoop;
    friend class ListenThread;

    // The lists of the loop's timers.
    enum Timer : uint8_t { NoTimer, ReadTimer, IdleTimer, SendTimer, TimerCount };

    std::unique_ptr<Socket> socket_;
    EventLoop* home_;                    // the loop that serves it
    ServerThread* slot_ = nullptr;       // the pool slot it was given (not owned)
    std::atomic<Phase> phase_{Reading};
    std::atomic<uint32_t> waitingSince_;
    std::atomic<bool> probation_{false};
    // Set by the loop: when the answer first had to wait for the socket, and
    // how its client has taken it in since.
    enum Pace : uint8_t {
        Flowing,     // the answer has not had to wait for the client
        Unmeasured,  // it has, and no period has been measured yet
        Enough,      // the last period measured took in enough
        TooSlow,     // the last period measured took in too little
    };
    std::atomic<uint32_t> stalledSince_{0};
    std::atomic<Pace> pace_{Flowing};
    // It took its slot by evicting another, and no answer has left whole
    // since.
    std::atomic<bool> admittedByEviction_{false};
    InputBuffer input_;
    std::unique_ptr<ConnectionHost::Parked> parked_;
    CredentialMemo credentials_;
    uint32_t headProgress_ = 0;
    platform::Reply reply_;
    bool welcomed_ = false;      // its loop has taken it in
    bool polled_ = false;        // registered in its loop's poll
    bool pollDue_ = false;       // joins the poll at the end of the turn, unless it has ended
    uint32_t pollSlot_ = 0;      // its tag's slot in the loop, while polled
    void* pollTag_ = nullptr;    // its tag in the poll, while polled
    ConnectionHost::After after_ = ConnectionHost::After::Close;  // once reply_ has left
    uint64_t dropped_ = 0;       // bytes dropped while lingering
    bool peerClosed_ = false;    // the client will send nothing more
    bool silent_ = false;        // the receive time-out ran out while a request was arriving
    bool inBody_ = false;        // the head is whole; waiting for its body
    bool ready_ = false;         // on the loop's list of connections to serve
    unsigned interest_ = 0;      // what the poll waits for on it
    uint32_t lineStart_;         // when the line being read began
    // While an answer leaves: when it ends for want of progress; when and at
    // what count of acknowledged bytes the client's pace was last measured.
    uint32_t sendDeadline_ = 0;
    uint32_t measuredAt_ = 0;
    int64_t acknowledgedAtMeasure_ = 0;
    // The loop's timer lists (intrusive, ordered by deadline).
    Timer timer_ = NoTimer;
    uint32_t deadline_ = 0;
    Connection* prev_ = nullptr;
    Connection* next_ = nullptr;
};
