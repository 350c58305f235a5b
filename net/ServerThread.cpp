#include "net/ServerThread.h"

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/Utilities.h"
#include "net/Socket.h"
#include "platform/Threads.h"
#include "server/HTTPServer.h"

ServerThread::ServerThread(HTTPServer* server) : Server(server) {}

ServerThread::~ServerThread() { Join(); }

void ServerThread::Start() { thread_ = std::thread([this] { Run(); }); }

void ServerThread::Join() {
    if (thread_.joinable()) thread_.join();
}

int ServerThread::ProcessSocket(std::unique_ptr<Socket>& request) {
    if (!request) return 0;
    int expected = Idle;
    if (!State.compare_exchange_strong(expected, Busy)) return 0;
    {
        std::lock_guard<std::mutex> guard(tcpLock);
        tcp = std::move(request);
    }
    notifyEvent.release();
    return 1;
}

void ServerThread::FlushThread() {
    if (State == Ended) return;
    // Only a reset: the owner's blocked operation fails at once and the owner
    // closes the descriptor, so its number is never reused under its feet.
    std::lock_guard<std::mutex> guard(tcpLock);
    if (tcp) {
        tcp->SetLinger(1, 0);
        tcp->ShutDown(2);
    }
}

void ServerThread::EndThread() {
    if (State == Ended) return;
    State = NotReady;
    terminate_ = true;
    notifyEvent.release();
}

void ServerThread::SetPriority(int priority) {
    priority_ = priority;
    if (const int id = threadId_.load()) platform::SetThreadPriority(id, priority);
}

int ServerThread::Run() {
    threadId_ = platform::CurrentThreadId();
    platform::SetCurrentThreadName("vv-worker");
    if (priority_ != 0) platform::SetThreadPriority(threadId_, priority_);
    while (!terminate_) {
        State = Idle;
        Server->RequestTitleUpdate();
        notifyEvent.acquire();
        if (State != Busy) continue;
        Server->RequestTitleUpdate();
        Respond();
        std::lock_guard<std::mutex> guard(tcpLock);
        tcp.reset();
    }
    State = Ended;
    return 0;
}

namespace {

// How long, and for how many bytes, a connection that ends with unread input
// is emptied before it is closed.
constexpr unsigned long kLingerTime = 2000;
constexpr uint64_t kLingerBytes = 1 << 20;

}  // namespace

void ServerThread::Respond() {
    Socket* s = tcp.get();
    s->NoBlock(1);
    int status = 0;
    bool inputLeft = false;
    while (!terminate_) {
        status = 0;
        // The request works with the configuration that is live now, whole,
        // even if a reload happens while it runs.
        HTTPServer::RequestScope scope(Server);
        const HTTPConfiguration& config = Server->Config();
        HTTPRequest request;
        HTTPResponse response;
        request.AdminEmail = config.AdminEmail;
        response.AdminEmail = config.AdminEmail;
        request.TimeOut = config.RecvTimeOut;
        response.TimeOut = config.SendTimeOut;
        if (!request.Read(s, config.RecvTimeOut, config.ResolveName)) {
            status = 1;
            break;
        }
        if (!Server->ProcessRequest(&request, &response)) {
            status = 2;
            break;
        }
        if (!response.Write(s, config.SendTimeOut)) {
            status = 3;
            break;
        }
        Server->RequestRepaint();
        if (!EqualNoCase(response.Header[Hdr::Connection], "Keep-Alive")) {
            inputLeft = request.InputLeft() || s->ReadReady(0);
            break;
        }
        if (!s->ReadReady(config.KeepAlive)) {
            status = 1;
            break;
        }
    }
    // The one place a connection ends: in order after a response without
    // keep-alive, simply closed otherwise (a failed read or write, a refused
    // request, an expired keep-alive wait, a reset from a flush). Input left
    // unread is taken in first, outside the lock, so that a flush can still
    // reset the connection meanwhile.
    if (status == 0 && inputLeft) {
        s->ShutDown(1);
        s->DiscardInput(kLingerBytes, kLingerTime);
    }
    std::lock_guard<std::mutex> guard(tcpLock);
    s->NoBlock(1);
    if (status == 0) s->ShutDown(2);
    s->Close();
}
