#include "server/HTTPStatistics.h"

#include <cinttypes>
#include <cstdio>

#include "config/HTTPConfiguration.h"
#include "http/Dates.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "platform/Clock.h"
#include "server/ServerSoftware.h"

namespace {

// The label of a method slot, in the page's 30-character label column.
std::string MethodLabel(int slot) {
    std::string label(slot == 0 ? std::string_view("Unknown") : MethodWord(slot));
    label += " requests:";
    label.resize(30, ' ');
    return label;
}

// A counter right-aligned in its 12-character column (wider only for a
// number of more than 12 digits).
void Line(std::string* page, const char* label, uint64_t value) {
    char text[256];
    std::snprintf(text, sizeof text, "%s%12" PRIu64 "\n", label, value);
    *page += text;
}

}  // namespace

HTTPStatistics::HTTPStatistics()
    : StartText(gm_timestr_822(static_cast<long>(platform::UnixTimeNow()))), StartTime(platform::UnixTimeNow()) {}

void HTTPStatistics::Reset() {
    for (auto* counter :
         {&TotalRequests, &Redirections, &CacheAnswers, &AuthorizationFailures, &ScriptRequests, &Errors})
        counter->store(0);
    BytesSent.store(0);
    BytesReceived.store(0);
    for (auto& counter : MethodCount) counter.store(0);
}

void HTTPStatistics::LogStats(HTTPRequest* request, HTTPResponse* response) {
    Count(request->Entity.GetSize(), response->Entity.GetSize(), request->Method, response->Status,
          IsScriptKind(request->ResourceKind));
}

void HTTPStatistics::Count(uint64_t received, uint64_t sent, int method, int status, bool script) {
    BytesReceived.fetch_add(received, std::memory_order_relaxed);
    BytesSent.fetch_add(sent, std::memory_order_relaxed);
    TotalRequests.fetch_add(1, std::memory_order_relaxed);
    if (method < 0) MethodCount[0].fetch_add(1, std::memory_order_relaxed);
    else if (method < kMethodSlots) MethodCount[method].fetch_add(1, std::memory_order_relaxed);
    switch (status) {
        case 301:
        case 302: Redirections.fetch_add(1, std::memory_order_relaxed); break;
        case 304: CacheAnswers.fetch_add(1, std::memory_order_relaxed); break;
        case 401:
        case 403: AuthorizationFailures.fetch_add(1, std::memory_order_relaxed); break;
        default: break;
    }
    if (script) ScriptRequests.fetch_add(1, std::memory_order_relaxed);
    switch (status) {
        case 400:
        case 404:
        case 500:
        case 501:
        case 503: Errors.fetch_add(1, std::memory_order_relaxed); break;
        default: break;
    }
}

void HTTPStatistics::GetStats(HTTPEntity* body, const HTTPConfiguration& config, uint32_t activeConnections,
                              const TLSCounts* tls, const std::string& lines) {
    const char* version = ServerSoftware(config);
    std::string page;
    page.reserve(2048);
    page += "<HTML><HEAD><TITLE>Varevavo Statistics for " + config.SiteAddress + "</TITLE></HEAD>\n";
    page += "<BODY BGCOLOR=\"#FFFFFF\"><CENTER><H1>Web Server Statistics for " + config.SiteAddress +
            "</H1></CENTER><HR>\n";
    page += "<PRE>\n";
    char text[256];
    std::snprintf(text, sizeof text, "Server version is %s\n", version);
    page += text;
    std::snprintf(text, sizeof text, "Server last started on %s\n", StartText.c_str());
    page += text;
    const int64_t s = platform::UnixTimeNow() - StartTime;
    std::snprintf(text, sizeof text, "Server up time %d months %d days %d:%2.2d:%2.2d\n\n",
                  static_cast<int>(s / 2592000), static_cast<int>((s / 86400) % 30), static_cast<int>((s / 3600) % 24),
                  static_cast<int>((s / 60) % 60), static_cast<int>(s % 60));
    page += text;
    Line(&page, "Active connections:           ", activeConnections);
    Line(&page, "Total requests:               ", TotalRequests);
    Line(&page, "Bytes sent:                   ", BytesSent);
    Line(&page, "Bytes received:               ", BytesReceived);
    page += "\n";
    for (int i = 0; i < kMethodSlots; ++i) Line(&page, MethodLabel(i).c_str(), MethodCount[i]);
    page += "\n";
    Line(&page, "Redirection responses:        ", Redirections);
    Line(&page, "\"Use Cache\" responses:        ", CacheAnswers);
    Line(&page, "Authorization failures:       ", AuthorizationFailures);
    page += "\n";
    Line(&page, "CGI execs:                    ", ScriptRequests);
    page += "\n";
    Line(&page, "Total Errors:                 ", Errors);
    if (tls) {
        Line(&page, "TLS connections:              ", tls->connections);
        Line(&page, "TLS handshakes failed:        ", tls->handshakesFailed);
    }
    if (!config.AccessControlList.empty()) {
        Line(&page, "Password checks:              ", PasswordChecks);
        Line(&page, "Addresses watched:            ", WatchedAddresses);
    }
    // The lines may quote an outside party (an authority's reason): as text.
    for (const char c : lines) page += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    page += "</PRE><HR>";
    page += "<A HREF=\"mailto:" + config.AdminEmail + "\"><ADDRESS>&lt;" + config.AdminEmail +
            "&gt;</ADDRESS></A>";
    page += "</BODY></HTML>";
    body->SetData(std::move(page));
}
