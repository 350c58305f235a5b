#pragma once
// The one object that stands for a running web server: it owns the
// configuration, the statistics, the four logs and the listener with its
// pool, and carries the three flags the listener and the pipeline consult
// on every connection and request.
//
// Serving is not its job: the listener serves connections through the
// ConnectionHost the constructor makes, a RequestService (pipeline/), which
// runs each request through the RequestPipeline. That is why the
// constructor lives beside them, in pipeline/HTTPServerLifetime.cpp; the
// rest of the server lives in this folder, the server's own library, which
// the gateways use: the configuration and the lifecycle in HTTPServer.cpp,
// the logs in HTTPServerLogs.cpp.
//
// The live configuration is an immutable record exchanged whole on reload.
// A thread serving a request takes the live record once (Pin) and hands it
// to everything that serves the request in its RequestContext, so a request
// sees one whole record, before or after a reload, never a mix and never a
// freed one. Threads that do not serve a request take a Snapshot.

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "auth/GuessThrottle.h"
#include "net/ConnectionHost.h"
#include "net/ListenThread.h"
#include "platform/FileSystem.h"
#include "server/AutoCertificate.h"
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
    // restart when the port, the bind address or the number of connections
    // now differs from what the listener runs with, saves the copy, reloads
    // the live record, reopens the logs and applies the priority. Nothing
    // happens on Cancel.
    void EditProperties();
    // Reloads the live record from the store, reopens the logs and applies
    // the priority: what an accepted property sheet does after saving (the
    // console front end's reload).
    void ReloadConfiguration();
    // --- HTTPS (HTTPServerTLS.cpp) ------------------------------------------
    // Loads the certificate and key the live record names for the TLS port,
    // while UseTLS is on. At start, when neither file exists, a self-signed
    // pair is made first (said in the error log with its fingerprint). A
    // pair that cannot be loaded, or does not match, is refused with an
    // error-log line and the pair in force stays (none at start: TLS
    // connections are then closed until a reload brings a good pair). With
    // AutoCertificate on, a certificate obtained automatically takes the
    // place of the named pair once there is one. True when a new pair is in
    // force.
    bool LoadCertificate(bool starting);
    // Learns this machine's address by connecting to BounceSite:BouncePort
    // (waiting a few seconds at most), stores it as SiteAddress in a new live
    // record and saves the setup. 1 on success; 0 after logging and showing
    // the failure. Any thread.
    int ResolveDynamicIP();
    // Refuses further work (Overloaded 1, Accepting 0, Available 0), waits
    // for the start-up thread and 500 ms for running requests, closes the
    // logs and stops the listener.
    void ShutdownServer();

    // --- Logs (HTTPServerLogs.cpp) -----------------------------------------
    // LogError and Trace take a request that may be null. While a request is
    // served they follow its record and keep their lines in the serving
    // thread's batch (null: written at once); RequestContext calls them so.
    // Elsewhere they follow the live record and write at once.
    // InitializeLogs shows a message for each log it cannot open, or with
    // failures set, adds the message's text there instead.
    void InitializeLogs(std::vector<std::string>* failures = nullptr);
    void FlushLogs();
    void LogError(const std::string& message, const HTTPRequest* request);
    void Trace(const std::string& message, const HTTPRequest* request);
    void LogError(const HTTPConfiguration& config, EventLog::Batch* batch, const std::string& message,
                  const HTTPRequest* request);
    void Trace(const HTTPConfiguration& config, EventLog::Batch* batch, const std::string& message,
               const HTTPRequest* request);
    // Counts the transaction and writes its access and referrer lines.
    void LogTransaction(const HTTPConfiguration& config, EventLog::Batch* batch, HTTPRequest* request,
                        HTTPResponse* response);
    // The access line's start, before its time ("who - - [" or "who - user ["):
    // who is the client's name or address.
    static void AppendAccessLead(std::string* line, std::string_view who, std::string_view user);
    // The access line's rest after its time, without the line end: the
    // quoted request line, the status, the length and the quoted referrer
    // and agent.
    static void AppendAccessTail(std::string* line, const HTTPRequest& request, const HTTPResponse& response);
    // The referrer line LogTransaction writes for the request; empty when
    // it writes none.
    static std::string ReferrerLine(const HTTPConfiguration& config, const HTTPRequest& request);

    // --- Configuration and the front end's link (HTTPServer.cpp) ----------
    // The live record, for threads that hold it only briefly.
    std::shared_ptr<const HTTPConfiguration> Snapshot() const;
    // Makes fresh the live record.
    void ReplaceConfiguration(HTTPConfiguration fresh);

    // The record a serving thread took last, kept between its requests.
    struct PinnedRecord {
        uint64_t version = ~0ULL;
        std::shared_ptr<const HTTPConfiguration> record;
    };
    // The record a request about to be served works with: held's, while no
    // newer record has been made live (no lock and no shared write, so
    // pinning costs nothing between reloads), else the live one, which held
    // then keeps. The record stays alive while held keeps it.
    const HTTPConfiguration& Pin(PinnedRecord* held) const;

    // The front end asks to hear of title and repaint needs; null to stop.
    void SetShell(ShellLink* shell) { shell_.store(shell); }
    ShellLink* Shell() const { return shell_.load(); }
    // Both cost nothing while no front end listens.
    void RequestTitleUpdate();
    void RequestRepaint();

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
    // Failed credentials per client address, for every thread.
    GuessThrottle Guesses;

private:
    // The four logs, in the order they are opened, flushed and stopped.
    std::array<EventLog*, 4> Logs() { return {&AccessLog, &ErrorLog, &ReferrerLog, &TraceLog}; }
    // Opens the logs and applies the priority of the live record.
    void ApplyRecord();
    // True when the edited setup names another port, bind address or number
    // of slots than the listener took at start: those wait for a restart.
    bool NeedsRestart(const HTTPConfiguration& edited);

    const std::string setupName_;
    mutable std::mutex configLock_;  // guards config_ (the pointer, not the record, which never changes)
    std::shared_ptr<const HTTPConfiguration> config_;
    // Makes each change of the saved setup together with the live record
    // one step (a reload, an accepted sheet, a learned address), so that
    // none of them overwrites another's.
    std::mutex recordLock_;
    std::thread startup_;  // shows start-up messages and learns the address once the listener is up
    std::atomic<bool> stopping_{false};
    // Counts replacements, so that a serving thread can keep the record it
    // pinned last and take the lock only when a newer one is live.
    std::atomic<uint64_t> configVersion_{0};
    std::atomic<ShellLink*> shell_{nullptr};
    std::atomic<bool> sheetOpen_{false};
    int startedPort_ = 0;  // the port the listener was started on; front end's thread only
    std::string startedBindAddress_;  // the BindAddress it was started with; front end's thread only
    int startedTLSPort_ = 0;  // the TLS port it was started on (0: none); front end's thread only
    std::atomic<bool> shutDown_{false};
    // Held from the start to the stop: the first server on a home clears
    // what earlier runs left (temporary files, copies cut short).
    platform::HomeLock homeLock_;

public:
    // Certificates obtained and renewed automatically for the TLS port;
    // last, so that its work ends before anything it uses.
    AutoCertificate Certificates{*this};
};
