// The server's log operations: opening the four logs and building their lines.
#include "http/Dates.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/LetterCase.h"
#include "platform/MessageDisplay.h"
#include "server/HTTPServer.h"

namespace {

// The client's name or address, as the first field of a line.
std::string Who(const HTTPRequest* request) {
    return EventLog::Escape(request->RemoteHost.empty() ? request->RemoteAddr : request->RemoteHost, true);
}

void OpenOrClose(EventLog& log, uint32_t mask, const std::string& fileName, const char* failure,
                 std::vector<std::string>* failures) {
    if (!mask) {
        log.StopLogFile();
        return;
    }
    if (log.StartLogFile(fileName.c_str())) return;
    if (failures) failures->push_back(failure);
    else platform::ShowMessage("Error", failure, platform::MB_ICONERROR);
}

}  // namespace

void HTTPServer::InitializeLogs(std::vector<std::string>* failures) {
    const auto config = Snapshot();
    OpenOrClose(AccessLog, config->AccessLogMask, config->AccessLogFileName, "Error opening access log.  Check setup.",
                failures);
    OpenOrClose(ErrorLog, config->ErrorLogMask, config->ErrorLogFileName, "Error opening error log.  Check setup.",
                failures);
    OpenOrClose(ReferrerLog, config->ReferrerLogMask, config->ReferrerLogFileName,
                "Error opening referrer log.  Check setup.", failures);
    OpenOrClose(TraceLog, config->TraceLogMask, config->TraceLogFileName, "Error opening trace log.  Check setup.",
                failures);
}

void HTTPServer::FlushLogs() {
    AccessLog.FlushLogFile();
    ErrorLog.FlushLogFile();
    ReferrerLog.FlushLogFile();
    TraceLog.FlushLogFile();
}

namespace {

// An error or trace line: who, the bracketed time, the message.
void Diagnostic(EventLog& log, const char* withoutRequest, const std::string& message, const HTTPRequest* request) {
    std::string line = request ? Who(request) : std::string(withoutRequest);
    line += " [";
    line += LogTime();
    line += "] ";
    line += EventLog::Escape(message);
    log.LogAsIs(line);
}

}  // namespace

void HTTPServer::LogError(const std::string& message, const HTTPRequest* request) {
    if (Snapshot()->ErrorLogMask) Diagnostic(ErrorLog, "LOCAL SYSTEM ERROR ", message, request);
}

void HTTPServer::Trace(const std::string& message, const HTTPRequest* request) {
    if (Snapshot()->TraceLogMask) Diagnostic(TraceLog, "No Request Data", message, request);
}

void HTTPServer::LogTransaction(HTTPRequest* request, HTTPResponse* response) {
    Statistics.LogStats(request, response);
    const auto snapshot = Snapshot();
    const HTTPConfiguration& config = *snapshot;
    if (config.AccessLogMask) {
        std::string line;
        line.reserve(160 + request->RequestLine.size() + request->Header[Hdr::UserAgent].size());
        line += Who(request);
        line += " - ";
        line += request->User.empty() ? "-" : EventLog::Escape(request->User, true);
        line += " [";
        line += LogTime();
        line += "] \"";
        line += EventLog::Escape(request->RequestLine);
        line += "\" ";
        line += std::to_string(response->Status);
        const auto quotedOrHyphen = [&line](const std::string& value, bool quoted) {
            line += ' ';
            if (value.empty()) {
                line += '-';
            } else if (quoted) {
                line += '"';
                line += EventLog::Escape(value);
                line += '"';
            } else {
                line += EventLog::Escape(value, true);
            }
        };
        quotedOrHyphen(response->Header[Hdr::ContentLength], false);
        quotedOrHyphen(request->Header[Hdr::Referer], true);
        quotedOrHyphen(request->Header[Hdr::UserAgent], true);
        AccessLog.LogAsIs(line);
    }
    const std::string& referer = request->Header[Hdr::Referer];
    if (config.ReferrerLogMask && !referer.empty() && !ContainsNoCase(referer, config.SiteAddress))
        ReferrerLog.Log(EventLog::Escape(referer, true) + " -> \"" + EventLog::Escape(request->RequestLine) + "\"");
}
