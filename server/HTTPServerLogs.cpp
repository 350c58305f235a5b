// The server's log operations: opening the four logs and building their lines.
#include <charconv>

#include "http/Dates.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "http/LetterCase.h"
#include "platform/MessageDisplay.h"
#include "server/HTTPServer.h"

namespace {

// The client's name or address, as the first field of a line.
void AppendWho(std::string* line, const HTTPRequest* request) {
    EventLog::AppendEscaped(line, request->RemoteHost.empty() ? request->RemoteAddr : request->RemoteHost, true);
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

// An error line without a request: who, the bracketed time, the message.
std::string SystemErrorLine(const std::string& message) {
    std::string line = "LOCAL SYSTEM ERROR  [";
    line += LogTime();
    line += "] ";
    line += EventLog::Escape(message);
    return line;
}

}  // namespace

void HTTPServer::InitializeLogs(std::vector<std::string>* failures) {
    const auto record = Snapshot();
    const HTTPConfiguration& config = *record;
    // A log that lost lines to a full disk says so in the error log once it
    // can write again.
    const auto logs = Logs();
    for (EventLog* log : logs) log->ReportLossesTo(&ErrorLog, SystemErrorLine);
    // The settings of each log, in the order of Logs().
    const struct {
        uint32_t mask;
        const std::string& fileName;
        const char* failure;
    } settings[] = {
        {config.AccessLogMask, config.AccessLogFileName, "Error opening access log.  Check setup."},
        {config.ErrorLogMask, config.ErrorLogFileName, "Error opening error log.  Check setup."},
        {config.ReferrerLogMask, config.ReferrerLogFileName, "Error opening referrer log.  Check setup."},
        {config.TraceLogMask, config.TraceLogFileName, "Error opening trace log.  Check setup."},
    };
    static_assert(std::size(settings) == std::tuple_size_v<decltype(logs)>);
    for (size_t i = 0; i < logs.size(); ++i)
        OpenOrClose(*logs[i], settings[i].mask, settings[i].fileName, settings[i].failure, failures);
}

void HTTPServer::FlushLogs() {
    for (EventLog* log : Logs()) log->FlushLogFile();
}

namespace {

// An error or trace line: who, the bracketed time, the message.
void Diagnostic(EventLog& log, EventLog::Batch* batch, const char* withoutRequest, const std::string& message,
                const HTTPRequest* request) {
    std::string line;
    if (request) AppendWho(&line, request);
    else line = withoutRequest;
    line += " [";
    line += LogTime();
    line += "] ";
    line += EventLog::Escape(message);
    log.LogAsIs(line, batch);
}

}  // namespace

void HTTPServer::LogError(const std::string& message, const HTTPRequest* request) {
    LogError(*Snapshot(), nullptr, message, request);
}

void HTTPServer::Trace(const std::string& message, const HTTPRequest* request) {
    Trace(*Snapshot(), nullptr, message, request);
}

void HTTPServer::LogError(const HTTPConfiguration& config, EventLog::Batch* batch, const std::string& message,
                          const HTTPRequest* request) {
    if (config.ErrorLogMask) Diagnostic(ErrorLog, batch, "LOCAL SYSTEM ERROR ", message, request);
}

void HTTPServer::Trace(const HTTPConfiguration& config, EventLog::Batch* batch, const std::string& message,
                       const HTTPRequest* request) {
    if (config.TraceLogMask) Diagnostic(TraceLog, batch, "No Request Data", message, request);
}

void HTTPServer::AppendAccessLead(std::string* line, std::string_view who, std::string_view user) {
    EventLog::AppendEscaped(line, who, true);
    if (user.empty()) {
        *line += " - - [";
    } else {
        *line += " - ";
        EventLog::AppendEscaped(line, user, true);
        *line += " [";
    }
}

void HTTPServer::AppendAccessTail(std::string* line, const HTTPRequest& request, const HTTPResponse& response) {
    // The fixed pieces between the fields go in whole, one append each.
    *line += "] \"";
    EventLog::AppendEscaped(line, request.RequestLine);
    char status[16] = "\" ";
    const auto written = std::to_chars(status + 2, status + sizeof status, response.Status);
    line->append(status, static_cast<size_t>(written.ptr - status));
    const auto quotedOrHyphen = [line](const std::string& value, bool quoted) {
        if (value.empty()) {
            *line += " -";
        } else if (quoted) {
            *line += " \"";
            EventLog::AppendEscaped(line, value);
            *line += '"';
        } else {
            *line += ' ';
            EventLog::AppendEscaped(line, value, true);
        }
    };
    quotedOrHyphen(response.Header[Hdr::ContentLength], false);
    quotedOrHyphen(request.Header[Hdr::Referer], true);
    quotedOrHyphen(request.Header[Hdr::UserAgent], true);
}

std::string HTTPServer::ReferrerLine(const HTTPConfiguration& config, const HTTPRequest& request) {
    const std::string& referer = request.Header[Hdr::Referer];
    if (!config.ReferrerLogMask || referer.empty() || ContainsNoCase(referer, config.SiteAddress)) return {};
    return EventLog::Escape(referer, true) + " -> \"" + EventLog::Escape(request.RequestLine) + "\"";
}

void HTTPServer::LogTransaction(const HTTPConfiguration& config, EventLog::Batch* batch, HTTPRequest* request,
                                HTTPResponse* response) {
    Statistics.LogStats(request, response);
    if (config.AccessLogMask) {
        // With a batch, the line is written straight into the batch's lines.
        std::string own;
        std::string& line = batch ? *AccessLog.BatchLines(batch) : own;
        line.reserve(line.size() + 160 + request->RequestLine.size() + request->Header[Hdr::UserAgent].size() +
                     request->Header[Hdr::Referer].size());
        AppendAccessLead(&line, request->RemoteHost.empty() ? request->RemoteAddr : request->RemoteHost, request->User);
        line += LogTime();
        AppendAccessTail(&line, *request, *response);
        if (batch) line += "\r\n";
        else AccessLog.LogEscaped(std::move(own));
    }
    const std::string line = ReferrerLine(config, *request);
    if (!line.empty()) ReferrerLog.Log(line, batch);
}
