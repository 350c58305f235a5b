#include "gateway/CGIBINEngine.h"

#include <cstring>

#include "http/Escapes.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "config/HTTPConfiguration.h"
#include "server/RequestContext.h"

namespace {

constexpr size_t kMaxCommandLine = 8191;
constexpr unsigned long kFileNotFound = 2;

// The arguments a query gives, by the rules of the Windows C runtime. The
// rule for the program name (backslashes always literal) must not apply to
// the first of them, so a stand-in program goes first and is dropped.
void AppendQueryArguments(std::string_view query, std::vector<std::string>* arguments) {
    std::vector<std::string> split = platform::SplitCommandLine("- " + std::string(query));
    arguments->insert(arguments->end(), std::make_move_iterator(split.begin() + 1),
                      std::make_move_iterator(split.end()));
}

}  // namespace

CGIBINEngine::CGIBINEngine(const RequestContext& context) : CGIBase(context) {}

std::string CGIBINEngine::CGIGateway_Interface() const { return "CGI/1.1"; }

void CGIBINEngine::AddEnvironment(std::string_view name, std::string_view text) {
    const std::string value = ValueForScript(text);
    const size_t length = name.size() + 1 + value.size();
    if (length + static_cast<size_t>(environmentLength_) + 2 >= kEnvironmentSize) return;
    char* entry = environment_ + environmentLength_;
    std::memcpy(entry, name.data(), name.size());
    entry[name.size()] = '=';
    std::memcpy(entry + name.size() + 1, value.data(), value.size());
    entry[length] = '\0';
    environmentLength_ += static_cast<int>(length + 1);
}

void CGIBINEngine::SetEnvironment() {
    const std::string translated = CGIPath_Translated();
    AddEnvironment("SERVER_SOFTWARE", CGIServer_Software());
    AddEnvironment("SERVER_NAME", CGIServer_Name());
    AddEnvironment("GATEWAY_INTERFACE", CGIGateway_Interface());
    AddEnvironment("SERVER_PROTOCOL", CGIServer_Protocol());
    AddEnvironment("SERVER_PORT", CGIServer_Port());
    AddEnvironment("REQUEST_METHOD", CGIRequest_Method());
    AddEnvironment("PATH_INFO", CGIPath_Info());
    AddEnvironment("PATH_TRANSLATED", translated.empty() ? translated : platform::HostPath(translated));
    AddEnvironment("SCRIPT_NAME", CGIScript_Name());
    AddEnvironment("QUERY_STRING", CGIQuery_String());
    AddEnvironment("REMOTE_ADDR", CGIRemote_Addr());
    AddEnvironment("REMOTE_HOST", CGIRemote_Host());
    AddEnvironment("AUTH_TYPE", CGIAuth_Type());
    AddEnvironment("REMOTE_USER", CGIRemote_User());
    AddEnvironment("REMOTE_IDENT", CGIRemote_Ident());
    AddEnvironment("CONTENT_TYPE", CGIContent_Type());
    AddEnvironment("CONTENT_LENGTH", CGIContent_Length());
    AddEnvironment("HTTP_ACCEPT", CGIHttp_Accept());
    AddEnvironment("HTTP_COOKIE", CGIHttp_Cookie());
    AddEnvironment("HTTP_REFERER", CGIHttp_Referer());
    AddEnvironment("HTTP_USER_AGENT", CGIHttp_User_Agent());
    // What scripts commonly test to know the request was private; a plain
    // request's environment stays as it always was.
    if (request_->Secure) {
        AddEnvironment("HTTPS", "on");
        AddEnvironment("REQUEST_SCHEME", "https");
    }
}

int CGIBINEngine::Process(HTTPRequest* request, HTTPResponse* response) {
    request_ = request;
    response_ = response;
    const HTTPConfiguration& config = context_.config;

    platform::ChildStart start;
    // The output needs no name: the script writes it through its standard
    // output, and the server reads and sends it through the same open file.
    start.outputFile = response->Entity.SetNamelessTemp();
    if (!start.outputFile) return 0;
    start.errorToOutput = true;
    // A request without a body reads /dev/null: the same empty input as a
    // file made for the purpose, without making one.
    const HTTPEntity& body = request->Entity;
    if (body.IsFile() && body.FileName().empty()) {
        start.inputFile = request->Entity.OpenedFile();
        if (!start.inputFile) return 0;
    } else if (body.IsFile()) {
        start.input = body.FileName();
    }

    const std::string script = request->PhysicalPath;
    start.workingDirectory = ScriptDirectory(script);
    std::string command = '"' + script + '"';
    // The arguments are built as the command line would split, but directly:
    // a file name holding a quote would not survive a join and a split.
    if (config.PerlCGI && command.ends_with(".pl\"")) {
        start.arguments = platform::SplitCommandLine(config.PerlCmdLine);
        start.arguments.push_back(platform::HostPath(script));
        command = config.PerlCmdLine + ' ' + command;
    } else {
        start.arguments.push_back(script);
    }

    std::string commandLine = command;
    if (request->Query.find('=') == std::string::npos) commandLine += ' ' + PlusToSpace(request->Query);
    if (commandLine.size() > kMaxCommandLine) commandLine.resize(kMaxCommandLine);
    if (commandLine.size() > command.size())
        AppendQueryArguments(std::string_view(commandLine).substr(command.size() + 1), &start.arguments);

    context_.Trace("(CGI-BIN Launch) WorkPath: " + start.workingDirectory + " CmdLine: " + commandLine +
                       " Args: " + request->Query,
                   request);
    SetEnvironment();
    start.environment = Environment();

    unsigned long error = 0;
    if (RunScript(start, "StdCGI Launch " + command + ": Process timed out", &error)) {
        ProcessScriptOutput();
        return 1;
    }
    if (error == kFileNotFound) return 0;
    context_.LogError("Standard CGI Launch " + command + ": CreateProcess failed; error code = " +
                          std::to_string(error),
                      request);
    response->SetStatus(500, "Standard CGI Launch Error");
    return 0;
}
