#include "net/ListenThread.h"

#include <algorithm>

#include "net/Connection.h"
#include "net/ConnectionHost.h"
#include "net/EventLoop.h"
#include "net/ServerThread.h"
#include "net/Socket.h"
#include "platform/Clock.h"
#include "platform/Poller.h"
#include "platform/Threads.h"

namespace {

int PriorityOfLevel(int level) {
    switch (level) {
        case 0: return -1;
        case 2: return 1;
        case 3: return 2;
        default: return 0;
    }
}

// One loop per two processors, within reason. A loop serves many
// connections and batches more of them per wake the more it serves; on a
// machine it shares with its clients, its scripts and a desktop, a loop per
// processor mostly adds thread switches (measured on two processors: one
// loop answered twice the requests of two).
constexpr int kMaxLoops = 8;

}  // namespace

ListenThread::ListenThread(ConnectionHost* server) : Server(server), workers_(this, server) {}

ListenThread::~ListenThread() {
    if (thread_.joinable()) Stop();
}

void ListenThread::Start() { thread_ = std::thread([this] { Run(); }); }

std::unique_ptr<Socket> ListenThread::OpenListener(int port, const std::string& bindAddress, bool* listening) {
    auto listener = std::make_unique<Socket>(static_cast<short>(port), 1, bindAddress);
    *listening = false;
    if (listener->IsOpen() && listener->Listen(kBacklog) == 0) {
        *listening = true;
        // The loops take what is waiting and never wait in accept.
        listener->NoBlock(1);
        // Accepted connections inherit it: answers leave at once, never held
        // back waiting for an acknowledgement.
        listener->SetNoDelay(1);
        // A connection is handed out once its request has come: the read
        // that follows the accept finds it, instead of finding nothing and
        // costing the loop another wait and wake. A client that sends
        // nothing is still handed out after a second or so, and its
        // receive time-out runs from there.
        listener->SetDeferAccept(1);
    }
    return listener;
}

void ListenThread::Setup() {
    const ConnectionHost::Settings settings = Server->CoreSettings();
    platform::net::RaiseDescriptorLimit();
    bool listening = false;
    ListenSocket = OpenListener(settings.port, settings.bindAddress, &listening);
    listening_ = listening;
    std::vector<EventLoop::Listening> listeners;
    if (listening) listeners.push_back({ListenSocket.get(), false});
    // The TLS port is another listener whose connections get a session; one
    // that cannot be opened leaves the plain port serving. It opens even
    // while no certificate is loaded (its connections are closed at once),
    // so that a reload with a good pair serves HTTPS without a restart.
    if (settings.tlsPort > 0) {
        tlsSocket_ = OpenListener(settings.tlsPort, settings.bindAddress, &listening);
        listeningTLS_ = listening;
        tlsPort_ = settings.tlsPort;
        tlsListenError_ = tlsSocket_->LastError.load();
        if (listening) listeners.push_back({tlsSocket_.get(), true});
    }
    const int count = std::clamp(settings.numThreads, kMinThreads, kMaxThreads);
    std::unique_lock<std::mutex> guard(ProcessLock);
    for (int i = 0; i < count; ++i) {
        Process[i] = std::make_unique<ServerThread>();
        Process[i]->Start();
    }
    ProcessCount = count;
    workers_.SetLimit(count);
    workers_.SetPriority(priority_);
    const int loops = std::clamp(platform::net::ProcessorCount() / 2, 1, kMaxLoops);
    for (int i = 0; i < loops; ++i) {
        loops_.push_back(std::make_unique<EventLoop>(this, Server, listeners));
        loops_.back()->SetPriority(priority_);
    }
    for (int i = 1; i < loops; ++i)
        loopThreads_.emplace_back([this, i] {
            platform::SetCurrentThreadName("vv-loop");
            loops_[i]->Run();
        });
    guard.unlock();
    setUp_ = true;
    Server->SlotsChanged();
}

void ListenThread::Shutdown() {
    // The first loop has ended; the others end now, then the workers. Every
    // connection is reset on the way.
    for (auto& loop : loops_) loop->Stop();
    for (std::thread& t : loopThreads_) t.join();
    loopThreads_.clear();
    const int count = ProcessCount;
    for (int i = 0; i < count; ++i) Process[i]->EndThread();
    for (int i = 0; i < count; ++i) Process[i]->FlushThread();
    workers_.Stop();
    {
        std::lock_guard<std::mutex> guard(ProcessLock);
        loops_.clear();
        for (int i = 0; i < count; ++i) Process[i].reset();
        ProcessCount = 0;
    }
    ListenSocket.reset();
    tlsSocket_.reset();
    listening_ = false;
    listeningTLS_ = false;
}

void ListenThread::SetTLS(std::shared_ptr<platform::TLSContext> context) {
    std::lock_guard<std::mutex> guard(tlsLock_);
    tls_ = std::move(context);
}

std::string ListenThread::TLSListenFailure() const {
    const int error = tlsListenError_;
    std::string text = "port " + std::to_string(tlsPort_.load());
    if (const std::string words = platform::net::ErrorText(error); !words.empty()) text += ": " + words;
    return text;
}

std::shared_ptr<platform::TLSContext> ListenThread::TLSNow() {
    std::lock_guard<std::mutex> guard(tlsLock_);
    return tls_;
}

void ListenThread::SetPriority(int level) {
    priority_ = PriorityOfLevel(level);
    std::lock_guard<std::mutex> guard(ProcessLock);
    if (ProcessCount == 0) return;
    for (auto& loop : loops_) loop->SetPriority(priority_);
    workers_.SetPriority(priority_);
}

