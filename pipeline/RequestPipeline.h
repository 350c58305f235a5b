#pragma once
// The request pipeline: a fixed chain of stages, each with its own rules,
// run over one request's RequestContext. ProcessRequest only runs them in
// order and stops at the first that says stop; a stage that stops has
// already set the final status. It needs no connection and no listening
// server: whoever holds a request and its context can run it (a loop, a
// worker, a test).
//
// The stages read the configuration only through the context, and reach
// the server (its flags, logs and statistics) only through it.

struct RequestContext;

class RequestPipeline {
public:
    // Runs the stages in order, stops at the first that says stop, and logs
    // the transaction; 0 when the request was not read whole (nothing is
    // logged then), else 1. Each stage returns non-zero to go on, 0 to stop
    // (having set the final status).
    static int ProcessRequest(RequestContext& c);
    static int PreliminaryCheck(RequestContext& c);
    // While certificates are automatic: a plain GET or HEAD of a pending
    // HTTP-01 challenge is answered with its key authorization, before any
    // mapping, redirect or access list sees it.
    static int AnswerChallenge(RequestContext& c);
    static int FixupURL(RequestContext& c);
    // While TLS is on with RedirectToTLS: a plain GET or HEAD from another
    // machine is answered 301 with the same URL on https.
    static int RedirectToTLS(RequestContext& c);
    static int AccessControl(RequestContext& c);
    static int LookupResource(RequestContext& c);
    static int CheckResource(RequestContext& c);
    static int RunResource(RequestContext& c);
    // Runs after every request, completed meaning that no stage stopped it.
    // Only a completed request has its server-side includes expanded and
    // may be granted "Keep-Alive" (response->KeepAlive, and the header
    // written from it); any response that closes the connection says
    // "Connection: close" to a client that expected it to stay open. A
    // request read as HTTP/1.1 keeps its connection whatever stage
    // answered it, unless a rule ends it (then it hears "close").
    static int PostProcess(RequestContext& c, bool completed = true);
    // The last stage: a HEAD answer keeps the headers of the GET it mirrors
    // and loses its body (a script's complete response of its own keeps its
    // head). A simple (0.9) request's HEAD keeps its status document.
    static int DropHeadBody(RequestContext& c);

    // Normalises the request's URL in place and maps it, once per request:
    // the first caller does it (the loop deciding where to serve, or
    // FixupURL), and the result stays in the context for the stages.
    static void ResolveURL(RequestContext& c);
};
