#include "server/AutoCertificate.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "config/ACMEChallenge.h"
#include "config/HTTPConfiguration.h"
#include "http/Dates.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Program.h"
#include "platform/TLSContext.h"
#include "platform/Threads.h"
#include "server/HTTPServer.h"

namespace {

// The helper, looked up in the server's PATH, and the hook it calls for
// each challenge: beside the server in a build, in the package's private
// folder when installed.
constexpr const char* kHelper = "uacme";
constexpr const char* kHook = "varevavo-acme-hook";
// An authority answers within seconds; a helper still busy after this long
// is stuck, and the try counts as failed.
constexpr int64_t kHelperLimitSeconds = 600;
// How often a waiting helper is checked for a stop of the server.
constexpr unsigned long kStopPollMs = 250;
// Exit code of a helper that could not be started at all.
constexpr int kNotStarted = -2;

std::string HelperFolder() { return platform::HostPath(ACMEChallenge::kFolder); }

bool Exists(const std::string& hostPath) {
    platform::FileInfo info;
    return platform::GetFileInfo(hostPath, &info) && !info.directory;
}

// A note of ours beside the helper's files; one that cannot be written
// only costs a needless try later.
void WriteNote(const std::string& path, const std::string& text) {
    platform::File file;
    if (file.Open(path, platform::File::Mode::CreateAlways)) file.WriteAll(text.data(), text.size());
}

// What a certificate was obtained for: the authority and the names. Kept
// beside it, so that a setup that names another authority or other names
// gets a new certificate at once instead of at the next renewal.
std::string IssueNotePath(const std::string& name) { return HelperFolder() + "/" + name + "/issued-for"; }
std::string IssueNote(const HTTPConfiguration& config, const std::vector<std::string>& names) {
    std::string note = config.ACMEDirectory + "\n";
    for (const std::string& name : names) note += name + "\n";
    return note;
}

std::string HookPath() {
    const std::string directory = platform::ProgramDirectory();
    for (const char* folder : {"/", "/../lib/varevavo/"}) {
        const std::string path = directory + folder + kHook;
        if (Exists(path)) return path;
    }
    return {};
}

std::string Trimmed(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    return std::string(text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1));
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// A DNS name (a wildcard allowed) or an address: it becomes an argument of
// the helper and a folder name, so nothing that could pass for an option or
// lead out of the helper's folder.
bool IsCertificateName(std::string_view name) {
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '*' || c == ':';
    };
    return !name.empty() && name.size() <= 253 && name[0] != '-' && name[0] != '.' &&
           name.find("..") == std::string_view::npos && std::all_of(name.begin(), name.end(), allowed);
}

int64_t RenewAfterFromEnvironment() {
    const char* value = std::getenv("VAREVAVO_ACME_RENEW_AFTER");
    return value ? std::max<int64_t>(0, std::atoll(value)) : 0;
}

}  // namespace

int64_t AutoCertificate::RenewalTime(int64_t notBefore, int64_t notAfter) {
    return notAfter - std::max<int64_t>(0, notAfter - notBefore) / 3;
}

int64_t AutoCertificate::RetryDelay(int failures) {
    int64_t delay = kFirstRetry;
    for (int i = 1; i < failures && delay < kLongestRetry; ++i) delay *= 2;
    return std::min(delay, kLongestRetry);
}

