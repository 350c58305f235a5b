#include "net/ListenThread.h"

#include <algorithm>

#include "net/ServerThread.h"
#include "net/Socket.h"
#include "platform/Clock.h"
#include "platform/Threads.h"
#include "server/HTTPServer.h"

namespace {

// A failed accept (no port, a closed socket) is retried after this pause,
// so a server without its port does not burn a core.
constexpr unsigned kAcceptRetryPause = 100;

int PriorityOfLevel(int level) {
    switch (level) {
        case 0: return -1;
        case 2: return 1;
        case 3: return 2;
        default: return 0;
    }
}

}  // namespace

ListenThread::ListenThread(HTTPServer* server) : Server(server) {}

ListenThread::~ListenThread() {
    if (thread_.joinable()) Stop();
}

void ListenThread::Start() { thread_ = std::thread([this] { Run(); }); }

void ListenThread::Setup() {
    const auto config = Server->Snapshot();
    auto listener = std::make_unique<Socket>(static_cast<short>(config->Port), 1);
    if (listener->IsOpen() && listener->Listen(kBacklog) == 0) listening_ = true;
    if (listening_) listener->SetChildTimeouts(config->KeepAlive, config->SendTimeOut);
    {
        std::lock_guard<std::mutex> guard(socketLock_);
        ListenSocket = std::move(listener);
    }
    {
        std::lock_guard<std::mutex> guard(ProcessLock);
        const int count = static_cast<int>(std::clamp<uint32_t>(config->NumThreads, kMinThreads, kMaxThreads));
        for (int i = 0; i < count; ++i) {
            Process[i] = std::make_unique<ServerThread>(Server);
            Process[i]->SetPriority(priority_);
            Process[i]->Start();
        }
        ProcessCount = count;
    }
    // A worker that has not reached its wait yet would make the first
    // connections look like an overload; give the new threads a moment.
    for (int waited = 0; waited < 2000; waited += 2) {
        int ready = 0;
        for (int i = 0; i < ProcessCount; ++i)
            if (Process[i]->State != ServerThread::NotReady) ++ready;
        if (ready == ProcessCount || terminate_) break;
        platform::SleepMilliseconds(2);
    }
    setUp_ = true;
    Server->RequestTitleUpdate();
}

void ListenThread::Shutdown() {
    const int count = ProcessCount;
    for (int i = 0; i < count; ++i) Process[i]->EndThread();
    for (int i = 0; i < count; ++i) Process[i]->FlushThread();
    for (int i = 0; i < count; ++i) Process[i]->Join();
    {
        std::lock_guard<std::mutex> guard(ProcessLock);
        for (int i = 0; i < count; ++i) Process[i].reset();
        ProcessCount = 0;
    }
    std::lock_guard<std::mutex> guard(socketLock_);
    ListenSocket.reset();
    listening_ = false;
}

void ListenThread::SetPriority(int level) {
    priority_ = PriorityOfLevel(level);
    std::lock_guard<std::mutex> guard(ProcessLock);
    for (int i = 0; i < ProcessCount; ++i) Process[i]->SetPriority(priority_);
}

int ListenThread::BusyCount() {
    std::lock_guard<std::mutex> guard(ProcessLock);
    int busy = 0;
    for (int i = 0; i < ProcessCount; ++i)
        if (Process[i]->State == ServerThread::Busy) ++busy;
    return busy;
}

int ListenThread::ThreadCount() { return ProcessCount; }

void ListenThread::Flush() {
    std::lock_guard<std::mutex> guard(ProcessLock);
    for (int i = 0; i < ProcessCount; ++i) Process[i]->FlushThread();
}

void ListenThread::Stop() {
    Server->Accepting = 0;
    terminate_ = true;
    {
        // Wakes the blocked accept; the listener closes its own socket.
        std::lock_guard<std::mutex> guard(socketLock_);
        if (ListenSocket) {
            ListenSocket->SetLinger(1, 0);
            ListenSocket->ShutDown(2);
        }
    }
    if (thread_.joinable()) thread_.join();
}

int ListenThread::Run() {
    platform::SetCurrentThreadName("vv-listener");
    Setup();
    Socket* listener = ListenSocket.get();
    listener->NoBlock(0);
    while (!terminate_) {
        std::unique_ptr<Socket> request = listener->Accept();
        if (!request) {
            if (!terminate_) platform::SleepMilliseconds(kAcceptRetryPause);
            continue;
        }
        if (!Server->Accepting) continue;
        // The first idle worker in pool order takes the connection. The flag
        // is set before the worker wakes, so its first request already sees
        // the state its own hand-over made.
        const int count = ProcessCount;
        const int threshold = count * 9 / 10;
        int i = 0;
        for (; i < count; ++i) {
            if (Process[i]->State != ServerThread::Idle) continue;
            Server->Overloaded = i >= threshold ? 1 : 0;
            if (Process[i]->ProcessSocket(request)) break;
        }
        if (i < count) continue;
        Server->Overloaded = 1;
        if (Server->Snapshot()->TraceLogMask) Server->LogError("Server Overloaded", nullptr);
    }
    Shutdown();
    return 0;
}
