#pragma once
// What a thread of the connection core keeps for serving requests, from its
// start to its end: the configuration record it took last and the content
// types it found under it; a loop thread also its document cache, the log
// lines of its batch, and the request and response it serves every request
// with (their strings keep their memory from one request to the next).
// Made by the RequestService when the thread starts, and used by that
// thread alone.

#include <memory>

#include "http/FileCache.h"
#include "http/HTTPResponse.h"
#include "net/ConnectionHost.h"
#include "pipeline/AnswerMemo.h"
#include "pipeline/MIMEMemo.h"
#include "server/EventLog.h"
#include "server/HTTPServer.h"

struct RequestContext;

class ServingThread final : public ConnectionHost::ThreadState {
public:
    // loop: a loop thread, which gets a cache, a batch and an answer memo
    // for server.
    ServingThread(HTTPServer& server, bool loop);
    // Writes the lines the batch still keeps.
    ~ServingThread() override;

    // The record a request about to be served on this thread works with
    // (HTTPServer::Pin), with the remembered types made to follow it.
    const HTTPConfiguration& Pin(const HTTPServer& server);
    // Gives context this thread's services.
    void Equip(RequestContext* context);
    // The version of the record Pin gave last.
    uint64_t PinnedVersion() const { return record_.version; }
    // A loop's answer memo; null on a worker.
    AnswerMemo* Memo() { return memo_.get(); }

    // A new batch of requests begins: the cache rechecks what changed,
    // unless the loop's poll has told it already (changesPolled).
    void BatchStarting(bool changesPolled);
    // The cache's change reports, for the loop's poll (see ConnectionHost).
    int ChangeHandle() const { return cache_ ? cache_->ChangeHandle() : -1; }
    void ChangesArrived() {
        if (cache_) cache_->ChangesArrived();
    }
    // Writes the log lines kept for the batch.
    void WriteLogLines();

    // The request a loop reads (the RequestService's kind of Parked; it
    // leaves when it is parked on its connection, and the next is made
    // anew) and the response it serves every request with. Whoever serves a
    // request with them resets them when it is done.
    struct Exchange {
        std::unique_ptr<ConnectionHost::Parked> held;
        HTTPResponse response;
    };
    // This thread's exchange, made when it is first asked for (a worker
    // never asks).
    Exchange& LoopExchange();

private:
    HTTPServer::PinnedRecord record_;
    MIMEMemo types_;
    std::unique_ptr<FileCache> cache_;        // a loop's only
    std::unique_ptr<EventLog::Batch> batch_;  // a loop's only
    std::unique_ptr<Exchange> exchange_;      // a loop's only, once asked for
    std::unique_ptr<AnswerMemo> memo_;        // a loop's only
};
