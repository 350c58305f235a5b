#include "net/Connection.h"

Connection::Connection(std::unique_ptr<Socket> socket, EventLoop* home, uint32_t now)
    : socket_(std::move(socket)), home_(home), waitingSince_(now), lineStart_(now) {}

bool Connection::SendsTooSlowly(uint32_t now) const {
    if (CurrentPhase() != Sending || !stalled_.load(std::memory_order_acquire)) return false;
    const uint32_t elapsed = StalledFor(now);
    if (elapsed < kSendJudgeTime) return false;
    const int64_t acknowledged = socket_->Acknowledged();
    if (acknowledged < 0) return false;
    const int64_t taken = acknowledged - acknowledgedAtStall_.load(std::memory_order_relaxed);
    return taken * 1000 < kMinSendRate * static_cast<int64_t>(elapsed);
}
