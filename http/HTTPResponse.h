#pragma once
// The response under construction for one request. Every status but 200 set
// by code alone replaces the body with a small generated status document
// naming the status and the administrator. The status line says HTTP/1.1
// to a request read as HTTP/1.1 (Minor 1), else HTTP/1.0; HTTP/0.9 requests
// and raw script output get the body alone.

#include <string>

#include "http/HTTPMessage.h"

namespace platform {
class Reply;
}  // namespace platform

class HTTPResponse : public HTTPMessage {
public:
    int Raw = 0;        // the body is a complete response already
    int Status = 500;
    std::string Reason;
    // Whether the connection stays open for the next request once this
    // response has left. Decided once, by PostProcess, which writes the
    // Connection header from it; the connection core reads it here.
    bool KeepAlive = false;

    HTTPResponse();
    ~HTTPResponse() = default;

    // Also Status 500, Raw 0, an empty Reason, KeepAlive false.
    void Reset() override;

    // The standard reason of a code ("Unclassified Error" for codes without one).
    static const char* StandardReason(int code);

    // Status and its standard reason; for every code but 200 the body
    // becomes the status document.
    void SetStatus(int code);
    // Status and the given reason; the body becomes the status document for
    // every code, 200 included.
    void SetStatus(int code, std::string reason);
    // Replaces the body with the status document and sets Content-Length and
    // Content-Type "text/html".
    void SetStatusDoc();

    // The bytes to send: the status line and the headers, then the body (a
    // small one in memory, a larger file from its open descriptor). HTTP/0.9
    // requests and raw script output get the body alone. A reason too long
    // for the 256-byte status line is cut so that the line still ends in
    // CR LF. False when a file body cannot be opened: then the answer
    // cannot be sent as its head announces, and nothing of it should be.
    bool ComposeReply(platform::Reply* reply);

private:
    // Appends the status line and the headers, unless the body goes alone.
    void AppendHead(std::string* out) const;
};
