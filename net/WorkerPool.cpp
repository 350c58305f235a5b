#include "net/WorkerPool.h"

#include <chrono>

#include "net/ConnectionHost.h"
#include "net/ListenThread.h"
#include "platform/Threads.h"

namespace {

// A thread without work for this long leaves, unless it is the one kept
// for the next request.
constexpr auto kIdleLife = std::chrono::seconds(10);
constexpr int kKeptIdle = 1;

}  // namespace

WorkerPool::WorkerPool(ListenThread* listener, ConnectionHost* host) : listener_(listener), host_(host) {}

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
    if (idle_ < static_cast<int>(queue_.size()) && static_cast<int>(threads_.size()) < limit_)
        threads_.emplace_back([this] { Run(); });
    wake_.notify_one();
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

void WorkerPool::Run() {
    platform::SetCurrentThreadName("vv-worker");
    host_->ThreadStarting(false);
    const int self = platform::CurrentThreadId();
    int applied = 0;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        ++idle_;
        const bool woken = wake_.wait_for(lock, kIdleLife, [this] { return stopping_ || !queue_.empty(); });
        --idle_;
        if (queue_.empty()) {
            if (stopping_ || (!woken && idle_ >= kKeptIdle)) break;
            continue;
        }
        Connection* connection = queue_.front();
        queue_.pop_front();
        const int priority = priority_;
        lock.unlock();
        if (priority != applied) {
            platform::SetThreadPriority(self, priority);
            applied = priority;
        }
        listener_->ServeOnWorker(connection);
        lock.lock();
    }
    if (!stopping_) finished_.push_back(std::this_thread::get_id());
    lock.unlock();
    host_->ThreadEnding(false);
    platform::ReleaseFreeMemory();
}
