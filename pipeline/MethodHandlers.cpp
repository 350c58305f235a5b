#include "pipeline/MethodHandlers.h"

#include "config/HTTPConfiguration.h"
#include "config/Mapping.h"
#include "gateway/CGIBINEngine.h"
#include "gateway/CGIWINEngine.h"
#include "http/Dates.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/LetterCase.h"
#include "pipeline/ByteRange.h"
#include "pipeline/DocumentCoding.h"
#include "pipeline/MIMEMemo.h"
#include "platform/FileSystem.h"
#include "server/RequestContext.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;

}  // namespace

bool IsParsedPage(const HTTPConfiguration& config, const HTTPResponse& response) {
    return config.ProcessSSI && EqualNoCase(response.Header[Hdr::ContentType], "text/x-server-parsed-html");
}

namespace {

void RunScript(RequestContext& c) {
    c.response->Header[Hdr::Connection].clear();
    if (c.request->ResourceKind == ResourceCGIBin) {
        CGIBINEngine engine(c);
        engine.Process(c.request, c.response);
    } else {
        CGIWINEngine engine(c);
        engine.Process(c.request, c.response);
    }
}

// A plain document answers a Range header: one satisfiable range gives 206
// and that part of the file (the body keeps the file, sent from the part's
// first byte), a range that starts past the end gives 416. Listings, the
// statistics page and redirects never reach here; scripts, parsed pages and
// answers other than 200 (304 among them) keep their answer, and so does a
// document changed since the If-Range date the client holds.
void AnswerRange(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    const std::string& header = request->Header[Hdr::Range];
    HTTPEntity& body = response->Entity;
    if (header.empty() || request->Protocol == HTTP09 || request->ResourceKind != ResourceDocument ||
        response->Status != 200 || response->Raw || body.Type() != EntityFile)
        return;
    if (IsParsedPage(c.config, *response)) return;
    // An entity tag must match strongly: a weak one, or one of another
    // coding, could splice two different sets of bytes.
    const std::string& ifRange = request->Header[Hdr::IfRange];
    const std::string& sure = ContentCoding::IsEntityTag(ifRange) ? response->Header[Hdr::ETag]
                                                                  : response->Header[Hdr::LastModified];
    if (!ifRange.empty() && (sure.empty() || ifRange != sure)) return;

    const uint64_t size = body.GetSize();
    const ByteRange range = ByteRange::Parse(header, size);
    const std::string total = std::to_string(size);
    switch (range.Result) {
        case ByteRange::Part:
            body.SetOffset(range.First, range.Count);
            response->Status = 206;
            response->Reason = HTTPResponse::StandardReason(206);
            response->Header[Hdr::ContentLength] = std::to_string(range.Count);
            response->Header[Hdr::ContentRange] = "bytes " + std::to_string(range.First) + "-" +
                                                  std::to_string(range.First + range.Count - 1) + "/" + total;
            response->Header[Hdr::AcceptRanges] = "bytes";
            break;
        case ByteRange::Unsatisfiable:
            response->SetStatus(416);
            response->Header[Hdr::LastModified].clear();
            response->Header[Hdr::ContentRange] = "bytes */" + total;
            response->Header[Hdr::AcceptRanges] = "bytes";
            break;
        case ByteRange::Whole: break;
    }
}

// Whether the client's copy is current, so that 304 answers: with an
// entity tag, If-None-Match decides and If-Modified-Since is not looked at;
// without one, the document is unchanged when its time, to the second (HTTP
// dates count whole seconds, the file system finer), is not later.
bool Unchanged(const HTTPRequest& request, const std::string& tag, const FILETIME& modified) {
    const std::string& noneMatch = request.Header[Hdr::IfNoneMatch];
    if (!noneMatch.empty() && !tag.empty()) return ContentCoding::NoneMatchHolds(noneMatch, tag);
    const uint64_t fileSecond = platform::FileTimeTicks(modified) / kTicksPerSecond;
    FILETIME since;
    const std::string& header = request.Header[Hdr::IfModifiedSince];
    return !header.empty() && HTTPTimeToFileTime(&header, &since) &&
           fileSecond <= platform::FileTimeTicks(since) / kTicksPerSecond;
}

}  // namespace

