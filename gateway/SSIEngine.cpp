#include "gateway/SSIEngine.h"

#include <algorithm>

#include "gateway/BlockReader.h"
#include "http/Characters.h"
#include "http/Escapes.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/LetterCase.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/FileTime.h"

SSIStatement ReadSSIStatement(BlockReader* page, std::string* text) {
    text->clear();
    for (int i = 0; i < 4; ++i) {
        const int c = page->Get();
        if (c < 0) break;
        text->push_back(static_cast<char>(c));
    }
    if (*text != "<!--") return SSIStatement::Text;
    // "-->" can only be completed by a ">", so the page is searched for
    // those and the text tested only there.
    do {
        if (!page->CopyUntil('>', text)) return SSIStatement::Text;
        text->push_back('>');
    } while (!text->ends_with("-->"));
    return text->starts_with("<!--#") ? SSIStatement::Directive : SSIStatement::Comment;
}

std::string_view SSIDirectiveBody(std::string_view directive) {
    constexpr size_t kOpen = 5;   // "<!--#"
    constexpr size_t kClose = 3;  // "-->"
    if (directive.size() < kOpen + kClose) return {};
    return directive.substr(kOpen, directive.size() - kOpen - kClose);
}

std::string_view TakeSSICommand(std::string_view* body) {
    *body = TrimSpaces(*body);
    const size_t end = body->find_first_of(" \r\n");
    const std::string_view word = body->substr(0, end);
    *body = end == std::string_view::npos ? std::string_view() : body->substr(end + 1);
    return word;
}

bool TakeSSITag(std::string_view* rest, std::string_view* name, std::string_view* value) {
    if (rest->empty()) return false;
    const size_t equals = rest->find('=');
    *name = TrimSpaces(rest->substr(0, equals));
    *value = {};
    const size_t open = equals == std::string_view::npos ? equals : rest->find('"', equals + 1);
    if (open == std::string_view::npos) {
        *rest = {};
        return true;
    }
    const size_t close = rest->find('"', open + 1);
    *value = rest->substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
    *rest = close == std::string_view::npos ? std::string_view() : rest->substr(close + 1);
    return true;
}

std::string FormatFileSize(uint64_t size, std::string_view sizeFormat) {
    if (EqualNoCase(sizeFormat, "abbrev") && size > 1024) {
        if (size / 1024 > 1024) return std::to_string(size / 1048576) + 'M';
        return std::to_string(size / 1024) + 'K';
    }
    return std::to_string(size);
}

std::string SSIVirtualURL(std::string_view value) {
    std::string url(value.substr(0, value.find('?')));
    unescape_url(url);
    return url;
}

SSIEngine::SSIEngine(const RequestContext& context) : CGIBase(context) {}

std::string SSIEngine::CGIGateway_Interface() const { return "Standard SSI"; }

int SSIEngine::Process(HTTPRequest* request, HTTPResponse* response) {
    request_ = request;
    response_ = response;
    if (!request || !response) return 0;
    HTTPEntity& body = response->Entity;
    if (!body.IsFile()) return 0;
    BlockReader page;
    // A script's output may have no name: it is read through its open file.
    const platform::File* nameless = body.FileName().empty() ? body.OpenedFile() : nullptr;
    if (nameless ? !page.Open(*nameless, body.Offset()) : !page.Open(body.FileName(), body.Offset())) return 0;
    std::string output;
    const int64_t rest = page.SizeAtOpen() - static_cast<int64_t>(body.Offset());
    output.reserve(static_cast<size_t>(std::max<int64_t>(rest, 0)));
    while (page.CopyUntil('<', &output)) {
        if (page.Peek() == '!') {
            page.Unget();
            output += ParseSSIStatement(&page);
        } else {
            output += '<';
        }
    }
    body.SetData(std::move(output));
    return 1;
}

std::string SSIEngine::ParseSSIStatement(BlockReader* page) {
    std::string text;
    if (ReadSSIStatement(page, &text) != SSIStatement::Directive) return text;
    std::string_view body = SSIDirectiveBody(text);
    command_ = TakeSSICommand(&body);
    ClearTags();
    std::string_view name;
    std::string_view value;
    while (TakeSSITag(&body, &name, &value))
        if (!AssignSSITag(name, value)) return errmsg_;
    return ExecuteSSI();
}

void SSIEngine::ClearTags() {
    virtual_.clear();
    file_.clear();
    var_.clear();
    cmd_.clear();
    cgi_.clear();
}

int SSIEngine::AssignSSITag(std::string_view name, std::string_view value) {
    static constexpr struct {
        const char* name;
        std::string SSIEngine::*field;
    } kTags[] = {
        {"errmsg", &SSIEngine::errmsg_}, {"timefmt", &SSIEngine::timefmt_}, {"sizefmt", &SSIEngine::sizefmt_},
        {"virtual", &SSIEngine::virtual_}, {"file", &SSIEngine::file_},     {"var", &SSIEngine::var_},
        {"cmd", &SSIEngine::cmd_},         {"cgi", &SSIEngine::cgi_},
    };
    for (const auto& tag : kTags) {
        if (EqualNoCase(name, tag.name)) {
            (this->*tag.field).assign(value);
            return 1;
        }
    }
    return 0;
}

std::string SSIEngine::ExecuteSSI() {
    static constexpr struct {
        const char* name;
        std::string (SSIEngine::*run)();
    } kCommands[] = {
        {"include", &SSIEngine::SSI_Include}, {"config", &SSIEngine::SSI_Config},
        {"echo", &SSIEngine::SSI_Echo},       {"fsize", &SSIEngine::SSI_Fsize},
        {"flastmod", &SSIEngine::SSI_Flastmod}, {"exec", &SSIEngine::SSI_Exec},
    };
    for (const auto& command : kCommands)
        if (EqualNoCase(command_, command.name)) return (this->*command.run)();
    return errmsg_;
}

