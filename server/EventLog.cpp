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

// Writes text with the bytes that mustEscape picks escaped: '"' and '\\'
// with a backslash before them, any other as \xHH.
template <typename Pick>
std::string EscapeBytes(std::string_view text, Pick mustEscape) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto picked = [&](char c) { return mustEscape(static_cast<unsigned char>(c)); };
    if (std::none_of(text.begin(), text.end(), picked)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!picked(c)) {
            out += c;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

}  // namespace

std::string EventLog::Sanitize(std::string_view text) { return EscapeBytes(text, OutsidePrintable); }

std::string EventLog::Escape(std::string_view text, bool blanks) {
    return EscapeBytes(text, [blanks](unsigned char u) {
        return OutsidePrintable(u) || u == '"' || u == '\\' || (blanks && u == ' ');
    });
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

void EventLog::LogAsIs(std::string_view text) { WriteLine(Sanitize(text)); }

void EventLog::Log(std::string_view text) {
    std::tm now{};
    platform::BreakDownTime(platform::UnixTimeNow(), false, &now);
    std::string line = platform::FormatTime("%a %b %e %H:%M:%S %Y", now);
    line += ' ';
    line += Sanitize(text);
    WriteLine(std::move(line));
}
