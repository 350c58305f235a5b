#pragma once
// What requests and responses share: the protocol form, one value slot per
// known header (HeaderString.h), the body, and parsing and writing a header
// block. A message belongs to the one worker thread that created it.

#include <cstdint>
#include <string>
#include <string_view>

#include "http/HTTPEntity.h"
#include "http/HeaderString.h"

// What breaks a request head, so that no reader can tell where the request
// ends: it is answered 400 and the connection carries nothing more.
enum class HeadFault : int {
    None,
    LongLine,         // a header line longer than HTTPMessage::kLongestLine
    LargeHead,        // a head of more than HTTPMessage::kLargestHead bytes
    ManyLines,        // more than HTTPMessage::kMostHeaderLines header lines
    ControlByte,      // a NUL, or a CR that does not end a line
    RequestLineForm,  // words parted by a tab or by several blanks
    BlankLines,       // more blank lines before the request line than a client adds
};
// Words for the error log ("header line too long").
std::string_view HeadFaultText(HeadFault fault);

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
    // What a head said beyond the table's slots: how many Host lines it
    // held (HTTP/1.1 wants exactly one), and its Expect header (lines of
    // it joined by ", "), a name the table does not know.
    int HostLines = 0;
    std::string Expect;
    // Header lines that are not "name: value" with a token for a name: no
    // colon, blanks before it, or a line folded onto the one before. Such a
    // line is dropped here, while another reader (a proxy in front) may
    // take it for a header, Transfer-Encoding among them.
    int MalformedLines = 0;

    HTTPMessage(const HTTPMessage&) = delete;
    HTTPMessage& operator=(const HTTPMessage&) = delete;

    // Version 1.0, no protocol form or time-out, every header and AdminEmail
    // empty, Valid 0, body discarded.
    virtual void Reset();

    // A line of the head holds at most kLongestLine characters before its
    // line end (8 KiB with CR LF); a head holds at most kMostHeaderLines
    // header lines and kLargestHead bytes: its lines, the request line and
    // the blank lines before it included, each counted with a CR LF.
    static constexpr int kLongestLine = 8190;
    static constexpr int kMostHeaderLines = 100;
    static constexpr size_t kLargestHead = 65536;

    // Parses the header lines of bytes from *at on, each one whole, until
    // an empty line, the end of the whole lines there, or a line that breaks
    // the bounds above or holds a NUL or a bare CR. A line "Name: value"
    // fills the slot of a known name (compared without case; a repeated
    // header keeps its last value, except a Content-Length that differs
    // from the one before, and a Transfer-Encoding: both are kept, as
    // "first, second"); Host lines are counted, Expect kept; other lines
    // are dropped. Only blanks and tabs lead the value of Content-Length and
    // Transfer-Encoding, so that a vertical tab there is no white space but
    // part of the value. *at moves past the lines parsed; *headBytes holds
    // the bytes of the head before the block and gains those of its lines,
    // each counted with a CR LF. *ended tells whether the block's empty line
    // came. Returns the fault that ended the block (the rest of it is left
    // unparsed), or HeadFault::None.
    HeadFault ParseHeaders(std::string_view bytes, size_t* at, size_t* headBytes, bool* ended);
    // Appends the non-empty headers in table order and the empty line to
    // *out.
    void AppendHeaders(std::string* out) const;

    // The line of bytes that starts at *at, as a reader of the head takes
    // it: up to a line feed (a CR before it dropped), or the first
    // kLongestLine + 2 bytes of a line that has none by then (which is too
    // long). *at moves past it. False, with nothing moved, when bytes end
    // before the line does.
    static bool NextLine(std::string_view bytes, size_t* at, std::string_view* line);

protected:
    HTTPMessage();
    // Requests and responses are always destroyed as their own type.
    ~HTTPMessage() = default;
};