int MethodGet(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    switch (request->ResourceKind) {
        case ResourceDocument:
            if (response->Entity.Type() == EntityNone) {
                response->Entity.SetFile(request->PhysicalPath,
                                         request->ResourceInfoKnown ? &request->ResourceInfo : nullptr, c.cache);
                response->SetStatus(200);
            }
            break;
        case ResourceCGIBin:
        case ResourceCGIWin: RunScript(c); break;
        default: break;
    }
    HTTPEntity& body = response->Entity;
    if (body.Type() == EntityFile) {
        if (c.types) response->Header[Hdr::ContentType] = c.types->TypeOf(body.FileName());
        else response->Header[Hdr::ContentType] = DocumentType(c.config, body.FileName());
    }
    FILETIME modified;
    if (body.Type() == EntityFile && body.LastModified(&modified)) {
        DocumentCoding coding;
        if (!IsParsedPage(c.config, *response)) coding = DocumentCoding::Choose(c, response->Header[Hdr::ContentType]);
        else response->Header[Hdr::ETag].clear();
        if (coding.varies) response->Header[Hdr::Vary] = "Accept-Encoding";
        if (Unchanged(*request, response->Header[Hdr::ETag], modified)) {
            response->SetStatus(304);
            body.Discard();
            return 1;
        }
        response->Header[Hdr::ContentEncoding] = ContentCoding::Name(coding.coding);
        // Written in place (it is empty here, and stays so on failure).
        FileTimeToHTTPTime(&modified, &response->Header[Hdr::LastModified]);
    }
    if (!response->Raw) response->Header[Hdr::ContentLength] = std::to_string(body.GetSize());
    AnswerRange(c);
    return 1;
}

int MethodHead(RequestContext& c) { return MethodGet(c); }

int MethodPost(RequestContext& c) {
    HTTPResponse* response = c.response;
    if (IsScriptKind(c.request->ResourceKind))
        RunScript(c);
    else
        response->SetStatus(500, "Bad POST");
    // An HTTP/1.1 answer has a length, as a GET's has, so that the
    // connection can carry the next request.
    if (c.request->Protocol == HTTP11 && !response->Raw)
        response->Header[Hdr::ContentLength] = std::to_string(response->Entity.GetSize());
    return 1;
}

int MethodPut(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    // Without a length the body cannot be told from what follows it:
    // nothing is written.
    if (!request->BodyDeclared()) {
        response->SetStatus(411, "Length Required");
        return 1;
    }
    const std::string& body = request->Entity.FileName();
    platform::CopyTrouble trouble;
    if (!body.empty() && platform::CopyFile(body, request->PhysicalPath, true, &trouble)) {
        response->SetStatus(201);
    } else if (!body.empty() && !trouble.storage && platform::CopyFile(body, request->PhysicalPath, false, &trouble)) {
        response->SetStatus(200, "Document written");
    } else if (trouble.storage) {
        // Not a conflict the client could resolve: the server could not
        // store what it was given (a full disk). The old document stays.
        response->SetStatus(500, "PUT Write Error");
        c.LogError("Unable to write " + request->PhysicalPath + ": " + trouble.reason, request);
    } else {
        response->SetStatus(409, "PUT Conflict Error");
    }
    return 1;
}

int MethodDelete(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    c.Trace("MethodDelete(): " + request->PhysicalPath, request);
    if (platform::DeleteFile(request->PhysicalPath)) {
        response->SetStatus(200, "Resource deleted");
    } else {
        response->SetStatus(409, "DELETE Conflict Error");
        c.LogError("Unable to delete: " + request->PhysicalPath, request);
    }
    return 1;
}
