#include "gateway/CGIBase.h"

#include <algorithm>

#include "auth/AccessGate.h"
#include "gateway/BlockReader.h"
#include "http/Characters.h"
#include "http/HeaderLine.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/PathText.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "config/HTTPConfiguration.h"
#include "server/RequestContext.h"
#include "server/ServerSoftware.h"
#include "server/URLMapping.h"

namespace {

// A script's header lines are read as a C stream would read them into a
// 256-byte line buffer.
constexpr size_t kScriptLine = 255;

}  // namespace

std::string CGIBase::CGIServer_Software() const {
    return ServerSoftware(context_.config);
}

std::string CGIBase::CGIServer_Name() const { return context_.config.SiteAddress; }

std::string CGIBase::CGIServer_Port() const {
    return std::to_string(request_ && request_->Secure ? context_.config.TLSPort : context_.config.Port);
}

std::string CGIBase::CGIServer_Protocol() const {
    switch (request_->Protocol) {
        case HTTP09: return "HTTP/0.9";
        case HTTP11: return "HTTP/1.1";
        default: return "HTTP/1.0";
    }
}

std::string CGIBase::CGIRequest_Method() const {
    const std::string_view line = std::string_view(request_->RequestLine).substr(0, 255);
    return std::string(line.substr(0, line.find(' ')));
}

std::string CGIBase::CGIPath_Info() const { return request_->PathInfo; }

std::string CGIBase::CGIPath_Translated() const { return TranslatePath(CGIPath_Info()); }

std::string CGIBase::CGIScript_Name() const { return request_->ScriptName; }

std::string CGIBase::CGIQuery_String() const { return request_->Query; }

std::string CGIBase::CGIRemote_Addr() const { return request_->RemoteAddr; }

std::string CGIBase::CGIRemote_Host() const { return request_->RemoteHost; }

std::string CGIBase::CGIAuth_Type() const { return request_->AuthType; }

std::string CGIBase::CGIRemote_User() const { return request_->User; }

std::string CGIBase::CGIRemote_Ident() const { return {}; }

std::string CGIBase::CGIContent_Type() const { return request_->Header[Hdr::ContentType]; }

std::string CGIBase::CGIContent_Length() const {
    return request_->BodyDeclared() ? std::to_string(request_->BodyLength) : std::string();
}

std::string CGIBase::CGIHttp_Accept() const { return request_->Header[Hdr::Accept]; }

std::string CGIBase::CGIHttp_Cookie() const { return request_->Header[Hdr::Cookie]; }

std::string CGIBase::CGIHttp_Referer() const { return request_->Header[Hdr::Referer]; }

std::string CGIBase::CGIHttp_User_Agent() const { return request_->Header[Hdr::UserAgent]; }

std::string CGIBase::TranslatePath(const std::string& url) const {
    int kind = ResourceUnset;
    return TranslatePath(url, &kind);
}

std::string CGIBase::TranslatePath(const std::string& url, int* kind) const {
    *kind = ResourceUnset;
    std::string path = url;
    if (path.empty() || NormaliseURL(&path) != URLFault::None) return {};
    URLMapping mapping(context_.config, path);
    // A redirection names another URL, not a file.
    if (mapping.Kind == ResourceRedirect) return {};
    // A protected folder's files are for requests that passed its list.
    if (!context_.config.AccessControlList.empty()) {
        const AuthACL* governing = AccessGate::Governing(context_.config, path, mapping.PhysicalPath);
        if (governing && governing != context_.passedList) return {};
    }
    *kind = mapping.Kind;
    return SlashesBack(std::move(mapping.PhysicalPath));
}

void CGIBase::ProcessScriptOutput() {
    HTTPEntity& body = response_->Entity;
    if (body.Type() != EntityTemp) {
        response_->SetStatus(500, "CGI Error");
        return;
    }
    // A script cannot tell the server that its writes failed; a file that
    // can grow no further (a full temporary file system, the file-size
    // limit) may hold only part of what it wrote, and part of an answer is
    // no answer.
    const platform::File* file = body.OpenedFile();
    if (file && platform::CannotGrow(*file)) {
        response_->SetStatus(500, "CGI Output Cut Short");
        const std::string& name = body.FileName();
        context_.LogError("Script output cut short: no room left for " +
                              (name.empty() ? std::string("the script's output") : name) + " (" +
                              std::to_string(body.GetSize()) + " bytes written)",
                          request_);
        return;
    }
    BlockReader output;
    if (!file || !output.Open(*file)) {
        response_->SetStatus(500, "CGI Response Error");
        return;
    }
    std::string line;
    output.ReadLine(&line, kScriptLine);
    if (line.size() >= 5 && line.compare(0, 4, "HTTP") == 0) {
        response_->SetStatus(200);
        response_->Raw = 1;
        return;
    }
    response_->SetStatus(200);

    // The first line is the first header line: it was read by the same rule
    // as the others, so there is no need to read it again.
    bool redirect = false;
    bool restOfCutLine = false;
    for (bool more = !line.empty(); more; more = output.ReadLine(&line, kScriptLine)) {
        const bool continued = restOfCutLine;
        restOfCutLine = line.back() != '\n';
        if (line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            // The line ending of a line cut at 255 characters is not the
            // empty line that ends the headers.
            if (continued) continue;
            break;
        }
        std::string_view value;
        const int index = ParseHeaderLine(line, &value);
        if (index < 0) continue;
        response_->Header[index] = value;
        if (index == Hdr::Location) redirect = true;
    }
    body.SetOffset(output.Position());
    if (redirect) response_->SetStatus(302);
}

std::string CGIBase::ScriptHead(HTTPEntity& output) {
    std::string head;
    if (const platform::File* file = output.OpenedFile()) {
        char buffer[8192];
        const long n = file->ReadAt(0, buffer, sizeof buffer);
        if (n > 0) head.assign(buffer, static_cast<size_t>(n));
    }
    size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) end += 4;
    else if ((end = head.find("\n\n")) != std::string::npos) end += 2;
    else end = head.size();
    head.resize(end);
    return head;
}

bool CGIBase::RunScript(const platform::ChildStart& start, const std::string& timedOutMessage, unsigned long* error) {
    platform::ChildProcess script;
    if (!script.Start(start)) {
        *error = script.LastError();
        return false;
    }
    if (!script.Wait(context_.config.CGITimeOut)) {
        context_.LogError(timedOutMessage, request_);
        script.Terminate();
    }
    return true;
}

std::string CGIBase::ScriptDirectory(const std::string& scriptPath) {
    const size_t slash = scriptPath.rfind('\\');
    return slash == std::string::npos ? scriptPath : scriptPath.substr(0, slash);
}

std::string CGIBase::ValueForScript(std::string_view text) {
    std::string value(text.substr(0, text.find('\0')));
    for (char& c : value)
        if (IsControlByte(static_cast<unsigned char>(c))) c = ' ';
    return value;
}
