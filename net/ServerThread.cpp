#include "net/ServerThread.h"

#include "net/Connection.h"

namespace {

// Waiting for a request, between requests, or on a worker for the rest of
// a head or a body: a state a slow or silent client can hold for long, as
// opposed to being served (a script running) or answered.
bool IsWaiting(const Connection* c) {
    const Connection::Phase phase = c->CurrentPhase();
    return phase == Connection::Reading || phase == Connection::Idle ||
           (phase == Connection::Working && c->Tcp().AwaitingPeer());
}

}  // namespace

int ServerThread::ProcessSocket(Connection* request) {
    if (!request) return 0;
    int expected = Idle;
    if (!State.compare_exchange_strong(expected, Busy)) return 0;
    std::lock_guard<std::mutex> guard(tcpLock);
    tcp = request;
    return 1;
}

void ServerThread::Release(Connection* connection) {
    std::lock_guard<std::mutex> guard(tcpLock);
    if (tcp != connection) return;
    tcp = nullptr;
    int expected = Busy;
    State.compare_exchange_strong(expected, Idle);
}

void ServerThread::FlushThread() {
    std::lock_guard<std::mutex> guard(tcpLock);
    if (!tcp) return;
    tcp->Tcp().Abort();
}

ServerThread::Claim ServerThread::ClaimOf(const Connection* c, uint32_t now, uint32_t minimumAge) {
    if (!c) return {};
    if (IsWaiting(c)) {
        const uint32_t age = now - c->WaitingSince();
        if (age >= minimumAge) return {static_cast<long>(age), false};
        if (c->OnProbation()) return {static_cast<long>(age), true};
        return {};
    }
    // An answer the client takes in too slowly counts from when it began to
    // wait for the client.
    if (c->SendsTooSlowly()) return {static_cast<long>(c->StalledFor(now)), false};
    if (c->AnswerOnProbation()) return {static_cast<long>(c->StalledFor(now)), true};
    return {};
}

ServerThread::Claim ServerThread::Yield(uint32_t now, uint32_t minimumAge) {
    std::lock_guard<std::mutex> guard(tcpLock);
    return ClaimOf(tcp, now, minimumAge);
}

bool ServerThread::Evict(uint32_t now, uint32_t minimumAge) {
    std::lock_guard<std::mutex> guard(tcpLock);
    if (ClaimOf(tcp, now, minimumAge).age < 0) return false;
    tcp->Tcp().Abort();
    tcp = nullptr;
    int expected = Busy;
    State.compare_exchange_strong(expected, Idle);
    return true;
}

void ServerThread::EndThread() {
    State = NotReady;
}
