#pragma once
// What requests and responses share: the protocol form, one value slot per
// known header (HeaderString.h), the body, and reading and writing a header
// block. A message belongs to the one worker thread that created it.

#include <cstdint>
#include <string>

#include "http/HTTPEntity.h"
#include "http/HeaderString.h"

class Socket;

// Protocol forms.
enum ProtocolForm : int { HTTP09 = 1, HTTP10 = 2, HTTP11 = 3 };

class HTTPMessage {
public:
    int Valid = 0;      // 1 once a request has been read completely
    int Protocol = 0;   // ProtocolForm; set when a request is read
    int Major = 1;
    int Minor = 0;
    uint32_t TimeOut = 0;             // socket time-out for this message, milliseconds
    std::string AdminEmail;           // shown in status documents
    std::string Header[Hdr::Count];   // empty: the header is absent
    HTTPEntity Entity;

    HTTPMessage(const HTTPMessage&) = delete;
    HTTPMessage& operator=(const HTTPMessage&) = delete;

    // Version 1.0, no protocol form or time-out, every header and AdminEmail
    // empty, Valid 0, body discarded.
    virtual void Reset();

    // Reads header lines (at most 255 characters each; a longer line is cut
    // there and the rest of it dropped) until an empty line or a failed
    // read, which is not reported. A line "Name: value" fills the slot of a
    // known name (compared without case; a repeated header keeps its last
    // value, except a Content-Length that differs from the one before: both
    // are kept, as "first, second"); other lines are dropped.
    void ReadHeaders(Socket* s, unsigned long timeout);
    // Sends the non-empty headers in table order and the empty line, in one
    // send. Failures are left to the caller's next socket operation.
    void WriteHeaders(Socket* s, unsigned long timeout);
    // Appends the header block text (as WriteHeaders sends it) to *out.
    void AppendHeaders(std::string* out) const;

protected:
    HTTPMessage();
    // Requests and responses are always destroyed as their own type.
    ~HTTPMessage() = default;
};