std::vector<std::string> AutoCertificate::Names(const HTTPConfiguration& config) {
    std::vector<std::string> names;
    std::string_view list = config.ACMENames;
    while (!list.empty()) {
        const size_t comma = std::min(list.find(','), list.size());
        std::string name = Trimmed(list.substr(0, comma));
        if (IsCertificateName(name) && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    if (names.empty() && IsCertificateName(config.SiteAddress)) names.push_back(config.SiteAddress);
    return names;
}

std::string AutoCertificate::CertificatePath(const std::string& name) {
    return HelperFolder() + "/" + name + "/cert.pem";
}

std::string AutoCertificate::KeyPath(const std::string& name) {
    return HelperFolder() + "/private/" + name + "/key.pem";
}

std::string AutoCertificate::Reason(const std::string& output) {
    std::string reason, last;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = Trimmed(std::string_view(output).substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        last = line;
        // uacme says what failed on lines of its own name, and repeats the
        // authority's problem document (type and detail) as it came.
        if (line.find("\"detail\"") != std::string::npos || line.find("\"type\"") != std::string::npos ||
            line.starts_with("uacme:"))
            reason += (reason.empty() ? "" : " ") + line;
    }
    return reason.empty() ? last : reason;
}

AutoCertificate::AutoCertificate(HTTPServer& server) : server_(server), renewAfter_(RenewAfterFromEnvironment()) {}

AutoCertificate::~AutoCertificate() { Stop(); }

void AutoCertificate::Update() {
    const auto config = server_.Snapshot();
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return;
    woken_ = true;
    wake_.notify_all();
    if (!thread_.joinable() && config->AutoCertificate && config->UseTLS) thread_ = std::thread([this] { Run(); });
}

void AutoCertificate::Stop() {
    std::thread work;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        nextRenewal_ = 0;
        wake_.notify_all();
        work = std::move(thread_);
    }
    if (work.joinable()) work.join();
}

std::string AutoCertificate::StateText() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_ || nextRenewal_ == 0) return {};
    return "Certificate renewal:          " + gm_timestr_822(static_cast<long>(nextRenewal_)) + "\n" +
           "Certificate error:            " + (lastError_.empty() ? "none" : lastError_) + "\n";
}

std::string AutoCertificate::StatusLine() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_ || nextRenewal_ == 0) return {};
    return "Certificate: next renewal " + gm_timestr_822(static_cast<long>(nextRenewal_)) +
           (lastError_.empty() ? "" : "; last error: " + lastError_);
}

bool AutoCertificate::SleepUntil(int64_t deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto until = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(deadline));
    wake_.wait_until(guard, until, [this] { return stopping_ || woken_; });
    return !stopping_;
}

void AutoCertificate::Run() {
    platform::SetCurrentThreadName("certificates");
    int failures = 0;
    int64_t retryAt = 0;
    int64_t foundAt = platform::UnixTimeNow();
    int64_t lastIssued = 0;
    for (;;) {
        {
            // A reload (another authority, other names, a fix) earns a try now.
            std::lock_guard<std::mutex> guard(lock_);
            if (woken_) retryAt = 0;
            woken_ = false;
        }
        const auto config = server_.Snapshot();
        const int64_t now = platform::UnixTimeNow();
        const std::vector<std::string> names = Names(*config);
        if (!config->AutoCertificate || !config->UseTLS || names.empty()) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                nextRenewal_ = 0;
            }
            if (!SleepUntil(now + kCheckInterval)) return;
            continue;
        }
        int64_t due = now, notBefore = 0, notAfter = 0;
        if (platform::TLSContext::CertificateValidity(CertificatePath(names[0]), &notBefore, &notAfter)) {
            std::string note;
            if (platform::ReadWholeFile(IssueNotePath(names[0]), &note) && note == IssueNote(*config, names))
                due = renewAfter_ ? foundAt + renewAfter_ : RenewalTime(notBefore, notAfter);
        }
        due = std::max(due, retryAt);
        {
            std::lock_guard<std::mutex> guard(lock_);
            nextRenewal_ = due;
        }
        if (now < due) {
            if (!SleepUntil(std::min(due, now + (renewAfter_ ? renewAfter_ : kCheckInterval)))) return;
            continue;
        }
        // The helper keeps the certificate it replaces under a name made of
        // the second it does so: a second issue within that second would fail.
        while (platform::UnixTimeNow() <= lastIssued) platform::SleepMilliseconds(kStopPollMs / 5);
        std::string reason;
        if (Obtain(*config, names, &reason)) {
            failures = 0;
            retryAt = 0;
            foundAt = lastIssued = platform::UnixTimeNow();
            {
                std::lock_guard<std::mutex> guard(lock_);
                lastError_.clear();
                helperMissing_ = false;
            }
            server_.LogError("Automatic certificate obtained for " + JoinNames(names), nullptr);
            server_.LoadCertificate(false);
            server_.RequestTitleUpdate();
            continue;
        }
        bool missing;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) return;
            missing = reason.empty();
            if (missing) {
                // Said once: the pair in force serves on, and installing the
                // helper then reloading tries again.
                reason = std::string("the ACME helper ") + kHelper + " or its hook " + kHook +
                         " is missing (install the uacme package); the certificate in force goes on serving";
                if (helperMissing_) reason.clear();
                helperMissing_ = true;
                lastError_ = "the ACME helper is missing";
            } else {
                lastError_ = reason;
            }
        }
        if (missing) {
            retryAt = now + kCheckInterval;
            if (!reason.empty()) server_.LogError("Automatic certificate: " + reason, nullptr);
        } else {
            ++failures;
            retryAt = platform::UnixTimeNow() + RetryDelay(failures);
            server_.LogError("Automatic certificate for " + JoinNames(names) + " not obtained: " + reason +
                                 "; next try in " + std::to_string(RetryDelay(failures)) + " s",
                             nullptr);
        }
        server_.RequestTitleUpdate();
    }
}

