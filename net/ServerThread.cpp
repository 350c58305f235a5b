#include "net/ServerThread.h"

#include "net/Connection.h"

namespace {

// Waiting for a request, between requests, or on a worker for the rest of
// a head or a body: a state a slow or silent client can hold for long, as
// opposed to being served (a script running) or answered.
bool IsWaiting(Connection* c) {
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

long ServerThread::WaitingAge(uint32_t now) {
    std::lock_guard<std::mutex> guard(tcpLock);
    if (!tcp || !IsWaiting(tcp)) return -1;
    return static_cast<long>(now - tcp->WaitingSince());
}

bool ServerThread::OnProbation() {
    std::lock_guard<std::mutex> guard(tcpLock);
    return tcp && IsWaiting(tcp) && tcp->OnProbation();
}

bool ServerThread::Evict(uint32_t now, uint32_t minimumAge) {
    std::lock_guard<std::mutex> guard(tcpLock);
    if (!tcp || !IsWaiting(tcp) || (!tcp->OnProbation() && now - tcp->WaitingSince() < minimumAge)) return false;
    tcp->Tcp().Abort();
    tcp = nullptr;
    int expected = Busy;
    State.compare_exchange_strong(expected, Idle);
    return true;
}

void ServerThread::EndThread() {
    if (State != Ended) State = NotReady;
}
