// Serving requests on the connections the connection core holds: at once on
// a loop thread when nothing can block, or on a worker thread otherwise.
#include <memory>

#include "http/ByteSource.h"
#include "http/FileCache.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/Connection.h"
#include "platform/NetCalls.h"
#include "platform/Reply.h"
#include "server/HTTPServer.h"
#include "server/URLMapping.h"

namespace {

// A request read on a loop thread and served later, on a worker or once its
// body has arrived: it waits parked on its connection, and is never read
// again.
struct HeldRequest final : ConnectionHost::Parked {
    HTTPRequest request;
};

// A request's body as its connection delivers it: what came with the head
// first, then what the client still sends.
class ConnectionBody final : public ByteSource {
public:
    explicit ConnectionBody(Connection& connection) : connection_(connection) {}
    long ReceiveSome(char* buffer, size_t len, unsigned long timeout) override {
        return connection_.ReceiveSome(buffer, len, timeout);
    }

private:
    Connection& connection_;
};

// The document cache of a loop thread.
thread_local std::unique_ptr<FileCache> loopCache;

// The request and response a loop thread serves every request with, reset
// after each: their strings keep their memory from one request to the next.
// A request parked on its connection leaves, and the next one is made anew.
struct Exchange {
    std::unique_ptr<HeldRequest> held;
    HTTPResponse response;
};
thread_local std::unique_ptr<Exchange> loopExchange;

// Resets a loop's exchange when serving one request ends, whichever way.
class ExchangeScope {
public:
    ExchangeScope() : fresh_(loopExchange ? nullptr : std::make_unique<Exchange>()) {}
    ~ExchangeScope() {
        if (fresh_) return;
        if (loopExchange->held) loopExchange->held->request.Reset();
        loopExchange->response.Reset();
    }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;
    Exchange& operator*() const { return fresh_ ? *fresh_ : *loopExchange; }

private:
    std::unique_ptr<Exchange> fresh_;  // when the thread has no exchange of its own
};

// What reading a head from a connection's input came to.
enum class HeadRead { Whole, NeedMore, Unusable };

// Parses the head at the start of the connection's input into request (a
// fresh one) and, once it is whole, consumes it and records the
// connection's addresses. A head that outgrows the usual buffer gets the
// room it may need.
HeadRead ReadHead(Connection& connection, HTTPRequest* request) {
    InputBuffer& input = connection.Input();
    const bool ended = connection.InputEnded();
    // Until a line ends, bytes that arrive cannot change what the head is.
    if (!ended && !HTTPRequest::WorthParsing(input.Bytes(), connection.HeadProgress())) return HeadRead::NeedMore;
    const HeadParse head = request->ParseHead(input.Bytes(), ended);
    switch (head.outcome) {
        case HeadParse::NeedMore:
            connection.SetHeadProgress(static_cast<uint32_t>(head.used));
            if (input.Full()) input.Grow(HTTPRequest::kHeadRoom);
            return HeadRead::NeedMore;
        case HeadParse::Unusable: return HeadRead::Unusable;
        case HeadParse::Parsed:
        case HeadParse::Refused: break;
    }
    input.Consume(head.used);
    connection.SetHeadProgress(0);
    Socket& s = connection.Tcp();
    SocketAddress local, peer;
    if (s.GetName(&local) != 0 || s.GetPeer(&peer) != 0) return HeadRead::Unusable;
    request->LocalAddr = platform::net::Dotted(local.address);
    request->RemoteAddr = platform::net::Dotted(peer.address);
    return HeadRead::Whole;
}

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

Blocking WhereToServe(const HTTPConfiguration& config, const HTTPRequest& request, const InputBuffer& input) {
    // A broken head is refused before anything could block.
    if (request.Fault != HeadFault::None) return Blocking::No;
    std::string url = request.URL;
    // The pipeline's own normalisation and mapping decide what is a script.
    const bool script = NormaliseURL(&url) == URLFault::None && IsScriptKind(URLMapping::KindOf(config, url));
    const bool bodyHere = request.BodyDeclared() ? !request.BadFraming && input.Bytes().size() >= request.BodyLength
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
ConnectionHost::After AfterAnswer(const HTTPRequest& request, const HTTPResponse& response, const InputBuffer& input) {
    if (response.KeepAlive) return ConnectionHost::After::KeepAlive;
    if (request.InputLeft() || !input.Empty() || !request.Header[Hdr::Connection].empty() ||
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

ConnectionHost::Step HTTPServer::Serve(Connection& connection, platform::Reply* reply, After* after, bool turnAway) {
    RequestScope scope(this);
    const HTTPConfiguration& config = Config();
    const ExchangeScope exchange;
    // A request parked here earlier (waiting for its body, or for a script
    // that has no room) goes on; else the next one is read.
    std::unique_ptr<ConnectionHost::Parked> parked = connection.TakeParked();
    std::unique_ptr<HeldRequest>& fresh = (*exchange).held;
    if (!parked && !fresh) fresh = std::make_unique<HeldRequest>();
    HTTPRequest& request = parked ? static_cast<HeldRequest&>(*parked).request : fresh->request;
    HTTPResponse& response = (*exchange).response;
    Prepare(config, &request, &response);
    const auto park = [&](Step step) {
        connection.Park(parked ? std::move(parked) : std::move(fresh));
        return step;
    };
    if (!parked) {
        switch (ReadHead(connection, &request)) {
            case HeadRead::NeedMore: return Step::Incomplete;
            case HeadRead::Unusable: return Step::Drop;
            case HeadRead::Whole: break;
        }
    }
    request.TurnedAway = turnAway;
    if (!turnAway) {
        // A name lookup may wait on the network.
        if (config.ResolveName) return park(Step::Worker);
        // A body that is on its way (part of it came with the head) is
        // waited for here while it fits the connection's buffer, then used
        // on a worker. A client that sent the head alone may be waiting for
        // the answer first (a refusal needs no body): a worker serves it at
        // once.
        const InputBuffer& input = connection.Input();
        if (request.BodyDeclared() && !request.BadFraming && !input.Empty() &&
            input.Bytes().size() < request.BodyLength)
            return park(input.Full() ? Step::Worker : Step::IncompleteBody);
        switch (WhereToServe(config, request, input)) {
            case Blocking::Yes: return park(Step::Worker);
            case Blocking::OnlyOnScript: return park(Step::Script);
            case Blocking::No: break;
        }
    }
    if (!ProcessRequest(&request, &response)) return Step::Drop;
    if (!response.ComposeReply(reply)) return Step::Drop;
    *after = AfterAnswer(request, response, connection.Input());
    return Step::Answer;
}

ConnectionHost::After HTTPServer::ServeBlocking(Connection& connection, bool turnAway) {
    RequestScope scope(this);
    const HTTPConfiguration& config = Config();
    const std::unique_ptr<ConnectionHost::Parked> parked = connection.TakeParked();
    if (!parked) return After::Drop;
    HTTPRequest& request = static_cast<HeldRequest&>(*parked).request;
    HTTPResponse response;
    Prepare(config, &request, &response);
    SocketAddress peer;
    std::string name;
    if (config.ResolveName && !turnAway && connection.Tcp().GetPeer(&peer) == 0 &&
        platform::net::ReverseLookup(peer.address, &name))
        request.RemoteHost = std::move(name);
    ConnectionBody body(connection);
    request.SetBodySource(&body);
    request.TurnedAway = turnAway;
    if (!ProcessRequest(&request, &response)) return After::Drop;
    platform::Reply reply;
    if (!response.ComposeReply(&reply) || !connection.Tcp().SendAll(reply, config.SendTimeOut)) return After::Drop;
    return AfterAnswer(request, response, connection.Input());
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
