#pragma once
// What one request is served with, handed to every stage of the pipeline,
// to the method handlers and to the gateways: the request and its response,
// the configuration record in force for it, and the services of the thread
// serving it. The record is one whole record, taken when serving the request
// began: everything that serves the request reads the configuration here,
// never from the server, so a reload meanwhile changes nothing it sees.
//
// A context lives on the serving thread's stack for one request and is used
// by that thread alone. The services it names belong to that thread and
// outlive the request; any of them may be absent (null).

#include <string>

#include "server/EventLog.h"
#include "server/URLMapping.h"

class AuthACL;
struct CredentialMemo;
class FileCache;
class HTTPConfiguration;
class HTTPRequest;
class HTTPResponse;
class HTTPServer;
class MIMEMemo;

struct RequestContext {
    RequestContext(HTTPServer& server, const HTTPConfiguration& config, HTTPRequest* request, HTTPResponse* response)
        : server(server), config(config), request(request), response(response) {}
    RequestContext(const RequestContext&) = delete;
    RequestContext& operator=(const RequestContext&) = delete;

    HTTPServer& server;  // its logs, its statistics and its flags (Overloaded, Available)
    const HTTPConfiguration& config;
    HTTPRequest* request;
    HTTPResponse* response;
    FileCache* cache = nullptr;           // documents through the thread's cache; null: the file system directly
    MIMEMemo* types = nullptr;            // content types the thread remembers; null: looked up each time
    EventLog::Batch* logBatch = nullptr;  // where the thread keeps its log lines; null: written at once

    // The request's URL, normalised in place and mapped once, by whoever
    // needs it first (the loop deciding where to serve it, or the pipeline).
    ResolvedURL url;

    // The access-control list whose credentials this request passed (one of
    // the record's), or null: the files of other protected folders stay
    // closed to whatever serves it (an include, a script's translated path).
    const AuthACL* passedList = nullptr;
    // Credentials already verified on the request's connection; null when
    // none are kept (a request served without a connection).
    CredentialMemo* credentials = nullptr;

    // The server's logs, under this request's record and into the thread's
    // batch. about: the request a line tells of, or null for none.
    void LogError(const std::string& message, const HTTPRequest* about) const;
    void Trace(const std::string& message, const HTTPRequest* about) const;
};