std::string SSIEngine::SSI_Include() {
    const std::optional<std::string> file = VirtualFile();
    return file ? InsertFile(*file) : errmsg_;
}

std::string SSIEngine::SSI_Config() { return {}; }

std::string SSIEngine::SSI_Echo() {
    static constexpr struct {
        const char* name;
        EchoValue value;
    } kVariables[] = {
        {"DOCUMENT_NAME", &SSIEngine::EchoDocumentName},
        {"DOCUMENT_URI", &SSIEngine::EchoDocumentURI},
        {"QUERY_STRING_UNESCAPED", &SSIEngine::EchoQueryUnescaped},
        {"DATE_LOCAL", &SSIEngine::EchoDateLocal},
        {"DATE_GMT", &SSIEngine::EchoDateGMT},
        {"LAST_MODIFIED", &SSIEngine::EchoLastModified},
        {"SERVER_SOFTWARE", &SSIEngine::Echo<&CGIBase::CGIServer_Software>},
        {"SERVER_NAME", &SSIEngine::Echo<&CGIBase::CGIServer_Name>},
        {"GATEWAY_INTERFACE", &SSIEngine::EchoGatewayInterface},
        {"SERVER_PROTOCOL", &SSIEngine::Echo<&CGIBase::CGIServer_Protocol>},
        {"SERVER_PORT", &SSIEngine::Echo<&CGIBase::CGIServer_Port>},
        {"REQUEST_METHOD", &SSIEngine::Echo<&CGIBase::CGIRequest_Method>},
        {"PATH_INFO", &SSIEngine::Echo<&CGIBase::CGIPath_Info>},
        {"PATH_TRANSLATED", &SSIEngine::Echo<&CGIBase::CGIPath_Translated>},
        {"SCRIPT_NAME", &SSIEngine::Echo<&CGIBase::CGIScript_Name>},
        {"QUERY_STRING", &SSIEngine::Echo<&CGIBase::CGIQuery_String>},
        {"REMOTE_HOST", &SSIEngine::Echo<&CGIBase::CGIRemote_Host>},
        {"REMOTE_ADDR", &SSIEngine::Echo<&CGIBase::CGIRemote_Addr>},
        {"HTTP_ACCEPT", &SSIEngine::Echo<&CGIBase::CGIHttp_Accept>},
        {"HTTP_REFERER", &SSIEngine::Echo<&CGIBase::CGIHttp_Referer>},
        {"HTTP_USER_AGENT", &SSIEngine::Echo<&CGIBase::CGIHttp_User_Agent>},
    };
    for (const auto& variable : kVariables) {
        if (!EqualNoCase(var_, variable.name)) continue;
        // Most values come from the client; escaped, none can add markup to
        // the page.
        const std::optional<std::string> value = (this->*variable.value)();
        return value ? HTMLEscape(*value) : errmsg_;
    }
    return errmsg_;
}

std::string SSIEngine::SSI_Fsize() {
    const std::optional<std::string> file = VirtualFile();
    if (!file) return errmsg_;
    platform::FileInfo info;
    const uint64_t size = platform::GetFileInfo(*file, &info) ? info.size : 0;
    return FormatFileSize(size, sizefmt_);
}

std::string SSIEngine::SSI_Flastmod() { return LastModifiedOf(VirtualFile()).value_or(errmsg_); }

std::string SSIEngine::SSI_Exec() { return errmsg_; }

std::string SSIEngine::InsertFile(const std::string& path) const {
    std::string contents;
    return platform::ReadWholeFile(path, &contents) ? contents : errmsg_;
}

std::string SSIEngine::InsertDate(const std::tm* time) const {
    return time ? platform::FormatTime(timefmt_.c_str(), *time, 255) : errmsg_;
}

std::optional<std::string> SSIEngine::EchoDocumentName() const { return request_->PhysicalPath; }

std::optional<std::string> SSIEngine::EchoDocumentURI() const { return request_->URL; }

std::optional<std::string> SSIEngine::EchoQueryUnescaped() const { return DecodeEscape(request_->Query); }

std::optional<std::string> SSIEngine::EchoDateLocal() const { return DateNow(false); }

std::optional<std::string> SSIEngine::EchoDateGMT() const { return DateNow(true); }

std::optional<std::string> SSIEngine::DateNow(bool utc) const {
    std::tm now;
    if (!platform::BreakDownTime(platform::UnixTimeNow(), utc, &now)) return std::nullopt;
    return InsertDate(&now);
}

std::optional<std::string> SSIEngine::EchoLastModified() const { return LastModifiedOf(DocumentFile(request_->URL)); }

std::optional<std::string> SSIEngine::EchoGatewayInterface() const { return "CGI/1.1"; }

std::optional<std::string> SSIEngine::VirtualFile() const {
    if (virtual_.empty()) return std::nullopt;
    return DocumentFile(SSIVirtualURL(virtual_));
}

std::optional<std::string> SSIEngine::DocumentFile(const std::string& url) const {
    int kind = ResourceUnset;
    std::string file = TranslatePath(url, &kind);
    if (kind != ResourceDocument) return std::nullopt;
    return file;
}

std::optional<std::string> SSIEngine::LastModifiedOf(const std::optional<std::string>& file) const {
    platform::FileInfo info;
    std::tm local;
    if (!file || !platform::GetFileInfo(*file, &info) || info.directory ||
        !platform::BreakDownTime(platform::UnixFromFileTime(info.lastWrite), false, &local))
        return std::nullopt;
    return InsertDate(&local);
}
