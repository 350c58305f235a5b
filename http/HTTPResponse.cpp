#include "http/HTTPResponse.h"

#include <cstdio>

#include "platform/Reply.h"

namespace {

struct ReasonPhrase {
    int code;
    const char* text;
};
constexpr ReasonPhrase kReasons[] = {
    {200, "Document Follows"}, {201, "Document Created"},
    {206, "Partial Content"},
    {301, "Redirection"},      {302, "Redirection"},
    {304, "Use Cache"},        {400, "Bad or corrupted request"},
    {401, "Unauthorized"},     {403, "Forbidden"},
    {404, "Resource not found"}, {405, "Method not allowed"},
    {416, "Requested Range Not Satisfiable"},
    {500, "Internal Server Error"}, {501, "Not Implemented"},
    {503, "Not Available"},
};

// The status line is composed in 256 bytes: "HTTP/1.0 404 " and CR LF leave
// this much for the reason at most, whatever the code's width.
void AppendStatusLine(std::string* out, int major, int minor, int status, const std::string& reason) {
    const size_t start = out->size();
    out->append("HTTP/");
    out->append(std::to_string(major));
    out->push_back('.');
    out->append(std::to_string(minor));
    out->push_back(' ');
    out->append(std::to_string(status));
    out->push_back(' ');
    const size_t line = out->size() - start;
    const size_t room = line + 2 < 255 ? 255 - line - 2 : 0;
    out->append(reason, 0, room);
    out->append("\r\n");
}

}  // namespace

HTTPResponse::HTTPResponse() { HTTPResponse::Reset(); }

void HTTPResponse::Reset() {
    HTTPMessage::Reset();
    Status = 500;
    Raw = 0;
    KeepAlive = false;
    Reason.clear();
}

const char* HTTPResponse::StandardReason(int code) {
    for (const ReasonPhrase& r : kReasons)
        if (r.code == code) return r.text;
    return "Unclassified Error";
}

void HTTPResponse::SetStatus(int code) {
    Status = code;
    Reason = StandardReason(code);
    if (code != 200) SetStatusDoc();
}

void HTTPResponse::SetStatus(int code, std::string reason) {
    Status = code;
    Reason = std::move(reason);
    SetStatusDoc();
}

void HTTPResponse::SetStatusDoc() {
    std::string doc;
    doc.reserve(200 + Reason.size() + 2 * AdminEmail.size() + Header[Hdr::Server].size());
    doc += "<H1>";
    doc += Reason;
    doc += "</H1>\nIf problems persist, contact <A HREF=\"mailto:";
    doc += AdminEmail;
    doc += "\"><i>&lt;";
    doc += AdminEmail;
    doc += "&gt;</i></A>\n<hr><i>";
    doc += Header[Hdr::Server];
    doc += "</i>";
    Header[Hdr::ContentLength] = std::to_string(doc.size());
    Header[Hdr::ContentType] = "text/html";
    Entity.SetData(std::move(doc));
}

void HTTPResponse::AppendHead(std::string* out) const {
    if (Protocol == HTTP09 || Raw) return;
    out->reserve(out->size() + 512);
    AppendStatusLine(out, Major, Minor, Status, Reason);
    AppendHeaders(out);
}

bool HTTPResponse::ComposeReply(platform::Reply* reply) {
    reply->Clear();
    AppendHead(&reply->head);
    if (Entity.ComposeAfterHead(reply)) return true;
    reply->Clear();
    return false;
}
