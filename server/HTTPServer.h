#pragma once
// The one object that stands for a running web server: it owns the
// configuration, the statistics, the four logs and the listener with its
// pool, and carries the three flags the listener and the pipeline consult
// on every connection and request. It serves the connection core: the core
// waits on connections and asks the server, through a ConnectionHost that
// the constructor makes, to serve the requests on them.
//
// Its members live in several files. In this folder, the server's own
// library, which the gateways use: the configuration and the lifecycle in
// HTTPServer.cpp, the logs in HTTPServerLogs.cpp. In pipeline/, whose
// library a program that makes a server links: the constructor (with the
// ConnectionHost it makes) in HTTPServerLifetime.cpp, serving a request on
// a connection in RequestService.cpp, the pipeline (ProcessRequest and its
// stages) in RequestPipeline.cpp.
//
// The live configuration is an immutable record exchanged whole on reload:
// each request works with the record that was live when it began (pinned by
// a RequestScope), so it sees one whole record, before or after a reload,
// never a mix and never a freed one.

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "net/ConnectionHost.h"
#include "net/ListenThread.h"
#include "platform/FileSystem.h"
#include "server/EventLog.h"
#include "server/HTTPStatistics.h"

class HTTPRequest;
class HTTPResponse;
class ShellLink;

class HTTPServer {
public:
    // Non-zero while the pool is (nearly) exhausted, and for good after
    // shutdown: requests are refused with 503 and keep-alive is not granted.
    std::atomic<int> Overloaded{0};
    // Zero while paused: requests are refused with 503 "Server not available".
    std::atomic<int> Available{1};
    // Zero while new connections are to be closed unserved.
    std::atomic<int> Accepting{1};

    // The setup this server runs ("Primary" when the name given is empty).
    explicit HTTPServer(const std::string& setupName);
    // Stops the listener if it still runs, then closes the logs.
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    const std::string& SetupName() const { return setupName_; }

    // Loads the setup, opens the logs, starts the listener and applies
    // PriorityLevel, without waiting for anyone: the listener accepts before
    // any start-up message shows. Once it is set up, a start-up thread shows
    // the logs that could not be opened and, when ResolveLocal is set,
    // learns the site address (SiteAddress keeps its old value until then).
    void StartServer();
    // Shows the property sheet on a fresh copy of the setup (one sheet at a
    // time); when it is accepted, tells the user that some changes wait for a
    // restart when the port or the number of connections now differs from
    // what the listener runs with, saves the copy, reloads the live record,
    // reopens the logs and applies the priority. Nothing happens on Cancel.
    void EditProperties();
    // Reloads the live record from the store, reopens the logs and applies
    // the priority: what an accepted property sheet does after saving (the
    // console front end's reload).
    void ReloadConfiguration();
    // Learns this machine's address by connecting to BounceSite:BouncePort
    // (waiting a few seconds at most), stores it as SiteAddress in a new live
    // record and saves the setup. 1 on success; 0 after logging and showing
    // the failure. Any thread.
    int ResolveDynamicIP();
    // Refuses further work (Overloaded 1, Accepting 0, Available 0), waits
    // for the start-up thread and 500 ms for running requests, closes the
    // logs and stops the listener.
    void ShutdownServer();

    // --- The request pipeline (RequestPipeline.cpp) -----------------------
    // ProcessRequest runs the stages in order, stops at the first that says
    // stop, and logs the transaction; 0 when the request was not read whole
    // (nothing is logged then), else 1. Each stage returns non-zero to go
    // on, 0 to stop (having set the final status).
    int ProcessRequest(HTTPRequest* request, HTTPResponse* response);
    int PreliminaryCheck(HTTPRequest* request, HTTPResponse* response);
    int FixupURL(HTTPRequest* request, HTTPResponse* response);
    int AccessControl(HTTPRequest* request, HTTPResponse* response);
    int LookupResource(HTTPRequest* request, HTTPResponse* response);
    int CheckResource(HTTPRequest* request, HTTPResponse* response);
    int RunResource(HTTPRequest* request, HTTPResponse* response);
    // Runs after every request, completed meaning that no stage stopped it.
    // Only a completed request has its server-side includes expanded and
    // may be granted "Keep-Alive" (response->KeepAlive, and the header
    // written from it); any response that closes the connection says
    // "Connection: close" to a client that expected it to stay open.
    int PostProcess(HTTPRequest* request, HTTPResponse* response, bool completed = true);
    // The last stage: a HEAD answer keeps the headers of the GET it mirrors
    // and loses its body (a script's complete response of its own keeps its
    // head). A simple (0.9) request's HEAD keeps its status document.
    int DropHeadBody(HTTPRequest* request, HTTPResponse* response);

    // --- Logs (HTTPServerLogs.cpp) -----------------------------------------
    // LogError and Trace take a request that may be null.
    // InitializeLogs shows a message for each log it cannot open, or with
    // failures set, adds the message's text there instead.
    void InitializeLogs(std::vector<std::string>* failures = nullptr);
    void FlushLogs();
    void LogError(const std::string& message, const HTTPRequest* request);
    void Trace(const std::string& message, const HTTPRequest* request);
    void LogTransaction(HTTPRequest* request, HTTPResponse* response);

