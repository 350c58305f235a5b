#pragma once
// One client request: its head parsed from the bytes that arrived (request
// line, header block), its body received from a ByteSource, the
// connection's addresses, and the fields the pipeline, credential decoding
// and the gateways fill in or read.
// Parsing is narrow: the method must be one of seven upper-case words exactly,
// the URL is split at its first question mark, and the version word is only
// tested for presence, unless HTTP/1.1 is answered as such (ParseHead).

#include <cstdint>
#include <string>
#include <string_view>

#include "http/HTTPMessage.h"
#include "platform/FileSystem.h"

class ByteSource;

// Method codes.
enum MethodCode : int {
    MethodUnknown = -1,
    MethodOPTIONS = 1,
    MethodGET = 2,
    MethodHEAD = 3,
    MethodPOST = 4,
    MethodPUT = 5,
    MethodDELETE = 6,
    MethodTRACE = 7,
};

// The code of a method word, compared exactly (case included); -1 if none.
int LookupMethod(std::string_view word);
// The word of a method code ("GET"); empty for a code that names none.
std::string_view MethodWord(int code);

// What a request's URL maps to, set by the pipeline.
enum ResourceKindCode : int {
    ResourceUnset = -1,
    ResourceDocument = 0,
    ResourceCGIBin = 1,
    ResourceCGIWin = 3,
    ResourceRedirect = 4,
};

// A resource that a gateway runs: ResourceCGIBin or ResourceCGIWin.
constexpr bool IsScriptKind(int kind) { return kind == ResourceCGIBin || kind == ResourceCGIWin; }

// What HTTPRequest::ParseHead made of the bytes that arrived.
struct HeadParse {
    enum Outcome : uint8_t {
        NeedMore,  // no whole head yet: parse again when more bytes came
        Parsed,    // a whole head, to serve
        Refused,   // a head read as far as it can be, to answer with status
        Unusable,  // nothing there can be answered: close the connection
    };
    Outcome outcome = NeedMore;
    // Parsed and Refused: the bytes of the head (with the blank lines before
    // it); the rest is the body or the next request. NeedMore: the bytes of
    // the whole lines read so far (see HTTPRequest::WorthParsing).
    size_t used = 0;
    int status = 0;  // Refused: the status of the answer
};

class HTTPRequest : public HTTPMessage {
public:
    // The method and URL words go into work buffers of this many bytes; a
    // longer method word cannot be a known method, a longer URL word is
    // refused by the pipeline (URLTooLong).
    static constexpr size_t kWordBuffer = 1024;

    std::string RequestLine;   // as received, without CR LF
    std::string Query;         // after the first '?', still encoded
    std::string URL;           // before the first '?', %-escapes decoded
    int Method = MethodUnknown;
    std::string LocalAddr;     // dotted decimal, or the IPv6 form ("::1"); empty unless RedirectToTLS is on
    std::string RemoteHost;    // from a reverse lookup, when asked for
    std::string RemoteAddr;    // dotted decimal, or the IPv6 form ("::1")
    std::string AuthType;
    std::string RealmName;
    std::string User;
    std::string Password;
    int AllowIndex = 1;
    int ResourceKind = ResourceUnset;
    std::string PhysicalPath;
    // Where the client is sent instead (ResourceRedirect): the Location of
    // the answer.
    std::string RedirectURL;
    std::string ScriptName;
    std::string PathInfo;
    // What the pipeline learned of the file at PhysicalPath when it checked
    // it, so that serving it needs no second look (valid when known).
    platform::FileInfo ResourceInfo;
    bool ResourceInfoKnown = false;
    // The URL word was longer than its 1023-character work buffer, or the
    // whole request line longer than 8190 characters; the pipeline
    // answers it with 400. A line that long is read as a full request, so
    // its answer has a status line whatever part of it was cut off.
    bool URLTooLong = false;
    // Where the body ends cannot be trusted: a Content-Length that is not
    // one decimal number (ParseContentLength), two that differ, a
    // Transfer-Encoding, which this server does not decode, or a head that
    // could not be read whole (Fault). A front proxy may read such a request
    // otherwise than this server, so the pipeline answers it 400 and the
    // connection carries nothing more.
    bool BadFraming = false;
    // What broke the head, if anything; reading stopped there.
    HeadFault Fault = HeadFault::None;
    // The length the Content-Length header declares (0 without one).
    uint64_t BodyLength = 0;
    // The server has no room to serve this request now (its scripts are
    // all busy and their wait is full): it is answered as when overloaded.
    bool TurnedAway = false;
    // An HTTP/1.1 request whose Transfer-Encoding is not the chunked coding
    // alone: 501 for codings this server does not decode, 400 for a list it
    // cannot read (0 otherwise). BadFraming is set with it.
    int CodingStatus = 0;
    // It came over TLS (the TLS port): answers that name this server say
    // https and the TLS port.
    bool Secure = false;

    HTTPRequest();
    ~HTTPRequest() = default;

    // Every field back to how a new request starts, so that one object can
    // read and serve request after request.
    void Reset() override;

