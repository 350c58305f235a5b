#pragma once
// Certificates obtained and renewed without anyone, from an ACME authority
// by the HTTP-01 challenge.
//
// The work is done by a helper program (uacme) that this object starts on a
// thread of its own, so that no event loop ever waits for an authority. The
// helper keeps the account key, and for each certificate its key and chain,
// in ACMEChallenge::kFolder of the home; its hook (varevavo-acme-hook,
// installed beside the server) makes each challenge pending for the plain
// port to answer. A certificate obtained is loaded as a reload loads one:
// connections in flight keep theirs. Until the first one is obtained, the
// pair the setup names (self-signed on a first start) serves, and whatever
// fails, the pair in force goes on serving.
//
// When: at start and then twice a day, a certificate is renewed once less
// than a third of its lifetime is left. A try that fails writes one
// error-log line with the authority's reason and is repeated after a
// minute, then after twice as long each time, at most a day.
//
// For tests, VAREVAVO_ACME_RENEW_AFTER (seconds, read at start) makes a
// certificate due that long after it was obtained or found, whatever its
// lifetime, and the checks that frequent.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HTTPConfiguration;
class HTTPServer;

class AutoCertificate {
public:
    // Seconds between two looks at a certificate that is not yet due.
    static constexpr int64_t kCheckInterval = 12 * 3600;
    // The first wait after a failed try, and the longest.
    static constexpr int64_t kFirstRetry = 60;
    static constexpr int64_t kLongestRetry = 24 * 3600;

    // When a certificate valid from notBefore to notAfter falls due: when
    // a third of its lifetime is left.
    static int64_t RenewalTime(int64_t notBefore, int64_t notAfter);
    // The wait after the failures-th failed try in a row (from 1): a
    // minute, doubling with each, never more than a day.
    static int64_t RetryDelay(int failures);
    // The names a certificate is for: ACMENames split at commas, blanks
    // around each dropped, empty ones and ones that are no DNS name or
    // address left out; SiteAddress when that leaves none. The first names
    // the certificate's files.
    static std::vector<std::string> Names(const HTTPConfiguration& config);
    // Where the helper keeps the certificate chain and key for a first
    // name (host paths).
    static std::string CertificatePath(const std::string& name);
    static std::string KeyPath(const std::string& name);
    // The authority's reason for a failed try, from the helper's output: the
    // lines that carry an ACME problem or the helper's own complaint, in one
    // line; the last line of the output when none does.
    static std::string Reason(const std::string& output);

    explicit AutoCertificate(HTTPServer& server);
    // Stops the work (Stop).
    ~AutoCertificate();
    AutoCertificate(const AutoCertificate&) = delete;
    AutoCertificate& operator=(const AutoCertificate&) = delete;

    // The live record may have changed (start, reload): while it asks for
    // automatic certificates with TLS on, the work runs and looks at the
    // certificate again now.
    void Update();
    // Ends the work: a helper still running is killed. Waits for the thread.
    void Stop();
    // The state for the statistics page and the front ends: the next
    // renewal (or try) and the last error, each a line; empty while off.
    std::string StateText() const;
    // The same in one line for the front ends' status: "Certificate: next
    // renewal DATE", then "; last error: ..." after a failure; empty while off.
    std::string StatusLine() const;

private:
    void Run();
    // One try at a certificate for names; false with *reason on failure.
    bool Obtain(const HTTPConfiguration& config, const std::vector<std::string>& names, std::string* reason);
    // Runs the helper with arguments (after the program); its exit code, or
    // -1 when it could not be started, was stopped or ran too long; its
    // output (standard output and error together) in *output.
    int RunHelper(const std::vector<std::string>& arguments, std::string* output);
    // Sleeps until deadline (seconds since 1970), a wake or a stop. False
    // once stopping.
    bool SleepUntil(int64_t deadline);

    HTTPServer& server_;
    const int64_t renewAfter_;  // the tests' fixed renewal age in seconds; 0: a third of the lifetime
    mutable std::mutex lock_;   // guards everything below
    std::condition_variable wake_;
    bool stopping_ = false;
    bool woken_ = false;
    int64_t nextRenewal_ = 0;   // when the certificate is looked at or tried next (0: not yet known)
    std::string lastError_;     // the last try's failure; empty after a success
    bool helperMissing_ = false;  // said once in the error log, until a try finds the helper
    std::thread thread_;        // started by the first Update that needs it; joined by Stop
};
