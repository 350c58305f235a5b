#include "pipeline/RequestService.h"

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/Connection.h"
#include "net/Reply.h"
#include "pipeline/RequestPipeline.h"
#include "pipeline/ServingThread.h"
#include "platform/NetCalls.h"
#include "server/HTTPServer.h"
#include "server/RequestContext.h"
#include "server/URLMapping.h"

namespace {

// Resets a loop's request and response when serving one request ends,
// whichever way: their strings keep their memory for the next.
class ExchangeReset {
public:
    explicit ExchangeReset(ServingThread& thread) : thread_(thread) {}
    ~ExchangeReset() { thread_.ResetExchange(); }
    ExchangeReset(const ExchangeReset&) = delete;
    ExchangeReset& operator=(const ExchangeReset&) = delete;

private:
    ServingThread& thread_;
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

Blocking WhereToServe(RequestContext& c, const Socket& s) {
    const HTTPRequest& request = *c.request;
    // A broken head is refused before anything could block.
    if (request.Fault != HeadFault::None) return Blocking::No;
    // The pipeline's own normalisation and mapping decide what is a script;
    // a request served here keeps them for the pipeline.
    RequestPipeline::ResolveURL(c);
    const bool script = c.mapping && IsScriptKind(c.mapping->Kind);
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

void RequestService::RequestTitleUpdate() { server_.RequestTitleUpdate(); }

void RequestService::RequestRepaint() { server_.RequestRepaint(); }

ConnectionHost::Step RequestService::Serve(ThreadState* thread, Connection& connection, Reply* reply, After* after,
                                           bool turnAway) {
    ServingThread& serving = static_cast<ServingThread&>(*thread);
    const HTTPConfiguration& config = serving.Pin(server_);
    // A name lookup may wait on the network; so may a thread without a
    // loop's exchange, which is no loop.
    if ((config.ResolveName && !turnAway) || !serving.LoopRequest()) return Step::Worker;
    Socket& s = connection.Tcp();
    const ExchangeReset reset(serving);
    HTTPRequest& request = *serving.LoopRequest();
    HTTPResponse& response = *serving.LoopResponse();
    Prepare(config, &request, &response);
    switch (request.ReadArrived(&s, config.RecvTimeOut)) {
        case HTTPRequest::Arrival::Partial: return Step::Incomplete;
        case HTTPRequest::Arrival::Failed: return Step::Drop;
        case HTTPRequest::Arrival::Whole: break;
    }
    RequestContext c(server_, config, &request, &response);
    serving.Equip(&c);
    // A body that is on its way (part of it came with the head) is waited
    // for here while it fits the connection's buffer, then used on a
    // worker. A client that sent the head alone may be waiting for the
    // answer first (a refusal needs no body): a worker serves it at once.
    request.TurnedAway = turnAway;
    if (!turnAway) {
        if (request.BodyDeclared() && !request.BadFraming && !s.Buffered().empty() &&
            s.Buffered().size() < request.BodyLength)
            return Step::IncompleteBody;
        switch (WhereToServe(c, s)) {
            case Blocking::Yes: return Step::Worker;
            case Blocking::OnlyOnScript: return Step::Script;
            case Blocking::No: break;
        }
    }
    if (!RequestPipeline::ProcessRequest(c)) return Step::Drop;
    response.ComposeReply(reply);
    *after = AfterAnswer(request, response, s);
    return Step::Answer;
}

ConnectionHost::After RequestService::ServeBlocking(ThreadState* thread, Connection& connection, bool turnAway) {
    ServingThread& serving = static_cast<ServingThread&>(*thread);
    const HTTPConfiguration& config = serving.Pin(server_);
    Socket* s = &connection.Tcp();
    HTTPRequest request;
    HTTPResponse response;
    Prepare(config, &request, &response);
    if (!request.Read(s, config.RecvTimeOut, config.ResolveName && !turnAway)) return After::Drop;
    request.TurnedAway = turnAway;
    RequestContext c(server_, config, &request, &response);
    serving.Equip(&c);
    if (!RequestPipeline::ProcessRequest(c)) return After::Drop;
    if (!response.Write(s, config.SendTimeOut)) return After::Drop;
    server_.RequestRepaint();
    return AfterAnswer(request, response, *s);
}

void RequestService::BatchStarting(ThreadState* thread) {
    if (thread) static_cast<ServingThread*>(thread)->BatchStarting();
}

void RequestService::WriteLogLines(ThreadState* thread) {
    if (thread) static_cast<ServingThread*>(thread)->WriteLogLines();
}

std::unique_ptr<ConnectionHost::ThreadState> RequestService::ThreadStarting(bool loop) {
    return std::make_unique<ServingThread>(loop);
}

// The thread's state goes with it; a loop's writes the lines it still keeps.
void RequestService::ThreadEnding(std::unique_ptr<ThreadState> thread) { thread.reset(); }
