#include "pipeline/RequestPipeline.h"

#include <algorithm>

#include "auth/AccessGate.h"
#include "auth/AuthACL.h"
#include "auth/AuthDecode.h"
#include "config/ACMEChallenge.h"
#include "gateway/CGIBase.h"
#include "gateway/SSIEngine.h"
#include "http/Dates.h"
#include "http/Escapes.h"
#include "http/FileCache.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/LetterCase.h"
#include "http/PathText.h"
#include "pipeline/AutoIndex.h"
#include "pipeline/DocumentCoding.h"
#include "pipeline/MethodHandlers.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/PasswordHash.h"
#include "server/HTTPServer.h"
#include "server/RequestContext.h"
#include "server/ServerSoftware.h"
#include "server/URLMapping.h"

namespace {

// Seconds a client turned away for overload is asked to wait.
constexpr int kRetryAfterSeconds = 5;

// What a client without the master key's credentials is asked for.
constexpr const char* kBasicChallenge = "Basic realm=\"Varevavo\"";

// A body is stored only where it is used: as the input of a script that
// runs, or as the document a PUT writes (RunResource comes after
// AccessControl has checked the master key). Any other stays unread.
bool UsesBody(const HTTPRequest& request) {
    if (request.Method == MethodPUT) return true;
    return IsScriptKind(request.ResourceKind) &&
           (request.Method == MethodGET || request.Method == MethodHEAD || request.Method == MethodPOST);
}

// Receives the body of a request that uses it, within MaxBodySize. 0 when
// the request goes no further: answered 413 or 500, or, for a body that
// never came whole, made invalid so that nothing is answered.
int ReceiveBody(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const uint32_t limit = c.config.MaxBodySize;
    if (limit != 0 && request->BodyLength > limit) {
        response->SetStatus(413, "Request Entity Too Large");
        c.LogError("Request body of " + std::to_string(request->BodyLength) + " bytes refused", request);
        return 0;
    }
    // A standard script reads its body through its standard input alone,
    // so that body needs no name; a document written (PUT) is copied by name.
    switch (request->ReadBody(request->ResourceKind == ResourceCGIBin && request->Method != MethodPUT, limit)) {
        case 1: return 1;
        case 0:
            // A chunked body is refused as soon as it breaks its coding or
            // passes the limit; the rest of it is never read.
            if (request->BodyFault() == HTTPRequest::BodyFaultKind::TooLarge) {
                response->SetStatus(413, "Request Entity Too Large");
                c.LogError("Chunked request body over " + std::to_string(limit) + " bytes refused", request);
                return 0;
            }
            if (request->BodyFault() == HTTPRequest::BodyFaultKind::Broken) {
                response->SetStatus(400);
                c.LogError("Bad chunked request body", request);
                return 0;
            }
            request->Valid = 0;
            return 0;
        default:
            response->SetStatus(500, "Request body not stored");
            c.LogError("Unable to store the request body", request);
            return 0;
    }
}

// True for a Host value of the form host[:port]: a name or dotted address
// of letters, digits, '-' and '.', or a bracketed IPv6 address; a port of
// one to five digits.
bool IsHostAndPort(std::string_view value) {
    const auto all = [](std::string_view text, auto allowed) { return std::all_of(text.begin(), text.end(), allowed); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto isLetter = [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
    size_t end;
    if (value.starts_with('[')) {
        end = value.find(']');
        if (end == std::string_view::npos) return false;
        const std::string_view address = value.substr(1, end - 1);
        const auto isAddressChar = [&](char c) {
            return isDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') || c == ':' || c == '.';
        };
        if (address.find(':') == std::string_view::npos || !all(address, isAddressChar)) return false;
        ++end;
    } else {
        end = std::min(value.find(':'), value.size());
        const auto isNameChar = [&](char c) { return isDigit(c) || isLetter(c) || c == '-' || c == '.'; };
        if (end == 0 || !all(value.substr(0, end), isNameChar)) return false;
    }
    if (end == value.size()) return true;
    const std::string_view port = value.substr(end + 1);
    return value[end] == ':' && !port.empty() && port.size() <= 5 && all(port, isDigit);
}

// The start of an absolute URL back to this server: the host[:port] the
// client named in its Host header, so that it works wherever the client is;
// else the configured site URL.
std::string SiteURL(const std::string& hostHeader, const HTTPConfiguration& config) {
    return IsHostAndPort(hostHeader) ? "http://" + hostHeader : config.SiteURL();
}

// The same for a request that came over TLS, or is sent there: https and
// the TLS port (the port the client named was the plain one, or this one).
std::string SiteTLSURL(const std::string& hostHeader, const HTTPConfiguration& config) {
    if (!IsHostAndPort(hostHeader)) return config.SiteTLSURL();
    // A bracketed address keeps its brackets; only a port after it goes.
    const size_t close = hostHeader.rfind(']');
    const size_t colon = hostHeader.rfind(':');
    const size_t end = colon != std::string::npos && (close == std::string::npos || colon > close)
                           ? colon
                           : std::string::npos;
    std::string url = "https://";
    url.append(hostHeader, 0, end);
    if (config.TLSPort != 443) {
        url += ':';
        url += std::to_string(config.TLSPort);
    }
    return url;
}

// A client on this machine: a loopback address of either family, or this
// end's own.
bool FromThisMachine(const HTTPRequest& request) {
    return request.RemoteAddr.starts_with("127.") || request.RemoteAddr == "::1" ||
           request.RemoteAddr == request.LocalAddr;
}

// The generated listing of directory as the whole answer, or 500 when it
// cannot be made. 0: the request goes no further either way.
int AnswerListing(RequestContext& c, const std::string& directory) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const std::string output = response->Entity.SetTemp();
    AutoIndex index(c.config);
    if (index.Generate(request->URL, directory, output)) {
        response->SetStatus(200);
        response->Header[Hdr::ContentLength] = std::to_string(response->Entity.GetSize());
        // File names are UTF-8 on this system, and the page shows them as they are.
        response->Header[Hdr::ContentType] = "text/html; charset=UTF-8";
    } else {
        response->Entity.Discard();
        response->SetStatus(500, "Indexing Error");
        c.LogError("Auto-Indexing Error on " + directory, request);
    }
    return 0;
}

// A GET or HEAD of a directory path (ending in a backslash): its default
// index file goes on as the resource; without one the directory is listed
// when listings are on, else the answer is 404.
int AnswerDirectory(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const HTTPConfiguration& config = c.config;
    const std::string directory = request->PhysicalPath;
    request->PhysicalPath = directory + config.DefaultIndex;
    // Only a file is an index: an empty DefaultIndex, or one naming a
    // folder, would otherwise serve a directory as a document.
    if (LookupFileInfo(c.cache, request->PhysicalPath, &request->ResourceInfo) && !request->ResourceInfo.directory) {
        request->ResourceInfoKnown = true;
        return 1;
    }
    if (request->ResourceKind == ResourceDocument && (config.AutoIndex & kAutoIndexOn) && request->AllowIndex)
        return AnswerListing(c, directory);
    response->SetStatus(404);
    c.LogError("Default file not found: " + directory, request);
    return 0;
}

// An HTTP/1.1 connection persists unless a side says otherwise: a
// "Connection: close" from either (tokens compared without case), an
// overloaded server, keep-alive turned off, an answer without a length (its
// end is the connection's), or bytes of the request left unread. Answers
// of a stage that stopped keep it as well as any other.
int KeepOneOne(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const bool closing = HasListToken(request->Header[Hdr::Connection], "close") ||
                         HasListToken(response->Header[Hdr::Connection], "close");
    response->KeepAlive = c.config.UseKeepAlive && !closing && !c.server.Overloaded && !request->TurnedAway &&
                          !response->Raw && !response->Header[Hdr::ContentLength].empty() && !request->InputLeft();
    if (!response->KeepAlive) response->Header[Hdr::Connection] = "close";
    // A client that asked by name hears it granted, as an HTTP/1.0 one does.
    else if (HasListToken(request->Header[Hdr::Connection], "keep-alive"))
        response->Header[Hdr::Connection] = "Keep-Alive";
    else
        response->Header[Hdr::Connection].clear();
    return 1;
}

// True, with the answer 429 set, while the client's address is refused for
// guessing; the first refusal of each blocked minute is logged.
bool GuessesBlocked(RequestContext& c) {
    bool first = false;
    if (!c.server.Guesses.Blocked(c.request->RemoteAddr, platform::MillisecondClock(), &first)) return false;
    c.response->SetStatus(429, "Too Many Requests");
    if (first)
        c.LogError("Too many failed credentials from " + c.request->RemoteAddr +
                       ": credentials refused for the rest of the minute",
                   c.request);
    return true;
}

// The protected-folder rule of the access-control lists, for a setup that
// has lists: 1 when the governing list lets the request go on, 0 when it
// has answered, -1 when no list protects the request (the other rules
// decide). The URL is the normalised one the mapping sees, so neither
// another spelling of it nor an alias onto the folder goes around its list.
int ProtectedFolder(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const HTTPConfiguration& config = c.config;
    const std::string_view file = c.url.mapping ? std::string_view(c.url.mapping->PhysicalPath) : std::string_view();
    bool listingBarred = false;
    const AuthACL* list = AccessGate::Governing(config, request->URL, file, &listingBarred);
    if (listingBarred) request->AllowIndex = 0;
    if (!list) return -1;
    const bool credentials = !request->Header[Hdr::Authorization].empty();
    // As for the master key, a password is never asked for nor heard in
    // clear while the server offers TLS, unless the operator allows it.
    if (config.UseTLS && !config.AllowPlainCredentials && !request->Secure) {
        response->SetStatus(403, "HTTPS Required");
        if (credentials) c.LogError("Credentials for a protected folder refused over plain HTTP: HTTPS Required", request);
        return 0;
    }
    // The master key keeps its rule for the methods it governs (writing,
    // deleting); it opens no protected folder for reading.
    const bool reading = request->Method == MethodGET || request->Method == MethodHEAD || request->Method == MethodPOST;
    if (!reading && config.UseMasterKey && !request->User.empty() && EqualNoCase(request->User, config.MasterUser)) {
        c.server.Statistics.PasswordChecks.fetch_add(1, std::memory_order_relaxed);
        if (platform::PasswordMatches(config.MasterPassword, request->Password)) return 1;
    }
    bool compared = false;
    const AccessGate::Verdict verdict =
        AccessGate::Check(config, *list, request->User, request->Password, request->Method, &compared,
                          request->Header[Hdr::Authorization], c.credentials);
    if (compared) c.server.Statistics.PasswordChecks.fetch_add(1, std::memory_order_relaxed);
    switch (verdict) {
        case AccessGate::Verdict::Granted: c.passedList = list; return 1;
        case AccessGate::Verdict::NotGranted: response->SetStatus(403, "Access Denied"); return 0;
        case AccessGate::Verdict::Refused: break;
    }
    if (credentials) c.server.Guesses.Failed(request->RemoteAddr, platform::MillisecondClock());
    response->SetStatus(401, "Access Denied");
    response->Header[Hdr::WWWAuthenticate] = AccessGate::Challenge(list->Realm);
    return 0;
}

}  // namespace

int RequestPipeline::ProcessRequest(RequestContext& c) {
    HTTPRequest* request = c.request;
    if (!request || !c.response || !request->Valid) return 0;
    const bool completed = PreliminaryCheck(c) && AnswerChallenge(c) && FixupURL(c) && RedirectToTLS(c) &&
                           AccessControl(c) && LookupResource(c) && CheckResource(c) && RunResource(c);
    // A body that never came whole leaves a request that was never read:
    // nothing is answered or logged.
    if (!request->Valid) return 0;
    PostProcess(c, completed);
    DropHeadBody(c);
    c.server.LogTransaction(c.config, c.logBatch, request, c.response);
    return 1;
}

int RequestPipeline::PreliminaryCheck(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const HTTPConfiguration& config = c.config;
    response->Protocol = request->Protocol;
    response->Minor = request->Protocol == HTTP11 ? 1 : 0;
    response->Header[Hdr::Date] = gm_timestr_822(static_cast<long>(platform::UnixTimeNow()));
    response->Header[Hdr::Server] = ServerSoftware(config);
    if (c.server.Overloaded || request->TurnedAway) {
        response->SetStatus(503, "Server overloaded");
        // The pool frees up in moments: a client that honours it comes back
        // soon instead of hammering now.
        response->Header[Hdr::RetryAfter] = std::to_string(kRetryAfterSeconds);
        c.LogError("Server overloaded, rejected request", nullptr);
        return 0;
    }
    if (!c.server.Available) {
        response->SetStatus(503, "Server not available");
        return 0;
    }
    if (request->Fault != HeadFault::None) {
        response->SetStatus(400);
        c.LogError("Bad request head: " + std::string(HeadFaultText(request->Fault)), request);
        return 0;
    }
    if (request->Protocol == HTTP11 && request->MalformedLines > 0) {
        response->SetStatus(400);
        c.LogError("Header line not of the form \"name: value\"", request);
        return 0;
    }
    if (request->CodingStatus == 501) {
        response->SetStatus(501, "Transfer coding not implemented");
        c.LogError("Request body in a transfer coding not decoded: " + request->Header[Hdr::TransferEncoding],
                   request);
        return 0;
    }
    // A body in a transfer coding this server does not decode, and no
    // length: the client may send it again with one.
    if (request->CodingStatus == 0 && request->BadFraming && !request->BodyDeclared() &&
        !request->Header[Hdr::TransferEncoding].empty()) {
        response->SetStatus(411, "Length Required");
        c.LogError("Request body without a length (Transfer-Encoding)", request);
        return 0;
    }
    if (request->BadFraming) {
        response->SetStatus(400);
        c.LogError("Bad request body framing (Content-Length or Transfer-Encoding)", request);
        return 0;
    }
    if (request->Protocol == HTTP11 && request->HostLines != 1) {
        response->SetStatus(400);
        c.LogError(request->HostLines == 0 ? "HTTP/1.1 request without a Host header"
                                           : "HTTP/1.1 request with several Host headers",
                   request);
        return 0;
    }
    if (request->Protocol == HTTP11 && !request->Expect.empty() && !request->ExpectsContinue()) {
        response->SetStatus(417, "Expectation Failed");
        c.LogError("Unknown expectation: " + request->Expect, request);
        return 0;
    }
    if (request->Protocol == HTTP09 && request->Method != MethodGET) {
        response->SetStatus(400, "Invalid HTTP/0.9 method");
        c.LogError("Invalid HTTP/0.9 method", request);
        return 0;
    }
    if (request->Method == MethodUnknown) {
        response->SetStatus(501, "Method not implemented");
        c.LogError("Unknown method", request);
        return 0;
    }
    return 1;
}

void RequestPipeline::ResolveURL(RequestContext& c) {
    if (c.url.done) return;
    c.url.done = true;
    c.url.fault = NormaliseURL(&c.request->URL);
    if (c.url.fault != URLFault::None) return;
    // The request's path is empty until the mapping is taken over; its
    // memory, kept from the request before, holds the new one.
    std::string storage;
    if (c.request->PhysicalPath.empty()) storage.swap(c.request->PhysicalPath);
    c.url.mapping.emplace(c.config, c.request->URL, std::move(storage));
}

int RequestPipeline::FixupURL(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    if (request->URLTooLong) {
        response->SetStatus(400);
        c.LogError("URL too long", request);
        return 0;
    }
    ResolveURL(c);
    switch (c.url.fault) {
        case URLFault::None: return 1;
        case URLFault::Traversal:
            response->SetStatus(400);
            c.LogError("Upward tree traversal attempted", request);
            return 0;
        case URLFault::Empty:
            response->SetStatus(400);
            c.LogError("No URL in request", request);
            return 0;
        case URLFault::NotAbsolute:
            response->SetStatus(501);
            c.LogError("Proxy module unavailable", request);
            return 0;
        case URLFault::BadByte: break;
    }
    response->SetStatus(400);
    c.LogError("Bad URL in request", request);
    return 0;
}

int RequestPipeline::AnswerChallenge(RequestContext& c) {
    HTTPRequest* request = c.request;
    // The authority asks over plain HTTP alone; every other request pays one
    // flag test, and a prefix compare while certificates are automatic.
    if (!c.config.AutoCertificate || request->Secure) return 1;
    if ((request->Method != MethodGET && request->Method != MethodHEAD) || request->URLTooLong) return 1;
    std::string authorization;
    if (!ACMEChallenge::Answer(request->URL, &authorization)) return 1;
    HTTPResponse* response = c.response;
    response->SetStatus(200);
    response->Header[Hdr::ContentLength] = std::to_string(authorization.size());
    response->Header[Hdr::ContentType] = "application/octet-stream";
    response->Entity.SetData(std::move(authorization));
    return 0;
}

int RequestPipeline::RedirectToTLS(RequestContext& c) {
    HTTPRequest* request = c.request;
    const HTTPConfiguration& config = c.config;
    if (!config.UseTLS || !config.RedirectToTLS || request->Secure || FromThisMachine(*request)) return 1;
    if (request->Method != MethodGET && request->Method != MethodHEAD) return 1;
    if (EqualNoCase(request->URL, "/~stats")) return 1;
    std::string location = SiteTLSURL(request->Header[Hdr::Host], config) + EncodePath(request->URL);
    if (!request->Query.empty()) location += "?" + request->Query;
    request->ResourceKind = ResourceRedirect;
    request->RedirectURL = location;
    c.response->SetStatus(301);
    c.response->Header[Hdr::Location] = std::move(location);
    return 0;
}

int RequestPipeline::AccessControl(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    AuthDecode decoder;
    if (!decoder.Decode(request, response)) c.LogError("Unable to decode authentication information", request);
    // A client that guessed too often is not heard again this minute: no
    // password is compared for it.
    if (!request->Header[Hdr::Authorization].empty() && GuessesBlocked(c)) return 0;
    const HTTPConfiguration& config = c.config;
    if (!config.AccessControlList.empty()) {
        const int verdict = ProtectedFolder(c);
        if (verdict >= 0) return verdict;
    }
    if (request->Method == MethodGET || request->Method == MethodHEAD || request->Method == MethodPOST) return 1;
    if (!config.UseMasterKey) {
        response->SetStatus(403, "Access Denied");
        return 0;
    }
    // A password sent in clear is refused unread while the server offers
    // TLS, unless the operator allows it: it must not become the habit. Nor
    // is one asked for there: a challenge would have the client send it.
    if (config.UseTLS && !config.AllowPlainCredentials && !request->Secure) {
        response->SetStatus(403, "HTTPS Required");
        if (!request->User.empty() || !request->Password.empty())
            c.LogError("Master key credentials refused over plain HTTP: HTTPS Required", request);
        return 0;
    }
    // Both are compared whatever the other gives, and the password exactly;
    // a request with no credentials at all has nothing to compare, and must
    // not cost a hash (it may be on a loop thread).
    const bool credentials = !request->Header[Hdr::Authorization].empty();
    if (credentials) {
        const bool user = EqualNoCase(request->User, config.MasterUser);
        c.server.Statistics.PasswordChecks.fetch_add(1, std::memory_order_relaxed);
        const bool password = platform::PasswordMatches(config.MasterPassword, request->Password);
        if (user && password) return 1;
        c.server.Guesses.Failed(request->RemoteAddr, platform::MillisecondClock());
    }
    response->SetStatus(401, "Access Denied");
    // Without a challenge no browser or client asks its user for the password.
    response->Header[Hdr::WWWAuthenticate] = kBasicChallenge;
    return 0;
}

int RequestPipeline::LookupResource(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    if (EqualNoCase(request->URL, "/~stats")) {
        if (!c.config.AccessControlList.empty()) c.server.Statistics.WatchedAddresses = c.server.Guesses.Size();
        const HTTPStatistics::TLSCounts tls{c.server.Listener.TLSConnections(),
                                            c.server.Listener.TLSHandshakesFailed()};
        c.server.Statistics.GetStats(&response->Entity, c.config,
                                     static_cast<uint32_t>(c.server.Listener.BusyCount()),
                                     c.config.UseTLS ? &tls : nullptr, c.server.Certificates.StateText());
        response->SetStatus(200);
        response->Header[Hdr::ContentLength] = std::to_string(response->Entity.GetSize());
        response->Header[Hdr::ContentType] = "text/html";
        return 0;
    }
    ResolveURL(c);
    // Only a URL that FixupURL let pass comes here.
    if (!c.url.mapping) return 0;
    URLMapping& mapping = *c.url.mapping;
    request->ResourceKind = mapping.Kind;
    request->PhysicalPath = std::move(mapping.PhysicalPath);
    if (mapping.Kind == ResourceRedirect) request->RedirectURL = std::move(mapping.RedirectURL);
    if (mapping.SplitsPathInfo) {
        request->ScriptName = request->URL;
        FindPathInfo(&request->PhysicalPath, &request->ScriptName, &request->PathInfo);
    }
    return 1;
}

int RequestPipeline::CheckResource(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    if (request->ResourceKind == ResourceRedirect) {
        response->SetStatus(302);
        response->Header[Hdr::Location] = request->RedirectURL;
        return 0;
    }
    request->PhysicalPath = SlashesBack(std::move(request->PhysicalPath));
    std::string& path = request->PhysicalPath;
    if (path.empty()) {
        response->SetStatus(400);
        c.LogError("Bad URL in request", request);
        return 0;
    }
    // A copy a PUT is writing is no document until it has its name.
    if (platform::IsInBetweenCopy(path)) {
        response->SetStatus(404);
        c.LogError("File not found: " + path, request);
        return 0;
    }
    platform::FileInfo info;
    const bool exists = LookupFileInfo(c.cache, path, &info);
    if (request->Method != MethodPUT && !exists) {
        response->SetStatus(404);
        c.LogError("File not found: " + path, request);
        return 0;
    }
    if (path.back() != '\\' && exists && info.directory) {
        request->ResourceKind = ResourceRedirect;
        request->RedirectURL = (request->Secure ? SiteTLSURL : SiteURL)(request->Header[Hdr::Host], c.config) +
                               EncodePath(request->URL + "/");
        response->SetStatus(302);
        response->Header[Hdr::Location] = request->RedirectURL;
        return 0;
    }
    request->ResourceInfo = info;
    request->ResourceInfoKnown = exists;
    if ((request->Method == MethodGET || request->Method == MethodHEAD) && path.back() == '\\')
        return AnswerDirectory(c);
    return 1;
}

int RequestPipeline::RunResource(RequestContext& c) {
    if (UsesBody(*c.request) && !ReceiveBody(c)) return 0;
    switch (c.request->Method) {
        case MethodGET: MethodGet(c); break;
        case MethodHEAD: MethodHead(c); break;
        case MethodPOST: MethodPost(c); break;
        case MethodPUT: MethodPut(c); break;
        case MethodDELETE: MethodDelete(c); break;
        default: c.response->SetStatus(501, "Method not available"); break;
    }
    return 1;
}

int RequestPipeline::PostProcess(RequestContext& c, bool completed) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const HTTPConfiguration& config = c.config;
    if (completed && IsParsedPage(config, *response)) {
        response->Header[Hdr::ContentType] = "text/html";
        // A script's output has no name of its own: the script names it.
        const std::string page = response->Entity.FileName().empty() ? request->PhysicalPath : response->Entity.FileName();
        SSIEngine engine(c);
        if (!engine.Process(request, response)) {
            response->SetStatus(500, "SSI Processing Error");
            c.LogError("SSI Processing Error on " + page, request);
        }
        response->Header[Hdr::ContentLength] = std::to_string(response->Entity.GetSize());
    }
    DocumentCoding::CompressGenerated(c);
    if (request->Protocol == HTTP11) return KeepOneOne(c);
    // Bytes of this request left unread (a body, a body in a transfer
    // coding) would be taken for the next one.
    const bool granted = completed && config.UseKeepAlive &&
                         EqualNoCase(request->Header[Hdr::Connection], "Keep-Alive") &&
                         !response->Header[Hdr::ContentLength].empty() && !c.server.Overloaded && !request->InputLeft();
    // A script's own "Connection: Keep-Alive" header stands as it wrote it
    // and keeps the connection too.
    response->KeepAlive = granted || EqualNoCase(response->Header[Hdr::Connection], "Keep-Alive");
    if (granted) response->Header[Hdr::Connection] = "Keep-Alive";
    // A client that counts on the connection staying open (HTTP/1.1 by
    // default, others when they asked) must hear that it closes, or it sends
    // its next request into a closed connection.
    if (request->Protocol != HTTP09 && !response->KeepAlive &&
        (ContainsNoCase(request->Header[Hdr::Connection], "Keep-Alive") || request->NamesHTTP11()))
        response->Header[Hdr::Connection] = "close";
    return 1;
}

int RequestPipeline::DropHeadBody(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    // A simple (0.9) request has no headers to keep in step; its HEAD is
    // refused with a status document that is worth showing.
    if (request->Method != MethodHEAD || request->Protocol == HTTP09) return 1;
    // A script's complete response of its own keeps its head.
    if (response->Raw && response->Entity.IsFile())
        response->Entity.SetData(CGIBase::ScriptHead(response->Entity));
    else
        response->Entity.Discard();
    return 1;
}