bool AutoCertificate::Obtain(const HTTPConfiguration& config, const std::vector<std::string>& names,
                             std::string* reason) {
    const std::string folder = HelperFolder();
    const std::string hook = HookPath();
    reason->clear();
    if (hook.empty()) return false;
    platform::MakeDirectories(folder, 0700);
    std::vector<std::string> common = {"-c", folder, "-t", "EC", "-y"};
    if (!config.ACMEDirectory.empty()) common.insert(common.end(), {"-a", config.ACMEDirectory});

    // The account: made once per authority and contact, remembered by a
    // note beside the helper's keys.
    const std::string accountNote = folder + "/account";
    const std::string account = config.ACMEDirectory + "\n" + config.ACMEEmail + "\n";
    std::string noted, output;
    if (!platform::ReadWholeFile(accountNote, &noted) || noted != account) {
        std::vector<std::string> arguments = common;
        arguments.push_back("new");
        if (!config.ACMEEmail.empty()) arguments.push_back(config.ACMEEmail);
        int code = RunHelper(arguments, &output);
        if (code == kNotStarted) return false;
        // A key the authority knows already: the contact is brought up to date.
        if (code != 0 && Exists(folder + "/private/key.pem")) {
            arguments[arguments.size() - (config.ACMEEmail.empty() ? 1 : 2)] = "update";
            std::string again;
            code = RunHelper(arguments, &again);
            if (code != 0) output += again;
        }
        if (code != 0) {
            *reason = "account not made: " + Reason(output);
            return false;
        }
        WriteNote(accountNote, account);
    }

    // Due by our own rule: the helper is told to issue whatever it thinks of
    // the certificate's dates (-f), and not to ask about revocation (-o).
    std::vector<std::string> arguments = common;
    arguments.insert(arguments.end(), {"-h", hook, "-o", "-f", "issue"});
    arguments.insert(arguments.end(), names.begin(), names.end());
    const int code = RunHelper(arguments, &output);
    if (code == kNotStarted) return false;
    if (code != 0 || !Exists(CertificatePath(names[0]))) {
        *reason = Reason(output);
        if (reason->empty()) *reason = "the helper ended with status " + std::to_string(code);
        return false;
    }
    WriteNote(IssueNotePath(names[0]), IssueNote(config, names));
    // The helper makes its keys private itself; this holds whatever umask
    // or copy made them otherwise.
    for (const std::string& key : {KeyPath(names[0]), folder + "/private/key.pem"}) {
        std::error_code ignored;
        std::filesystem::permissions(key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     ignored);
    }
    return true;
}

int AutoCertificate::RunHelper(const std::vector<std::string>& arguments, std::string* output) {
    output->clear();
    const std::string log = platform::CreateTempFile();
    if (log.empty()) {
        *output = "no temporary file for the helper's output";
        return -1;
    }
    platform::ChildStart start;
    start.arguments.push_back(kHelper);
    start.arguments.insert(start.arguments.end(), arguments.begin(), arguments.end());
    start.output = log;
    start.errorToOutput = true;
    platform::ChildProcess child;
    int code = -1;
    if (!child.Start(start)) {
        platform::DeleteFile(log);
        if (child.LastError() == 2) return kNotStarted;
        *output = "cannot start " + std::string(kHelper) + ": error " + std::to_string(child.LastError());
        return -1;
    }
    const int64_t limit = platform::UnixTimeNow() + kHelperLimitSeconds;
    for (;;) {
        if (child.Wait(kStopPollMs)) {
            code = child.ExitCode();
            break;
        }
        bool stopping;
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping = stopping_;
        }
        if (stopping || platform::UnixTimeNow() > limit) {
            child.Terminate();
            *output = "the helper was stopped after running too long; ";
            break;
        }
    }
    std::string text;
    platform::ReadWholeFile(log, &text);
    platform::DeleteFile(log);
    *output += text;
    return code;
}
