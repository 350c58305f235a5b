#pragma once
// What the server has done since it was created, and the statistics page.
// Every finished request is counted once (LogStats, from any worker); the
// page (GetStats) reads the counters at the same time on another worker.
// Each counter is an atomic; the byte counters are 64-bit (one file can be
// larger than 4 GiB), the others wrap at 32 bits. The page need not be a
// consistent snapshot across counters.

#include <atomic>
#include <cstdint>
#include <string>

class HTTPConfiguration;
class HTTPRequest;
class HTTPResponse;
class HTTPEntity;

class HTTPStatistics {
public:
    // Method slots: 0 for a method not recognised, then OPTIONS .. TRACE.
    static constexpr int kMethodSlots = 8;

    HTTPStatistics();

    // Every counter to 0; the start time stays.
    void Reset();
    // Counts one finished request: body sizes, method, redirections, "Use
    // Cache" answers, authorization failures, script requests and errors.
    void LogStats(HTTPRequest* request, HTTPResponse* response);
    // The same count from the facts LogStats reads.
    void Count(uint64_t received, uint64_t sent, int method, int status, bool script);
    // Makes body a memory body holding the statistics page of the site
    // config describes, with activeConnections as the connections open now.
    // tls (while UseTLS is on): the TLS connections served and the
    // handshakes that failed, listed after the last line.
    struct TLSCounts {
        uint64_t connections = 0;
        uint64_t handshakesFailed = 0;
    };
    // lines: further lines of state (each ended by a newline), listed last.
    void GetStats(HTTPEntity* body, const HTTPConfiguration& config, uint32_t activeConnections,
                  const TLSCounts* tls = nullptr, const std::string& lines = {});

    std::atomic<uint32_t> TotalRequests{0};
    // Passwords compared with stored ones (protected folders, master key);
    // shown on the page while the setup has access-control lists.
    std::atomic<uint64_t> PasswordChecks{0};
    // Client addresses the guessing throttle holds, as it last told.
    std::atomic<uint64_t> WatchedAddresses{0};
    std::atomic<uint64_t> BytesSent{0};
    std::atomic<uint64_t> BytesReceived{0};
    std::atomic<uint32_t> MethodCount[kMethodSlots] = {};
    std::atomic<uint32_t> Redirections{0};
    std::atomic<uint32_t> CacheAnswers{0};
    std::atomic<uint32_t> AuthorizationFailures{0};
    std::atomic<uint32_t> ScriptRequests{0};
    std::atomic<uint32_t> Errors{0};
    const std::string StartText;  // the creation time, RFC 822 form
    const int64_t StartTime;      // seconds since 1970
};