    // A head needs at most this many bytes before ParseHead can judge it:
    // the blank lines a client may send first, the longest request line,
    // kLargestHead bytes of header lines and the line that passes them.
    static constexpr size_t kHeadRoom = 81920;

    // Parses the head at the start of bytes into this fresh request, and
    // knows nothing of where they came from. The request line comes first
    // (up to eight empty lines before it are skipped; at most 8190
    // characters, a longer one is URLTooLong and nothing more is read); for
    // a full request (one with a version word) the header block follows
    // (ParseHeaders), whose Content-Length and Transfer-Encoding set
    // BodyLength or BadFraming. A ninth empty line, or a request line with a
    // tab, a NUL, a CR or two blanks in a row, is a Fault and read as a full
    // request whose headers stay unread, as is the rest of a header block
    // after its Fault. ended: no more bytes will come (the client closed or
    // went silent); a head cut short then stands with the lines it has,
    // unless they declare a body, which cannot have come.
    // Refused (status 400) for a Fault, BadFraming or URLTooLong; Unusable
    // for an empty URL path or no whole request line; else Parsed, or
    // NeedMore while the head may still grow (never when ended). Valid is
    // set for Parsed and Refused; the body is left in the bytes after used.
    //
    // http11: the server answers HTTP/1.1 as such. A request line that
    // names HTTP/1.1 or a later 1.x is then read as HTTP11: its URL may be
    // an absolute "http://host/path" (the path is the URL, the host its
    // Host), and a Transfer-Encoding of "chunked" alone, without a
    // Content-Length, announces a chunked body (Chunked) instead of
    // BadFraming.
    HeadParse ParseHead(std::string_view bytes, bool ended, bool http11 = false);
    // False when bytes, of which ParseHead last read linesRead bytes as
    // whole lines and asked for more, cannot be judged otherwise yet: no
    // line has ended since, and the unended one is still within bounds.
    static bool WorthParsing(std::string_view bytes, size_t linesRead);

    // Where ReadBody takes the body from (not owned; null: nowhere).
    void SetBodySource(ByteSource* source) { source_ = source; }

    // Receives the body of a request that declared one from its body source
    // into a temporary file that becomes Entity (an empty file for a length
    // of 0), waiting at most TimeOut for each piece. Only
    // a request that will use its body calls this; any other leaves it
    // unread (InputLeft). 1 when the whole body came (or none was declared);
    // 0 when the connection closed or went silent first; -1 when the body
    // could not be stored. After a failure nothing of the body is kept.
    // nameless: the file needs no name (only a standard script reads it,
    // through its standard input), so it is made without one.
    // A chunked body is decoded as it comes, at most limit bytes of data (0:
    // no limit); once whole, BodyLength is its decoded size. When it breaks
    // the coding or passes the limit, ReadBody returns 0 and BodyFault says
    // which. A client that expects "100 Continue" is sent it first.
    int ReadBody(bool nameless = false, uint64_t limit = 0);
    // True when a Content-Length header came (BodyLength holds its value),
    // or the body is chunked.
    bool BodyDeclared() const { return bodyDeclared_ || chunked_; }
    // True for a body in the chunked coding, whose length is known once read.
    bool Chunked() const { return chunked_; }
    // Why the last ReadBody of a chunked body failed, if the body was to blame.
    enum class BodyFaultKind : uint8_t { None, Broken, TooLarge };
    BodyFaultKind BodyFault() const { return bodyFault_; }
    // An HTTP/1.1 request that asks for "100 Continue" before its body.
    bool ExpectsContinue() const;
    // True while bytes of this request may still wait unread on its
    // connection: a body not received, or a line, a head or framing too bad
    // to tell where the request ends. The connection cannot carry another request.
    bool InputLeft() const;

    // True when the request line names HTTP/1.1, which the reader files
    // under 1.0 (the version the server answers in): such a client counts
    // on the connection staying open unless told otherwise.
    bool NamesHTTP11() const;

private:
    ByteSource* source_ = nullptr;  // where the body comes from; not owned
    bool bodyDeclared_ = false;
    bool bodyRead_ = false;
    bool lineCut_ = false;
    bool chunked_ = false;
    BodyFaultKind bodyFault_ = BodyFaultKind::None;
};

// The length a Content-Length value declares: one run of decimal digits,
// with nothing before or after it, whose value fits in 63 bits. False for
// anything else (a sign, blanks, hexadecimal, an exponent, a list), with
// *length untouched.
bool ParseContentLength(std::string_view text, uint64_t* length);

// Normalises a URL path in place: backslashes become slashes, at most 8191
// characters are kept, "." segments go, each ".." goes with the segment
// before it (getparents).
void NormalisePath(std::string* path);

// Moves the text of *line before the first stop character (all of it for
// stop 0) into *word, and removes it and that stop character from *line.
void getword(std::string* word, std::string* line, char stop);
// Removes "./" segments and segment-plus-"../" pairs from *path in place.
void getparents(std::string* path);
