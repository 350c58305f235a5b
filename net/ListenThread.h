#pragma once
// The listener: it owns the listening socket, the pool of NumThreads slots
// (ServerThread), the event loops that wait on every connection, and the
// worker threads for requests that may block.
//
// Its own thread runs the first event loop; further loops (one per two
// processors) run on threads of their own. A loop that finds a connection
// waiting accepts it and hands it to the first idle slot in index order,
// raising the server's overload flag when that slot lies at or beyond nine
// tenths of the pool. There is no queue: a connection that finds no idle
// slot is closed at once, unless a connection that has been waiting for
// its request (or between requests) for at least kEvictAge ms, or that
// takes its answer in too slowly (Connection::SendsTooSlowly), holds a
// slot: the oldest such one is then reset and the new connection takes its
// slot, so slow or silent clients cannot shut everyone else out.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/LoopOwner.h"
#include "net/WorkerPool.h"

class Connection;
class ConnectionHost;
class EventLoop;
class ServerThread;
class Socket;
namespace platform {
class TLSContext;
}  // namespace platform

class ListenThread final : public LoopOwner, public WorkerPool::Serving {
public:
    static constexpr int kMinThreads = 8;
    static constexpr int kMaxThreads = 512;
    // Connections the kernel holds, handshake done, until a loop takes them.
    // Five (the old stack's limit) overflowed whenever more than six clients
    // arrived while a loop served a batch: the kernel then dropped their
    // acknowledgements or answered with SYN cookies, and each such client
    // waited out a retransmission (200 ms to seconds) for nothing. A full
    // pool is still told early, by the 503 the pipeline gives at nine tenths.
    static constexpr int kBacklog = 511;
    // How long a connection must have waited before a newcomer may take its
    // slot (ms).
    static constexpr uint32_t kEvictAge = 5000;

    ConnectionHost* Server;  // not owned

    explicit ListenThread(ConnectionHost* server);
    ~ListenThread();
    ListenThread(const ListenThread&) = delete;
    ListenThread& operator=(const ListenThread&) = delete;

    // A listening socket on port (0: any free one), with the options every
    // listener has; *listening tells whether it could be bound and listens.
    static std::unique_ptr<Socket> OpenListener(int port, const std::string& bindAddress, bool* listening);

    // Starts the listener thread (which builds the socket, the pool and the loops).
    void Start();
    // Builds the listening socket, the pool and the loops; runs on the
    // listener thread.
    void Setup();
    // Ends every connection, loop and worker and deletes the slots and the
    // listening socket; runs on the listener thread after its loop.
    void Shutdown();
    // Sets the priority of the threads that serve requests from a
    // PriorityLevel setting (0 Low, 1 Medium, 2 High, 3 Critical; any
    // other: Medium). Threads that start later get it too.
    void SetPriority(int level);
    // The number of connections being served: the slots holding one, and
    // the script requests apart from the pool.
    int BusyCount();
    // The number of slots (0 before Setup and after Shutdown).
    int ThreadCount();
    // Resets every open connection, whatever it is doing (those of the
    // scripts' lane too); the slots stay.
    void Flush();
    // Stops accepting, ends the listener and waits for it, every loop and
    // every worker.
    void Stop();
    // True once Setup found the port bound and listening.
    bool IsListening() const { return listening_; }
    // True once Setup has run (whether or not the port could be used).
    bool IsSetUp() const { return setUp_; }

    // --- TLS ----------------------------------------------------------------
    // The certificate and key new TLS connections are made with (any
    // thread); connections in flight keep theirs. While none is set, TLS
    // connections are closed as they come.
    void SetTLS(std::shared_ptr<platform::TLSContext> context);
    std::shared_ptr<platform::TLSContext> TLSNow() override;
    // True once Setup found the TLS port bound and listening.
    bool IsListeningTLS() const { return listeningTLS_; }
    // Why the TLS port could not be opened, in the words of the plain
    // port's message ("port 443: Address already in use"); set by Setup.
    std::string TLSListenFailure() const;
    // TLS connections that completed their handshake, and those that ended
    // before completing it, since start.
    uint64_t TLSConnections() const { return tlsConnections_.load(std::memory_order_relaxed); }
    uint64_t TLSHandshakesFailed() const { return tlsFailed_.load(std::memory_order_relaxed); }

    // The listener's thread body.
    int Run();

    // --- For the loops (LoopOwner) ----------------------------------------
    // A new connection gets a slot as said above.
    bool HandOver(Connection* connection) override;
    EventLoop* LeastLoaded() override;
    WorkerPool& Workers() override { return workers_; }
    void LeaveSlot(Connection* connection) override;
    void End(Connection* connection, bool orderly) override;

    // --- For the workers (WorkerPool::Serving) ---------------------------
    // Serves a connection on the calling worker, then gives it back to its
    // loop or ends it.
    void ServeOnWorker(ConnectionHost::ThreadState* thread, Connection* connection) override;
    // Serves a request of the scripts' lane as lane says, on the calling
    // worker; then the connection takes a slot again to wait for its next
    // request, or ends.
    void ServeScript(ConnectionHost::ThreadState* thread, Connection* connection, WorkerPool::Lane lane) override;

private:
    bool EvictOldest();
    // The first idle slot in pool order takes the connection again, without
    // eviction or a change of the overload flag. False when none is idle.
    bool Rejoin(Connection* connection);

    std::unique_ptr<Socket> ListenSocket;
    std::unique_ptr<Socket> tlsSocket_;  // the TLS port's listener, when one is opened
    std::mutex tlsLock_;                 // guards tls_
    std::shared_ptr<platform::TLSContext> tls_;
    std::atomic<bool> listeningTLS_{false};
    std::atomic<int> tlsListenError_{0};  // the TLS port's bind or listen failure, once Setup has run
    std::atomic<int> tlsPort_{0};
    std::atomic<uint64_t> tlsConnections_{0};
    std::atomic<uint64_t> tlsFailed_{0};
    std::atomic<int> ProcessCount{0};
    std::unique_ptr<ServerThread> Process[kMaxThreads];
    std::mutex ProcessLock;  // guards Process and ProcessCount while the pool is built, torn down, counted, flushed or re-prioritised
    std::vector<std::unique_ptr<EventLoop>> loops_;  // loops_[0] runs on the listener thread
    std::vector<std::thread> loopThreads_;           // the threads of loops_[1..]
    WorkerPool workers_;
    std::atomic<bool> terminate_{false};
    std::atomic<bool> listening_{false};
    std::atomic<bool> setUp_{false};
    std::atomic<int> priority_{0};  // the last priority asked for, for threads that start later
    std::thread thread_;
};
