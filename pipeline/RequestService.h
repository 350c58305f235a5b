#pragma once
// Serving requests on the connections the connection core holds: the
// server's ConnectionHost. A request is served at once on a loop thread when
// nothing can block, or on a worker thread otherwise; either way it runs
// through the RequestPipeline with a RequestContext made here, holding the
// configuration record pinned for it and the serving thread's services
// (its ServingThread).
//
// The server's lifecycle, configuration, logs and statistics stay with the
// HTTPServer; this class only serves, and tells the server what the core
// reports (overload, failures to accept, the front end's notices).

#include <memory>

#include "net/ConnectionHost.h"

class HTTPServer;

class RequestService final : public ConnectionHost {
public:
    // server: the server served for, which outlives this object.
    explicit RequestService(HTTPServer& server) : server_(server) {}

    // The live record's settings.
    Settings CoreSettings() const override;
    // The server's Accepting and Overloaded flags.
    bool AcceptsConnections() const override;
    void SetOverloaded(bool overloaded) override;
    // "Server Overloaded" in the error log.
    void ReportOverload() override;
    // One error-log line: new connections wait for descriptors (or memory).
    void ReportAcceptFailure(int error) override;
    // Become the title and repaint notices of the server's front end, if
    // one listens.
    void SlotsChanged() override;
    void AnswerSent() override;
    // Serves at once a whole request that needs nothing that may block: a
    // document, a listing, a parsed page, a redirect, a refusal, /~stats.
    // Scripts whose request has wholly arrived go to the scripts' lane;
    // other scripts, PUT, DELETE and POST, requests with a body, and every
    // request while ResolveName is on go to a worker. turnAway: answered
    // at once as when overloaded.
    Step Serve(ThreadState* thread, Connection& connection, platform::Reply* reply, After* after,
               bool turnAway) override;
    // Serves (or turns away) and answers the request parked on the
    // connection, waiting as long as the time-outs allow.
    After ServeBlocking(ThreadState* thread, Connection& connection, bool turnAway) override;
    // A loop thread's batch: its document cache rechecks what changed
    // before the batch, and its log lines are written together after its
    // answers have left (a file write is the dearest step of a small answer,
    // so a kept-alive client is not kept waiting for it).
    void BatchStarting(ThreadState* thread, bool changesPolled) override;
    int ChangeHandle(ThreadState* thread) override;
    void ChangesArrived(ThreadState* thread) override;
    void WriteLogLines(ThreadState* thread) override;
    // A ServingThread for each thread; a loop's gets a document cache and
    // keeps its log lines per batch, which it writes when it ends.
    std::unique_ptr<ThreadState> ThreadStarting(bool loop) override;
    void ThreadEnding(std::unique_ptr<ThreadState> thread) override;

private:
    HTTPServer& server_;
};
