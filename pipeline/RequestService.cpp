// Serving requests on the connections the connection core holds: at once on
// a loop thread when nothing can block, or on a worker thread otherwise.
#include <memory>

#include "http/FileCache.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/Connection.h"
#include "net/Reply.h"
#include "platform/NetCalls.h"
#include "server/HTTPServer.h"
#include "server/URLMapping.h"

namespace {

// The document cache of a loop thread.
thread_local std::unique_ptr<FileCache> loopCache;

// The request and response a loop thread serves every request with, reset
// after each: their strings keep their memory from one request to the next.
struct Exchange {
    HTTPRequest request;
    HTTPResponse response;
};
thread_local std::unique_ptr<Exchange> loopExchange;

// Resets a loop's exchange when serving one request ends, whichever way.
class ExchangeScope {
public:
    ExchangeScope() : fresh_(loopExchange ? nullptr : std::make_unique<Exchange>()) {}
    ~ExchangeScope() {
        if (fresh_) return;
        loopExchange->request.Reset();
        loopExchange->response.Reset();
    }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;
    Exchange& operator*() const { return fresh_ ? *fresh_ : *loopExchange; }

private:
    std::unique_ptr<Exchange> fresh_;  // when the thread has no exchange of its own
};

void Prepare(const HTTPConfiguration& config, HTTPRequest* request, HTTPResponse* response) {
    request->AdminEmail = config.AdminEmail;
    response->AdminEmail = config.AdminEmail;
    request->TimeOut = config.RecvTimeOut;
    response->TimeOut = config.SendTimeOut;
}

// Where a request must be served: at once on the loop; on a worker, as it
// may block (a body to receive, a script to run, a file to write or
// delete); or in the scripts' lane, when it waits on nothing but a script.
enum class Blocking { No, Yes, OnlyOnScript };

Blocking WhereToServe(const HTTPConfiguration& config, const HTTPRequest& request, const Socket& s) {
    // A broken head is refused before anything could block.
    if (request.Fault != HeadFault::None) return Blocking::No;
    std::string url = request.URL;
    // The pipeline's own normalisation and mapping decide what is a script.
    const bool script = NormaliseURL(&url) == URLFault::None && IsScriptKind(URLMapping::KindOf(config, url));
    const bool bodyHere = request.BodyDeclared() ? !request.BadFraming && s.Buffered().size() >= request.BodyLength
                                                 : !request.InputLeft();
    if (script && bodyHere) return Blocking::OnlyOnScript;
    if (request.BodyDeclared() || request.InputLeft()) return Blocking::Yes;
    if (request.Method == MethodPOST || request.Method == MethodPUT || request.Method == MethodDELETE)
        return Blocking::Yes;
    return script ? Blocking::Yes : Blocking::No;
}

// How the connection goes on after the answer: kept for the next request
// when keep-alive was granted; else closed, after taking in what the client
// may still be sending (a body left unread, bytes after the request, a
// client that asked to keep the connection and may pipeline).
ConnectionHost::After AfterAnswer(const HTTPRequest& request, const HTTPResponse& response, Socket& s) {
    if (response.KeepAlive) return ConnectionHost::After::KeepAlive;
    if (request.InputLeft() || !s.Buffered().empty() || !request.Header[Hdr::Connection].empty() ||
        request.NamesHTTP11())
        return ConnectionHost::After::Linger;
    return ConnectionHost::After::Close;
}

}  // namespace

ConnectionHost::Settings HTTPServer::CoreSettings() const {
    const auto config = Snapshot();
    Settings settings;
    settings.port = static_cast<int>(config->Port);
    settings.numThreads = static_cast<int>(std::min<uint32_t>(config->NumThreads, 0x7fffffff));
    settings.recvTimeOut = config->RecvTimeOut;
    settings.sendTimeOut = config->SendTimeOut;
    settings.keepAlive = config->KeepAlive;
    settings.reportOverload = config->TraceLogMask != 0;
    settings.scriptTimeOut = config->CGITimeOut;
    return settings;
}

void HTTPServer::ReportOverload() { LogError("Server Overloaded", nullptr); }

void HTTPServer::ReportAcceptFailure(int error) {
    LogError("Cannot accept connections (" + platform::net::ErrorText(error) +
                 "): they wait until a connection ends",
             nullptr);
}

ConnectionHost::Step HTTPServer::Serve(Connection& connection, Reply* reply, After* after, bool turnAway) {
    RequestScope scope(this);
    const HTTPConfiguration& config = Config();
    // A name lookup may wait on the network.
    if (config.ResolveName && !turnAway) return Step::Worker;
    Socket& s = connection.Tcp();
    const ExchangeScope exchange;
    HTTPRequest& request = (*exchange).request;
    HTTPResponse& response = (*exchange).response;
    Prepare(config, &request, &response);
    switch (request.ReadArrived(&s, config.RecvTimeOut)) {
        case HTTPRequest::Arrival::Partial: return Step::Incomplete;
        case HTTPRequest::Arrival::Failed: return Step::Drop;
        case HTTPRequest::Arrival::Whole: break;
    }
    // A body that is on its way (part of it came with the head) is waited
    // for here while it fits the connection's buffer, then used on a
    // worker. A client that sent the head alone may be waiting for the
    // answer first (a refusal needs no body): a worker serves it at once.
    request.TurnedAway = turnAway;
    if (!turnAway) {
        if (request.BodyDeclared() && !request.BadFraming && !s.Buffered().empty() &&
            s.Buffered().size() < request.BodyLength)
            return Step::IncompleteBody;
        switch (WhereToServe(config, request, s)) {
            case Blocking::Yes: return Step::Worker;
            case Blocking::OnlyOnScript: return Step::Script;
            case Blocking::No: break;
        }
    }
    if (!ProcessRequest(&request, &response)) return Step::Drop;
    response.ComposeReply(reply);
    *after = AfterAnswer(request, response, s);
    return Step::Answer;
}

ConnectionHost::After HTTPServer::ServeBlocking(Connection& connection, bool turnAway) {
    RequestScope scope(this);
    const HTTPConfiguration& config = Config();
    Socket* s = &connection.Tcp();
    HTTPRequest request;
    HTTPResponse response;
    Prepare(config, &request, &response);
    if (!request.Read(s, config.RecvTimeOut, config.ResolveName && !turnAway)) return After::Drop;
    request.TurnedAway = turnAway;
    if (!ProcessRequest(&request, &response)) return After::Drop;
    if (!response.Write(s, config.SendTimeOut)) return After::Drop;
    return AfterAnswer(request, response, *s);
}

void HTTPServer::BatchStarting() {
    if (loopCache) loopCache->BeginBatch();
}

void HTTPServer::WriteLogLines() { EventLog::FlushBatch(); }

void HTTPServer::ThreadStarting(bool loop) {
    if (!loop) return;
    loopCache = std::make_unique<FileCache>();
    FileCache::SetCurrent(loopCache.get());
    loopExchange = std::make_unique<Exchange>();
    EventLog::BeginBatching(true);
}

void HTTPServer::ThreadEnding(bool loop) {
    if (!loop) return;
    EventLog::BeginBatching(false);
    loopExchange.reset();
    FileCache::SetCurrent(nullptr);
    loopCache.reset();
}
