#include "net/WorkerPool.h"

#include <algorithm>
#include <chrono>

#include "net/ConnectionHost.h"
#include "net/Connection.h"
#include "platform/Clock.h"
#include "platform/Threads.h"

namespace {

// A thread without work for this long leaves, unless it is the one kept
// for the next request.
constexpr auto kIdleLife = std::chrono::seconds(10);
constexpr int kKeptIdle = 1;

}  // namespace

WorkerPool::WorkerPool(Serving* server, ConnectionHost* host) : server_(server), host_(host) {}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::SetLimit(int maxThreads) {
    std::lock_guard<std::mutex> guard(lock_);
    limit_ = maxThreads;
}

void WorkerPool::SetPriority(int priority) {
    std::lock_guard<std::mutex> guard(lock_);
    priority_ = priority;
}

void WorkerPool::Submit(Connection* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    JoinFinished();
    queue_.push_back(connection);
    Grow();
}

bool WorkerPool::SubmitScript(Connection* connection, uint32_t now, unsigned long maxWait) {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_ || static_cast<int>(scripts_.size()) >= kScriptWaitFactor * limit_) return false;
    JoinFinished();
    scripts_.push_back({connection, now, maxWait});
    Grow();
    return true;
}

void WorkerPool::Grow() {
    const int room = std::max(0, limit_ - static_cast<int>(running_.size()));
    const int runnable = static_cast<int>(queue_.size()) + std::min(static_cast<int>(scripts_.size()), room);
    if (idle_ < runnable && static_cast<int>(threads_.size()) < 2 * limit_) threads_.emplace_back([this] { Run(); });
    wake_.notify_one();
}

int WorkerPool::ScriptCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(scripts_.size() + running_.size());
}

void WorkerPool::Flush() {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Waiting& waiting : scripts_) waiting.connection->Tcp().Abort();
    for (Connection* connection : running_) connection->Tcp().Abort();
}

void WorkerPool::LeaveLane(Connection* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    running_.remove(connection);
}

void WorkerPool::Stop() {
    std::list<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        wake_.notify_all();
        threads.swap(threads_);
        finished_.clear();
    }
    for (std::thread& t : threads) t.join();
}

void WorkerPool::JoinFinished() {
    for (const std::thread::id id : finished_) {
        for (auto t = threads_.begin(); t != threads_.end(); ++t) {
            if (t->get_id() != id) continue;
            t->join();
            threads_.erase(t);
            break;
        }
    }
    finished_.clear();
}

bool WorkerPool::ScriptExpired(const Waiting& waiting, uint32_t now) {
    return waiting.maxWait != 0 && now - waiting.since >= waiting.maxWait;
}

Connection* WorkerPool::Next(uint32_t now, Lane* lane) {
    if (!queue_.empty()) {
        Connection* connection = queue_.front();
        queue_.pop_front();
        *lane = Lane::General;
        return connection;
    }
    if (scripts_.empty()) return nullptr;
    // A request whose wait has run out is turned away even while the lane
    // is full: that takes no script.
    const bool expired = ScriptExpired(scripts_.front(), now);
    if (!expired && !stopping_ && static_cast<int>(running_.size()) >= limit_) return nullptr;
    Connection* connection = scripts_.front().connection;
    scripts_.pop_front();
    running_.push_back(connection);
    *lane = stopping_ ? Lane::ScriptDropped : expired ? Lane::ScriptTurnedAway : Lane::Script;
    return connection;
}

std::chrono::milliseconds WorkerPool::NextExpiry(uint32_t now) const {
    if (scripts_.empty() || scripts_.front().maxWait == 0) return kIdleLife;
    const unsigned long waited = now - scripts_.front().since;
    const unsigned long maxWait = scripts_.front().maxWait;
    const unsigned long left = waited >= maxWait ? 0 : maxWait - waited;
    return std::min<std::chrono::milliseconds>(kIdleLife, std::chrono::milliseconds(left));
}

void WorkerPool::Run() {
    platform::SetCurrentThreadName("vv-worker");
    std::unique_ptr<ConnectionHost::ThreadState> thread = host_->ThreadStarting(false);
    const int self = platform::CurrentThreadId();
    int applied = 0;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        ++idle_;
        const auto wait = NextExpiry(platform::MillisecondClock());
        const bool woken = wake_.wait_for(lock, wait, [this] { return stopping_ || HasWork(); });
        --idle_;
        Lane lane = Lane::General;
        Connection* connection = Next(platform::MillisecondClock(), &lane);
        if (!connection) {
            if (stopping_ || (!woken && idle_ >= kKeptIdle && scripts_.empty())) break;
            continue;
        }
        const int priority = priority_;
        lock.unlock();
        if (priority != applied) {
            platform::SetThreadPriority(self, priority);
            applied = priority;
        }
        if (lane == Lane::General) server_->ServeOnWorker(thread.get(), connection);
        else server_->ServeScript(thread.get(), connection, lane);
        lock.lock();
    }
    if (!stopping_) finished_.push_back(std::this_thread::get_id());
    lock.unlock();
    host_->ThreadEnding(std::move(thread));
    platform::ReleaseFreeMemory();
}

bool WorkerPool::HasWork() const {
    if (!queue_.empty()) return true;
    if (scripts_.empty()) return false;
    return static_cast<int>(running_.size()) < limit_ ||
           ScriptExpired(scripts_.front(), platform::MillisecondClock());
}
