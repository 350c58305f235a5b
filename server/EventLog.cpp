#include "server/EventLog.h"

#include <algorithm>
#include <vector>

#include "http/Characters.h"
#include "platform/Clock.h"

namespace {

// The lines a batching thread keeps, per log (a server has four).
struct ThreadBatch {
    bool on = false;
    std::vector<std::pair<EventLog*, std::string>> kept;
};
thread_local ThreadBatch batch;

}  // namespace

EventLog::~EventLog() { StopLogFile(); }

void EventLog::WaitForWriter(std::unique_lock<std::mutex>& lock) {
    writerDone_.wait(lock, [this] { return !writing_; });
}

int EventLog::StartLogFile(const char* path) {
    StopLogFile();
    std::unique_lock<std::mutex> lock(lock_);
    WaitForWriter(lock);
    path_.assign(path ? path : "");
    if (path_.size() > 259) path_.resize(259);
    return file_.Open(path_, platform::File::Mode::Append) ? 1 : 0;
}

void EventLog::FlushLogFile() {
    std::unique_lock<std::mutex> lock(lock_);
    WaitForWriter(lock);
    if (!file_.IsOpen()) return;
    file_.WriteAll(pending_.data(), pending_.size());
    pending_.clear();
    file_.Flush();
}

void EventLog::StopLogFile() {
    std::unique_lock<std::mutex> lock(lock_);
    WaitForWriter(lock);
    if (file_.IsOpen()) file_.WriteAll(pending_.data(), pending_.size());
    pending_.clear();
    file_.Close();
}

bool EventLog::IsOpen() {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.IsOpen();
}

void EventLog::BeginBatching(bool on) {
    if (!on) FlushBatch();
    batch.on = on;
}

void EventLog::FlushBatch() {
    for (auto& [log, lines] : batch.kept) {
        if (lines.empty()) continue;
        log->Write(lines);
        lines.clear();
    }
}

void EventLog::Write(std::string_view lines) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!file_.IsOpen()) return;
    pending_.append(lines);
    if (writing_) return;  // the writer in flight takes them with its own
    writing_ = true;
    std::string out;
    while (!pending_.empty() && file_.IsOpen()) {
        out.swap(pending_);
        pending_.clear();
        // The file stays open meanwhile: closing and reopening wait for the writer.
        lock.unlock();
        file_.WriteAll(out.data(), out.size());
        out.clear();
        lock.lock();
    }
    writing_ = false;
    lock.unlock();
    writerDone_.notify_all();
}

namespace {

// What each byte is, for the escapes: every log line goes through them.
enum ByteClass : unsigned char { kUnprintable = 1, kQuoting = 2, kBlank = 4 };
constexpr struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of{} {
        for (int u = 0; u < 256; ++u)
            of[u] = static_cast<unsigned char>((OutsidePrintable(static_cast<unsigned char>(u)) ? kUnprintable : 0) |
                                               (u == '"' || u == '\\' ? kQuoting : 0) | (u == ' ' ? kBlank : 0));
    }
} kBytes;

// Appends text with the bytes of the classes in mask escaped: '"' and '\\'
// with a backslash before them, any other as \xHH. Runs of bytes that need
// nothing are appended whole.
void AppendEscapedBytes(std::string* out, std::string_view text, unsigned char mask) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(text[i]);
        if (!(kBytes.of[u] & mask)) continue;
        out->append(text.data() + run, i - run);
        run = i + 1;
        if (u == '"' || u == '\\') {
            const char pair[] = {'\\', text[i]};
            out->append(pair, sizeof pair);
        } else {
            const char hex[] = {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
            out->append(hex, sizeof hex);
        }
    }
    out->append(text.data() + run, text.size() - run);
}

}  // namespace

std::string EventLog::Sanitize(std::string_view text) {
    std::string out;
    AppendEscapedBytes(&out, text, kUnprintable);
    return out;
}

std::string EventLog::Escape(std::string_view text, bool blanks) {
    std::string out;
    AppendEscaped(&out, text, blanks);
    return out;
}

void EventLog::AppendEscaped(std::string* out, std::string_view text, bool blanks) {
    AppendEscapedBytes(out, text, static_cast<unsigned char>(kUnprintable | kQuoting | (blanks ? kBlank : 0)));
}

void EventLog::WriteLine(std::string&& line) {
    line += "\r\n";
    if (!batch.on) {
        Write(line);
        return;
    }
    for (auto& [log, lines] : batch.kept) {
        if (log != this) continue;
        lines += line;
        return;
    }
    batch.kept.emplace_back(this, std::move(line));
}

void EventLog::LogAsIs(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);  // and the line end
    AppendEscapedBytes(&line, text, kUnprintable);
    WriteLine(std::move(line));
}

void EventLog::LogEscaped(std::string&& line) { WriteLine(std::move(line)); }

void EventLog::Log(std::string_view text) {
    std::tm now{};
    platform::BreakDownTime(platform::UnixTimeNow(), false, &now);
    std::string line = platform::FormatTime("%a %b %e %H:%M:%S %Y", now);
    line += ' ';
    line += Sanitize(text);
    WriteLine(std::move(line));
}
