#include "gateway/CGIWINEngine.h"

#include <algorithm>

#include "gateway/BlockReader.h"
#include "http/Characters.h"
#include "http/Escapes.h"
#include "http/FileTests.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/ProfileWriter.h"
#include "config/HTTPConfiguration.h"
#include "server/RequestContext.h"

namespace {

constexpr size_t kMaxCommandLine = 8191;

// A name the program is told about, in the host's form; empty stays empty.
std::string HostForm(const std::string& path) { return path.empty() ? path : platform::HostPath(path); }

bool HoldsControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return IsControlByte(static_cast<unsigned char>(c)); });
}

// Deletes a temporary file when it goes out of scope.
class TempFile {
public:
    TempFile() : name_(MakeTempFile()) {}
    ~TempFile() {
        if (!name_.empty()) platform::DeleteFile(name_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

}  // namespace

void WriteAccepted(platform::ProfileWriter* profile, std::string_view range) {
    const size_t semicolon = range.find(';');
    const std::string_view type = TrimSpaces(range.substr(0, semicolon));
    // A media type holds no "=": one that does is no media type, and would
    // give the profile a key of the client's choosing.
    if (type.find('=') != std::string_view::npos) return;
    const std::string_view parameters =
        semicolon == std::string_view::npos ? std::string_view() : TrimSpaces(range.substr(semicolon + 1));
    profile->WriteString("Accept", type, parameters.empty() ? std::string_view("Yes") : parameters);
}

bool IsExternal(const std::string& value) {
    if (value.size() >= 255) return true;
    return std::any_of(value.begin(), value.end(),
                       [](char c) { return OutsidePrintable(static_cast<unsigned char>(c)); });
}

long GMTOffsetSeconds(const platform::TimeZoneInfo& zone) {
    return -60 * zone.Bias - (zone.DaylightInEffect ? 60 * zone.DaylightBias : 0);
}

CGIWINEngine::CGIWINEngine(const RequestContext& context) : CGIBase(context) {}

CGIWINEngine::~CGIWINEngine() {
    for (int i = 0; i < externalCount_; ++i) platform::DeleteFile(externalFiles_[i]);
}

std::string CGIWINEngine::CGIGateway_Interface() const { return "CGI/1.3a (Win)"; }

int CGIWINEngine::MakeCGIFile(const std::string& profileName) {
    const HTTPConfiguration& config = context_.config;
    const std::string contentFile = HostForm(request_->Entity.FileName());
    platform::ProfileWriter profile(profileName);
    // Every value goes in as ValueForScript makes it, so none can fail to be
    // written or start a line of its own.
    const auto cgi = [&profile](std::string_view key, const std::string& value) {
        profile.WriteString("CGI", key, ValueForScript(value));
    };
    cgi("Request Protocol", CGIServer_Protocol());
    cgi("Request Method", CGIRequest_Method());
    cgi("Executable Path", HostForm(request_->PhysicalPath));
    cgi("Document Root", HostForm(config.DocRoot));
    cgi("Logical Path", CGIPath_Info());
    cgi("Physical Path", HostForm(CGIPath_Translated()));
    cgi("Query String", CGIQuery_String());
    cgi("Referer", request_->Header[Hdr::Referer]);
    cgi("User Agent", CGIHttp_User_Agent());
    cgi("Content Type", CGIContent_Type());
    cgi("Content Length", CGIContent_Length());
    cgi("Content File", contentFile);
    cgi("Server Software", CGIServer_Software());
    cgi("Server Name", CGIServer_Name());
    cgi("Server Port", CGIServer_Port());
    cgi("Server Admin", config.AdminEmail);
    cgi("CGI Version", CGIGateway_Interface());
    cgi("Remote Host", CGIRemote_Host());
    cgi("Remote Address", CGIRemote_Addr());
    cgi("Authentication Method", CGIAuth_Type());
    cgi("Authentication Realm", request_->RealmName);
    cgi("Authenticated Username", CGIRemote_User());
    if (config.CGISendPassword) cgi("Authenticated Password", request_->Password);

    const std::string acceptHeader = ValueForScript(request_->Header[Hdr::Accept]);
    std::string_view accept = acceptHeader;
    while (!accept.empty()) {
        const size_t comma = accept.find(',');
        WriteAccepted(&profile, accept.substr(0, comma));
        accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
    }

    profile.WriteString("System", "GMT Offset", std::to_string(GMTOffsetSeconds(platform::GetTimeZoneInfo())));
    profile.WriteString("System", "Debug Mode", config.CGIDebugMode ? "Yes" : "No");
    profile.WriteString("System", "Output File", HostForm(response_->Entity.FileName()));
    profile.WriteString("System", "Content File", contentFile);

    if (const std::string& language = request_->Header[Hdr::AcceptLanguage]; !language.empty())
        profile.WriteString("Extra Headers", "Accept-Language", ValueForScript(language));
    if (const std::string& cookie = request_->Header[Hdr::Cookie]; !cookie.empty())
        profile.WriteString("Extra Headers", "Cookie", ValueForScript(cookie));

    if (CGIRequest_Method() == "POST" && !ProcessForm(&profile)) return 0;
    return profile.Flush() ? 1 : 0;
}

int CGIWINEngine::ProcessForm(platform::ProfileWriter* profile) {
    const HTTPEntity& body = request_->Entity;
    BlockReader form;
    if (!body.IsFile() || !form.Open(body.FileName())) return 1;
    const auto dropBadName = [this] { context_.LogError("(CGI-WIN) Form field with a bad name dropped", request_); };
    std::string name;
    std::string value;
    for (;;) {
        name.clear();
        value.clear();
        form.CopyUntil('=', &name);
        if (name.empty()) break;
        form.CopyUntil('&', &value);
        // The whole value is decoded: the value files exist for values too
        // long for a profile line, so none may be cut.
        value = PlusToSpace(std::move(value));
        unescape_url(value);

        // A name is written as it came, so one that could break the
        // profile's lines or be read as something other than a key is not
        // written at all.
        if (HoldsControlCharacter(name)) {
            dropBadName();
            continue;
        }
        if (!IsExternal(value)) {
            if (!profile->WriteString("Form Literal", name, value)) dropBadName();
            continue;
        }
        if (externalCount_ >= kMaxExternal) {
            context_.LogError("(CGI-WIN) Too many external values", request_);
            continue;
        }
        const std::string file = MakeTempFile();
        platform::File out;
        if (file.empty() || !out.Open(file, platform::File::Mode::CreateAlways) ||
            !out.WriteAll(value.data(), value.size())) {
            // The program would read a form without this field as if the
            // client had not sent it.
            if (!file.empty()) platform::DeleteFile(file);
            context_.LogError("(CGI-WIN) Unable to write external file", request_);
            return 0;
        }
        externalFiles_[externalCount_++] = file;
        if (!profile->WriteString("Form External", name, HostForm(file) + ' ' + std::to_string(value.size())))
            dropBadName();
    }
    return 1;
}

int CGIWINEngine::Process(HTTPRequest* request, HTTPResponse* response) {
    request_ = request;
    response_ = response;
    const TempFile profile;
    const TempFile spare;
    const std::string output = response->Entity.SetTemp();
    if (!MakeCGIFile(profile.Name())) {
        // A program handed a profile cut short would answer a request that
        // was never made.
        context_.LogError("WinCGI: the request's profile or form files could not be written whole", request);
        response->SetStatus(500, "CGI Input Cut Short");
        return 1;
    }

    const std::string program = request->PhysicalPath;
    const std::string& content = request->Entity.FileName().empty() ? spare.Name() : request->Entity.FileName();
    platform::ChildStart start;
    start.workingDirectory = ScriptDirectory(program);
    start.arguments = {program, HostForm(profile.Name()), HostForm(content), HostForm(output)};
    const std::string quoted = '"' + program + '"';

    std::string commandLine = quoted + ' ' + profile.Name() + ' ' + content + ' ' + output;
    if (commandLine.size() > kMaxCommandLine) commandLine.resize(kMaxCommandLine);
    context_.Trace("(CGI-WIN Launch)  WorkPath: " + start.workingDirectory + " CmdLine: " + commandLine, request);

    unsigned long error = 0;
    if (RunScript(start, "WinCGI Launch " + quoted + ": Process timed out", &error)) {
        ProcessScriptOutput();
    } else {
        context_.LogError("WinCGI Launch " + quoted + ": CreateProcess failed; error code = " + std::to_string(error),
                          request);
        response->SetStatus(500, "WinCGI Launch Error");
    }
    return 1;
}
