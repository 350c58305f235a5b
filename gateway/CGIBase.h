#pragma once
// The common base of the three dynamic-content engines (standard CGI,
// Windows CGI, server-side includes): the values of the CGI variables of one
// request, the translation of a URL path into a file path, and the parser
// that turns a script's output file into the response.
//
// An engine lives on a worker's stack for one request: it is constructed
// with the request's context, Process is called once, and it is destroyed
// at once. It reads the configuration and writes the logs through that
// context, and never keeps either. Engines are created and destroyed by their exact type,
// so the destructor is not virtual.

#include <string>
#include <string_view>

struct RequestContext;
class HTTPEntity;
class HTTPRequest;
class HTTPResponse;

namespace platform {
struct ChildStart;
}

class CGIBase {
public:
    // context: the request's, never owned; it outlives the engine.
    explicit CGIBase(const RequestContext& context) : context_(context) {}
    CGIBase(const CGIBase&) = delete;
    CGIBase& operator=(const CGIBase&) = delete;

    // The name of the gateway interface of the engine.
    virtual std::string CGIGateway_Interface() const = 0;
    // Serves one request: stores request and response first, then produces
    // the response. Non-zero when the engine produced it, 0 when it failed.
    virtual int Process(HTTPRequest* request, HTTPResponse* response) = 0;

    // The CGI variables of the request being served, named after the
    // variable each one produces. An absent header or an unset field gives
    // the empty string. Paths are in the server's form.
    std::string CGIServer_Software() const;  // the Server header text, with the version when SendVersionInfo
    std::string CGIServer_Name() const;      // SiteAddress
    std::string CGIServer_Port() const;      // Port (TLSPort for a request over TLS) in decimal
    std::string CGIServer_Protocol() const;  // "HTTP/0.9", "HTTP/1.1", else "HTTP/1.0"
    std::string CGIRequest_Method() const;   // the first word of the request line as received (first 255 characters)
    std::string CGIPath_Info() const;        // what follows the script's own path in the URL
    std::string CGIPath_Translated() const;  // TranslatePath of CGIPath_Info
    std::string CGIScript_Name() const;      // the URL path of the script itself
    std::string CGIQuery_String() const;     // after the "?", exactly as received
    std::string CGIRemote_Addr() const;
    std::string CGIRemote_Host() const;      // empty unless the client's name was looked up
    std::string CGIAuth_Type() const;        // the scheme word of the credentials
    std::string CGIRemote_User() const;      // the user name of the credentials
    std::string CGIRemote_Ident() const;     // always empty: no identification protocol is spoken
    std::string CGIContent_Type() const;
    std::string CGIContent_Length() const;   // the body's length in decimal (the body is whole), empty without one
    std::string CGIHttp_Accept() const;
    std::string CGIHttp_Cookie() const;
    std::string CGIHttp_Referer() const;
    std::string CGIHttp_User_Agent() const;

    // The file path a decoded URL path names, found as the request pipeline
    // finds a request's: the path is normalised and refused as a request URL
    // would be (NormaliseURL), then mapped through the Alias and script
    // lists or onto DocRoot (URLMapping); slashes then become backslashes.
    // Empty for a refused path and for one that a Redir entry sends
    // elsewhere, so the result never lies outside those roots; empty too for
    // a file of a protected folder whose list the request did not pass.
    std::string TranslatePath(const std::string& url) const;

    // Reads the response's body file, which a script has just written, and
    // fills status, headers and body offset of the response:
    //   - a first line of at least five characters beginning with "HTTP" is a
    //     complete response of the script's own: status 200 and Raw, so that
    //     the file is sent from its first byte with nothing added;
    //   - otherwise status 200 and header lines (at most 255 characters each;
    //     a longer line is read as several, each piece a line of its own)
    //     up to an empty line or the end of the file: a line "Name: value"
    //     whose name is a known header sets it, any other line is dropped;
    //     the body is the rest of the file (Offset), never read into memory;
    //   - a Location line makes the status 302 with its status document.
    // Status 500 "CGI Error" when the body is not a temporary file, "CGI
    // Response Error" when it cannot be read, "CGI Output Cut Short" (with
    // an error-log line) when it can grow no further, so the script's
    // writes may have failed.
    void ProcessScriptOutput();
    // The head of a complete response of a script's own (Raw above), read
    // from the output file, the body: its first 8 KB up to and with the first empty
    // line (CR LF CR LF, else LF LF), or all of them when neither is there.
    // It is sent as it stands, so it is cut where the bytes say, not by the
    // line rules that read the headers of other output.
    static std::string ScriptHead(HTTPEntity& output);

protected:
    ~CGIBase() = default;

    // Starts a script and waits for it as long as CGITimeOut allows (0: no
    // limit). When the time is up it logs timedOutMessage and kills the
    // script's whole process group; what the script wrote so far stands.
    // False when it could not be started, with the system error code in
    // *error (2: file not found).
    bool RunScript(const platform::ChildStart& start, const std::string& timedOutMessage, unsigned long* error);

    // The working directory of a script: its path up to, not including, the
    // last backslash; a path without one is used whole.
    static std::string ScriptDirectory(const std::string& scriptPath);
    // Text that may come from a client, made fit to be one variable or one
    // profile value of a script: cut at a NUL byte, with every other control
    // byte (line breaks included) made a space.
    static std::string ValueForScript(std::string_view text);

    // TranslatePath, also telling what the path names (its ResourceKind;
    // ResourceUnset when refused).
    std::string TranslatePath(const std::string& url, int* kind) const;

    const RequestContext& context_;
    HTTPResponse* response_ = nullptr;  // not owned; set by Process
    HTTPRequest* request_ = nullptr;    // not owned; set by Process
};