    // --- Configuration and the front end's link (HTTPServer.cpp) ----------
    // The configuration this thread works with: the record pinned by the
    // RequestScope around the current request, or else the live record. A
    // record replaced while an unpinned thread holds it stays alive until
    // the replacement after, so the front end's thread, which makes every
    // replacement but the start-up thread's one, never sees it freed; any
    // other thread outside a RequestScope takes a Snapshot (debug builds
    // assert that an unpinned call comes from the thread that made the
    // server, the front end's). The logs, written from every thread, read
    // LogRecord alone.
    const HTTPConfiguration& Config() const;
    // The live record, for threads that hold it only briefly.
    std::shared_ptr<const HTTPConfiguration> Snapshot() const;
    // The record a log line follows: the calling thread's pinned one while it
    // serves a request (no lock: every request writes an access line), else
    // the live one, which *hold keeps for the caller.
    const HTTPConfiguration& LogRecord(std::shared_ptr<const HTTPConfiguration>* hold) const;
    // Makes fresh the live record.
    void ReplaceConfiguration(HTTPConfiguration fresh);

    // Pins the live record for the calling thread while it lives. The
    // thread keeps the record (it stays alive at least until the thread's
    // next scope begins), so pinning costs no shared write while no reload
    // has happened.
    class RequestScope {
    public:
        explicit RequestScope(const HTTPServer* server);
        ~RequestScope();
        RequestScope(const RequestScope&) = delete;
        RequestScope& operator=(const RequestScope&) = delete;

    private:
        const HTTPConfiguration* previous_;
    };

    // The front end asks to hear of title and repaint needs; null to stop.
    void SetShell(ShellLink* shell) { shell_.store(shell); }
    ShellLink* Shell() const { return shell_.load(); }
    // Both cost nothing while no front end listens.
    void RequestTitleUpdate();
    void RequestRepaint();

    // --- Serving connections for the connection core ---------------------
    // What the server's ConnectionHost asks of it, call for call.
    using Settings = ConnectionHost::Settings;
    using Step = ConnectionHost::Step;
    using After = ConnectionHost::After;
    Settings CoreSettings() const;
    bool AcceptsConnections() const { return Accepting != 0; }
    void SetOverloaded(bool overloaded) { Overloaded = overloaded ? 1 : 0; }
    // "Server Overloaded" in the error log.
    void ReportOverload();
    // One error-log line: new connections wait for descriptors (or memory).
    void ReportAcceptFailure(int error);
    // Serves at once a whole request that needs nothing that may block: a
    // document, a listing, a parsed page, a redirect, a refusal, /~stats.
    // Scripts whose request has wholly arrived go to the scripts' lane;
    // other scripts, PUT, DELETE and POST, requests with a body, and every
    // request while ResolveName is on go to a worker. turnAway: answered
    // at once as when overloaded.
    Step Serve(Connection& connection, platform::Reply* reply, After* after, bool turnAway);
    // Reads, serves (or turns away) and answers one request, waiting as
    // long as the time-outs allow.
    After ServeBlocking(Connection& connection, bool turnAway);
    // A loop thread's batch: its document cache rechecks what changed
    // before the batch, and its log lines are written together after its
    // answers have left (a file write is the dearest step of a small answer,
    // so a kept-alive client is not kept waiting for it).
    void BatchStarting();
    void WriteLogLines();
    // A loop thread gets a document cache and keeps its log lines per batch.
    void ThreadStarting(bool loop);
    void ThreadEnding(bool loop);

private:
    // The connection core's view of this server; before the listener, which
    // keeps a pointer to it.
    std::unique_ptr<ConnectionHost> host_;

public:
    HTTPStatistics Statistics;
    EventLog AccessLog;
    EventLog ErrorLog;
    EventLog ReferrerLog;
    EventLog TraceLog;
    ListenThread Listener;

private:
    // The four logs, in the order they are opened, flushed and stopped.
    std::array<EventLog*, 4> Logs() { return {&AccessLog, &ErrorLog, &ReferrerLog, &TraceLog}; }
    // Opens the logs and applies the priority of the live record.
    void ApplyRecord();
    // True when the edited setup names another port or number of slots
    // than the listener took at start: those wait for a restart.
    bool NeedsRestart(const HTTPConfiguration& edited);

    const std::string setupName_;
    mutable std::mutex configLock_;  // guards config_ and retired_ (the pointers, not the records, which never change)
    std::shared_ptr<const HTTPConfiguration> config_;
    std::shared_ptr<const HTTPConfiguration> retired_;  // the record config_ replaced last
    // Makes each change of the saved setup together with the live record
    // one step (a reload, an accepted sheet, a learned address), so that
    // none of them overwrites another's.
    std::mutex recordLock_;
    std::thread startup_;  // shows start-up messages and learns the address once the listener is up
    std::atomic<bool> stopping_{false};
    // Counts replacements, so that a worker can keep the record it pinned
    // last and take the lock only when a newer one is live.
    std::atomic<uint64_t> configVersion_{0};
    std::atomic<ShellLink*> shell_{nullptr};
    std::atomic<bool> sheetOpen_{false};
    int startedPort_ = 0;  // the port the listener was started on; front end's thread only
    std::atomic<bool> shutDown_{false};
    // Held from the start to the stop: the first server on a home clears
    // what earlier runs left (temporary files, copies cut short).
    platform::HomeLock homeLock_;
    const std::thread::id frontEnd_ = std::this_thread::get_id();  // the thread that made the server
};