int ListenThread::BusyCount() {
    int busy = workers_.ScriptCount();
    std::lock_guard<std::mutex> guard(ProcessLock);
    for (int i = 0; i < ProcessCount; ++i)
        if (Process[i]->State == ServerThread::Busy) ++busy;
    return busy;
}

int ListenThread::ThreadCount() { return ProcessCount; }

void ListenThread::Flush() {
    workers_.Flush();
    std::lock_guard<std::mutex> guard(ProcessLock);
    for (int i = 0; i < ProcessCount; ++i) Process[i]->FlushThread();
}

void ListenThread::Stop() {
    terminate_ = true;
    // Reset every connection first, so that no loop or worker waits on a
    // client; then end the loops (the first one ends the listener thread,
    // which ends the rest).
    Flush();
    {
        std::lock_guard<std::mutex> guard(ProcessLock);
        if (!loops_.empty()) loops_[0]->Stop();
    }
    if (thread_.joinable()) thread_.join();
}

int ListenThread::Run() {
    platform::SetCurrentThreadName("vv-listener");
    Setup();
    if (!terminate_) loops_[0]->Run();
    Shutdown();
    return 0;
}

bool ListenThread::HandOver(Connection* connection) {
    const int count = ProcessCount;
    const int threshold = count * 9 / 10;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The first idle slot in pool order takes the connection. The flag
        // is set before its first request is read, so that request already
        // sees the state its own hand-over made.
        for (int i = 0; i < count; ++i) {
            if (Process[i]->State != ServerThread::Idle) continue;
            Server->SetOverloaded(i >= threshold);
            // A newcomer that needed an eviction is on probation until its
            // first request is whole.
            connection->probation_ = attempt > 0;
            connection->admittedByEviction_ = attempt > 0;
            if (!Process[i]->ProcessSocket(connection)) continue;
            connection->slot_ = Process[i].get();
            Server->SlotsChanged();
            return true;
        }
        if (attempt == 0 && !EvictOldest()) break;
    }
    Server->SetOverloaded(true);
    if (Server->CoreSettings().reportOverload) Server->ReportOverload();
    return false;
}

bool ListenThread::EvictOldest() {
    // The connection that has held its slot longest without progress
    // (waiting kEvictAge for a request, or taking its answer too slowly);
    // else the longest-waiting one on probation.
    const uint32_t now = platform::MillisecondClock();
    const int count = ProcessCount;
    int oldest = -1, probationer = -1;
    long oldestAge = -1, probationAge = -1;
    for (int i = 0; i < count; ++i) {
        const ServerThread::Claim claim = Process[i]->Yield(now, kEvictAge);
        if (claim.age < 0) continue;
        long& best = claim.probation ? probationAge : oldestAge;
        if (claim.age > best) {
            best = claim.age;
            (claim.probation ? probationer : oldest) = i;
        }
    }
    if (oldest < 0) oldest = probationer;
    return oldest >= 0 && Process[oldest]->Evict(now, kEvictAge);
}

EventLoop* ListenThread::LeastLoaded() {
    EventLoop* best = loops_[0].get();
    for (auto& loop : loops_)
        if (loop->Load() < best->Load()) best = loop.get();
    return best;
}

void ListenThread::ServeOnWorker(ConnectionHost::ThreadState* thread, Connection* connection) {
    const ConnectionHost::After after = Server->ServeBlocking(thread, *connection, false);
    if (after != ConnectionHost::After::Drop) Server->AnswerSent();
    connection->after_ = after;
    // Waiting for the next request, or for the client to stop sending, is
    // the loop's work again.
    const bool waits = after == ConnectionHost::After::KeepAlive || after == ConnectionHost::After::Linger;
    if (waits && !terminate_ && connection->home_->Adopt(connection)) return;
    connection->home_->Forget();
    End(connection, after != ConnectionHost::After::Drop);
}

void ListenThread::ServeScript(ConnectionHost::ThreadState* thread, Connection* connection, WorkerPool::Lane lane) {
    const ConnectionHost::After after =
        lane == WorkerPool::Lane::ScriptDropped
            ? ConnectionHost::After::Drop
            : Server->ServeBlocking(thread, *connection, lane == WorkerPool::Lane::ScriptTurnedAway);
    if (after != ConnectionHost::After::Drop) Server->AnswerSent();
    workers_.LeaveLane(connection);
    connection->after_ = after;
    // Waiting for the next request needs a slot again; taking in what the
    // client still sends after a closing answer is short and needs none.
    const bool waits = (after == ConnectionHost::After::KeepAlive && Rejoin(connection)) ||
                       after == ConnectionHost::After::Linger;
    if (waits && !terminate_ && connection->home_->Adopt(connection)) return;
    connection->home_->Forget();
    End(connection, after != ConnectionHost::After::Drop);
}

void ListenThread::LeaveSlot(Connection* connection) {
    if (connection->slot_) connection->slot_->Release(connection);
    connection->slot_ = nullptr;
}

bool ListenThread::Rejoin(Connection* connection) {
    const int count = ProcessCount;
    for (int i = 0; i < count; ++i) {
        if (Process[i]->State != ServerThread::Idle || !Process[i]->ProcessSocket(connection)) continue;
        connection->slot_ = Process[i].get();
        return true;
    }
    return false;
}

void ListenThread::End(Connection* connection, bool orderly) {
    // The slot lets go first, so no other thread reaches a closed socket.
    if (connection->slot_) connection->slot_->Release(connection);
    Socket& s = connection->Tcp();
    if (s.Secure()) (s.Established() ? tlsConnections_ : tlsFailed_).fetch_add(1, std::memory_order_relaxed);
    if (orderly) {
        s.CloseNotify();
        s.ShutDown(Socket::kShutBoth);
    }
    s.Close();
    delete connection;
    Server->SlotsChanged();
}
