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
// Writes value in decimal at at, as std::to_string would; returns the end.
char* PutNumber(char* at, int value) {
    if (value < 0) *at++ = '-';
    unsigned rest = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (n > 0) *at++ = digits[--n];
    return at;
}

void AppendStatusLine(std::string* out, int major, int minor, int status, const std::string& reason) {
    // Written for every answer: the numbers by hand into one buffer, then
    // appended at once.
    char text[48] = "HTTP/";
    char* at = PutNumber(text + 5, major);
    *at++ = '.';
    at = PutNumber(at, minor);
    *at++ = ' ';
    at = PutNumber(at, status);
    *at++ = ' ';
    const size_t line = static_cast<size_t>(at - text);
    out->append(text, line);
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
