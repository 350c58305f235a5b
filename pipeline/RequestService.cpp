#include "pipeline/RequestService.h"

#include <utility>

#include "http/ByteSource.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/Connection.h"
#include "pipeline/RequestPipeline.h"
#include "pipeline/ServingThread.h"
#include "platform/NetCalls.h"
#include "platform/Reply.h"
#include "server/HTTPServer.h"
#include "server/RequestContext.h"
#include "server/URLMapping.h"

namespace {

// A request read on a loop thread and served later, on a worker or once its
// body has arrived: it waits parked on its connection, and is never read
// again; nor is its URL resolved again.
struct HeldRequest final : ConnectionHost::Parked {
    HTTPRequest request;
    ResolvedURL url;
};

// A request's body as its connection delivers it: what came with the head
// first, then what the client still sends.
class ConnectionBody final : public ByteSource {
public:
    ConnectionBody(Connection& connection, unsigned long sendTimeOut)
        : connection_(connection), sendTimeOut_(sendTimeOut) {}
    long ReceiveSome(char* buffer, size_t len, unsigned long timeout) override {
        return connection_.ReceiveSome(buffer, len, timeout);
    }
    // A client that has begun to send its body needs no go-ahead.
    bool Continue() override {
        if (!connection_.Input().Empty()) return true;
        platform::Reply reply;
        reply.head = "HTTP/1.1 100 Continue\r\n\r\n";
        return connection_.Tcp().SendAll(reply, sendTimeOut_);
    }

private:
    Connection& connection_;
    unsigned long sendTimeOut_;
};

// Resets a loop's exchange when serving one request ends, whichever way:
// the strings of its request (unless parked, when a new one is made for the
// next) and of its response keep their memory for the next request.
class ExchangeReset {
public:
    explicit ExchangeReset(ServingThread::Exchange& exchange) : exchange_(exchange) {}
    ~ExchangeReset() {
        if (exchange_.held) static_cast<HeldRequest&>(*exchange_.held).request.Reset();
        exchange_.response.Reset();
    }
    ExchangeReset(const ExchangeReset&) = delete;
    ExchangeReset& operator=(const ExchangeReset&) = delete;

private:
    ServingThread::Exchange& exchange_;
};

// What reading a head from a connection's input came to.
enum class HeadRead { Whole, NeedMore, Unusable };

// Parses the head at the start of the connection's input into request (a
// fresh one) and, once it is whole, consumes it and records the
// connection's addresses: the peer's always, this end's only when local
// (the redirect to TLS is on and needs it), since the system is asked for
// it with a call of its own, once per connection. A head that outgrows the
// usual buffer gets the room it may need.
HeadRead ReadHead(Connection& connection, HTTPRequest* request, bool http11, bool local) {
    InputBuffer& input = connection.Input();
    const bool ended = connection.InputEnded();
    // Until a line ends, bytes that arrive cannot change what the head is.
    if (!ended && !HTTPRequest::WorthParsing(input.Bytes(), connection.HeadProgress())) return HeadRead::NeedMore;
    const HeadParse head = request->ParseHead(input.Bytes(), ended, http11);
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
    const std::string* peer = s.PeerText();
    if (!peer) return HeadRead::Unusable;
    if (local) {
        const std::string* name = s.NameText();
        if (!name) return HeadRead::Unusable;
        request->LocalAddr = *name;
    }
    request->RemoteAddr = *peer;
    request->Secure = s.Secure();
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

Blocking WhereToServe(RequestContext& c, const InputBuffer& input) {
    const HTTPRequest& request = *c.request;
    // A broken head is refused before anything could block.
    if (request.Fault != HeadFault::None) return Blocking::No;
    // The pipeline's own normalisation and mapping decide what is a script;
    // the request keeps them for the pipeline, wherever it is served.
    RequestPipeline::ResolveURL(c);
    const bool script = c.url.mapping && IsScriptKind(c.url.mapping->Kind);
    // A chunked body's end is known only once it has come.
    if (request.Chunked()) return Blocking::Yes;
    const bool bodyHere = request.BodyDeclared() ? !request.BadFraming && input.Bytes().size() >= request.BodyLength
                                                 : !request.InputLeft();
    if (script && bodyHere) return Blocking::OnlyOnScript;
    if (request.BodyDeclared() || request.InputLeft()) return Blocking::Yes;
    if (request.Method == MethodPOST || request.Method == MethodPUT || request.Method == MethodDELETE)
        return Blocking::Yes;
    // A password may be stored hashed, and hashing a guess takes the time it
    // is meant to take: not on a loop. The master key is checked for every
    // method but reading ones; credentials this connection has shown a
    // protected folder already are not hashed again.
    if (!request.Header[Hdr::Authorization].empty()) {
        const bool reading = request.Method == MethodGET || request.Method == MethodHEAD;
        if (!reading && c.config.UseMasterKey) return Blocking::Yes;
        if (!c.config.AccessControlList.empty() &&
            !(c.credentials && c.credentials->given == request.Header[Hdr::Authorization]))
            return Blocking::Yes;
    }
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

ConnectionHost::Settings RequestService::CoreSettings() const {
    const auto config = server_.Snapshot();
    Settings settings;
    settings.port = static_cast<int>(config->Port);
    settings.numThreads = static_cast<int>(std::min<uint32_t>(config->NumThreads, 0x7fffffff));
    settings.recvTimeOut = config->RecvTimeOut;
    settings.sendTimeOut = config->SendTimeOut;
    settings.keepAlive = config->KeepAlive;
    settings.reportOverload = config->TraceLogMask != 0;
    settings.scriptTimeOut = config->CGITimeOut;
    settings.bindAddress = config->BindAddress;
    settings.tlsPort = config->UseTLS ? static_cast<int>(config->TLSPort) : 0;
    return settings;
}

bool RequestService::AcceptsConnections() const { return server_.Accepting != 0; }

void RequestService::SetOverloaded(bool overloaded) { server_.Overloaded = overloaded ? 1 : 0; }

void RequestService::ReportOverload() { server_.LogError("Server Overloaded", nullptr); }

void RequestService::ReportAcceptFailure(int error) {
    server_.LogError("Cannot accept connections (" + platform::net::ErrorText(error) +
                         "): they wait until a connection ends",
                     nullptr);
}

void RequestService::SlotsChanged() { server_.RequestTitleUpdate(); }

void RequestService::AnswerSent() { server_.RequestRepaint(); }

ConnectionHost::Step RequestService::Serve(ThreadState* thread, Connection& connection, platform::Reply* reply,
                                           After* after, bool turnAway) {
    ServingThread& serving = static_cast<ServingThread&>(*thread);
    const HTTPConfiguration& config = serving.Pin(server_);
    AnswerMemo* const memo = turnAway || connection.HasParked() ? nullptr : serving.Memo();
    if (memo && memo->Replay(connection, serving.PinnedVersion(), reply)) {
        *after = After::KeepAlive;
        return Step::Answer;
    }
    ServingThread::Exchange& exchange = serving.LoopExchange();
    const ExchangeReset reset(exchange);
    // A request parked here earlier (waiting for its body, or for a script
    // that has no room) goes on; else the next one is read.
    std::unique_ptr<ConnectionHost::Parked> parked = connection.TakeParked();
    std::unique_ptr<ConnectionHost::Parked>& fresh = exchange.held;
    if (!parked && !fresh) fresh = std::make_unique<HeldRequest>();
    HeldRequest& held = static_cast<HeldRequest&>(parked ? *parked : *fresh);
    HTTPRequest& request = held.request;
    HTTPResponse& response = exchange.response;
    Prepare(config, &request, &response);
    RequestContext c(server_, config, &request, &response);
    serving.Equip(&c);
    c.credentials = &connection.Credentials();
    if (parked) c.url = std::exchange(held.url, {});
    const auto park = [&](Step step) {
        held.url = std::move(c.url);
        connection.Park(parked ? std::move(parked) : std::move(fresh));
        return step;
    };
    if (!parked) {
        // Its bytes stay where they are while the head is parsed and taken.
        const std::string_view arrived = connection.Input().Bytes();
        switch (ReadHead(connection, &request, config.UseHTTP11 != 0, config.UseTLS && config.RedirectToTLS)) {
            case HeadRead::NeedMore: return Step::Incomplete;
            case HeadRead::Unusable: return Step::Drop;
            case HeadRead::Whole: break;
        }
        if (memo) memo->Note(arrived.substr(0, arrived.size() - connection.Input().Bytes().size()), request, config);
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
        switch (WhereToServe(c, input)) {
            case Blocking::Yes: return park(Step::Worker);
            case Blocking::OnlyOnScript: return park(Step::Script);
            case Blocking::No: break;
        }
    }
    if (!RequestPipeline::ProcessRequest(c)) return Step::Drop;
    if (!response.ComposeReply(reply)) return Step::Drop;
    if (memo) memo->Keep(request, response, *reply, config, serving.PinnedVersion());
    *after = AfterAnswer(request, response, connection.Input());
    return Step::Answer;
}

ConnectionHost::After RequestService::ServeBlocking(ThreadState* thread, Connection& connection, bool turnAway) {
    ServingThread& serving = static_cast<ServingThread&>(*thread);
    const HTTPConfiguration& config = serving.Pin(server_);
    const std::unique_ptr<ConnectionHost::Parked> parked = connection.TakeParked();
    if (!parked) return After::Drop;
    HeldRequest& held = static_cast<HeldRequest&>(*parked);
    HTTPRequest& request = held.request;
    HTTPResponse response;
    Prepare(config, &request, &response);
    SocketAddress peer;
    std::string name;
    if (config.ResolveName && !turnAway && connection.Tcp().GetPeer(&peer) == 0 &&
        platform::net::ReverseLookup(peer.address, &name))
        request.RemoteHost = std::move(name);
    ConnectionBody body(connection, config.SendTimeOut);
    request.SetBodySource(&body);
    request.TurnedAway = turnAway;
    RequestContext c(server_, config, &request, &response);
    serving.Equip(&c);
    c.credentials = &connection.Credentials();
    c.url = std::move(held.url);
    if (!RequestPipeline::ProcessRequest(c)) return After::Drop;
    platform::Reply reply;
    if (!response.ComposeReply(&reply) || !connection.Tcp().SendAll(reply, config.SendTimeOut)) return After::Drop;
    return AfterAnswer(request, response, connection.Input());
}

void RequestService::BatchStarting(ThreadState* thread, bool changesPolled) {
    if (thread) static_cast<ServingThread*>(thread)->BatchStarting(changesPolled);
}

int RequestService::ChangeHandle(ThreadState* thread) {
    return thread ? static_cast<ServingThread*>(thread)->ChangeHandle() : -1;
}

void RequestService::ChangesArrived(ThreadState* thread) {
    if (thread) static_cast<ServingThread*>(thread)->ChangesArrived();
}

void RequestService::WriteLogLines(ThreadState* thread) {
    if (thread) static_cast<ServingThread*>(thread)->WriteLogLines();
}

std::unique_ptr<ConnectionHost::ThreadState> RequestService::ThreadStarting(bool loop) {
    return std::make_unique<ServingThread>(server_, loop);
}

// The thread's state goes with it; a loop's writes the lines it still keeps.
void RequestService::ThreadEnding(std::unique_ptr<ThreadState> thread) { thread.reset(); }
