#pragma once
// The standard CGI engine: runs a script as a child process with the CGI
// variables as its whole environment, the request body as its standard
// input and a temporary file, the response's body, as its standard output
// and standard error. The server writes nothing while the script runs; it
// waits for the end and then parses the output file (CGIBase). Scripts whose
// name ends in ".pl" may run through the configured Perl command line.

#include <string>
#include <string_view>

#include "gateway/CGIBase.h"

class CGIBINEngine final : public CGIBase {
public:
    static constexpr int kEnvironmentSize = 8192;

    explicit CGIBINEngine(const RequestContext& context);

    // "CGI/1.1".
    std::string CGIGateway_Interface() const override;

    // Runs the script of the request's PhysicalPath:
    //   - working directory: the script's folder;
    //   - command: the quoted path, or PerlCmdLine, a space and the quoted
    //     path when PerlCGI is set and the name ends in ".pl" (exact case);
    //     its log lines quote it;
    //   - arguments: a query without "=" with its plus signs made blanks,
    //     split by the Windows rules (no %-decoding);
    //   - a trace line "(CGI-BIN Launch) WorkPath: ... CmdLine: ... Args: ...".
    // Paths reach the script in host form; traces and logs keep the server's.
    // Returns 1 when the script was started; the response is then built from
    // its output (on time-out from what it wrote so far, after an error-log
    // line). Returns 0 when it was not: silently, status untouched, when the
    // program or a file was not found (system error 2) or no output file
    // could be made; otherwise with an error-log line and status 500
    // "Standard CGI Launch Error".
    int Process(HTTPRequest* request, HTTPResponse* response) override;

    // Appends "name=value" and a NUL byte to the environment block when it
    // fits (with the block's final NUL, below kEnvironmentSize bytes);
    // otherwise the variable is dropped. The value is text as
    // ValueForScript makes it: cut at a NUL byte of its own, which would
    // otherwise end the entry there and let the rest pass for another
    // variable, and without control bytes.
    void AddEnvironment(std::string_view name, std::string_view text);
    // Appends the 21 CGI variables, in order, empty ones included:
    // SERVER_SOFTWARE SERVER_NAME GATEWAY_INTERFACE SERVER_PROTOCOL
    // SERVER_PORT REQUEST_METHOD PATH_INFO PATH_TRANSLATED (host form)
    // SCRIPT_NAME QUERY_STRING REMOTE_ADDR REMOTE_HOST AUTH_TYPE REMOTE_USER
    // REMOTE_IDENT CONTENT_TYPE CONTENT_LENGTH HTTP_ACCEPT HTTP_COOKIE
    // HTTP_REFERER HTTP_USER_AGENT. Nothing of the server's environment.
    void SetEnvironment();
    // The entries written so far, each ended by its NUL byte.
    std::string_view Environment() const { return {environment_, static_cast<size_t>(environmentLength_)}; }

private:
    int environmentLength_ = 0;
    char environment_[kEnvironmentSize] = {};
};
