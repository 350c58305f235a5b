#include "server/EventLog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "http/Characters.h"
#include "platform/Clock.h"

EventLog::~EventLog() { StopLogFile(); }

void EventLog::WaitForWriter(std::unique_lock<std::mutex>& lock) {
    writerDone_.wait(lock, [this] { return !writing_; });
}

int EventLog::StartLogFile(const char* path) {
    Notice notice;
    int opened;
    {
        // Closing and opening happen under one hold of the lock: a line
        // written between them would find no file and be dropped.
        std::unique_lock<std::mutex> lock(lock_);
        WriteAndClose(lock, &notice);
        path_.assign(path ? path : "");
        if (path_.size() > 259) path_.resize(259);
        opened = file_.Open(path_, platform::File::Mode::Append) ? 1 : 0;
    }
    Tell(notice);
    return opened;
}

void EventLog::FlushLogFile() {
    Notice notice;
    {
        std::unique_lock<std::mutex> lock(lock_);
        WaitForWriter(lock);
        if (!file_.IsOpen()) return;
        WriteOut(pending_, lock, false, &notice);
        pending_.clear();
        file_.Flush();
    }
    Tell(notice);
}

void EventLog::StopLogFile() {
    Notice notice;
    {
        std::unique_lock<std::mutex> lock(lock_);
        WriteAndClose(lock, &notice);
    }
    Tell(notice);
}

void EventLog::WriteAndClose(std::unique_lock<std::mutex>& lock, Notice* notice) {
    WaitForWriter(lock);
    if (file_.IsOpen()) WriteOut(pending_, lock, false, notice);
    pending_.clear();
    file_.Close();
}

bool EventLog::IsOpen() {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.IsOpen();
}

void EventLog::ReportLossesTo(EventLog* log, std::string (*line)(const std::string& message)) {
    std::lock_guard<std::mutex> guard(lock_);
    reportTo_ = log;
    reportLine_ = line;
}

void EventLog::Batch::Flush() {
    for (auto& [log, lines] : kept_) {
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
    Notice notice;
    std::string out;
    while (!pending_.empty() && file_.IsOpen()) {
        out.swap(pending_);
        pending_.clear();
        // The file stays open meanwhile: closing and reopening wait for the writer.
        WriteOut(out, lock, true, &notice);
        out.clear();
    }
    writing_ = false;
    lock.unlock();
    writerDone_.notify_all();
    Tell(notice);
}

void EventLog::WriteOut(std::string_view lines, std::unique_lock<std::mutex>& lock, bool unlockWhileWriting,
                        Notice* notice) {
    if (lines.empty()) return;
    if (unlockWhileWriting) lock.unlock();
    std::string reason;
    const size_t written = file_.WriteAsMuch(lines.data(), lines.size(), &reason);
    uint64_t lost = 0;
    if (written < lines.size()) {
        // The disk took part of a line: it is cut off again (the file ends
        // where our write ended), so that the next line does not join it.
        const size_t whole = written < 2 ? std::string_view::npos : lines.rfind("\r\n", written - 2);
        const size_t kept = whole == std::string_view::npos ? 0 : whole + 2;
        const uint64_t torn = written - kept;
        const int64_t size = torn > 0 ? file_.Size() : -1;
        if (size >= static_cast<int64_t>(torn) && torn > 0) file_.Truncate(static_cast<uint64_t>(size) - torn);
        for (size_t at = lines.find("\r\n", kept); at != std::string_view::npos; at = lines.find("\r\n", at + 2))
            ++lost;
    }
    if (unlockWhileWriting) lock.lock();
    if (lost > 0) {
        if (lost_ == 0) {
            lossReason_ = reason;
            notice->toOperator = "Varevavo: cannot write the log " + path_ + " (" + reason +
                                 "): its lines are counted and dropped until it can be written again\n";
        }
        lost_ += lost;
    } else if (lost_ > 0) {
        if (reportTo_ && reportLine_) {
            notice->reportTo = reportTo_;
            notice->lossLine = reportLine_(std::to_string(lost_) + " lines could not be written to " + path_ + " (" +
                                           lossReason_ + ")");
            notice->lossLine += "\r\n";
        }
        lost_ = 0;
    }
}

void EventLog::Tell(Notice& notice) {
    if (!notice.toOperator.empty()) {
        std::fputs(notice.toOperator.c_str(), stderr);
        std::fflush(stderr);
    }
    if (notice.reportTo && !notice.lossLine.empty()) notice.reportTo->Write(notice.lossLine);
}

namespace {

// What each byte is, for the escapes: every log line goes through them.
enum ByteClass : unsigned char { kUnprintable = 1, kQuoting = 2, kBlank = 4 };
constexpr unsigned char kAllButBlanks = kUnprintable | kQuoting;
constexpr unsigned char kAll = kUnprintable | kQuoting | kBlank;
constexpr struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of{} {
        for (int u = 0; u < 256; ++u)
            of[u] = static_cast<unsigned char>((OutsidePrintable(static_cast<unsigned char>(u)) ? kUnprintable : 0) |
                                               (u == '"' || u == '\\' ? kQuoting : 0) | (u == ' ' ? kBlank : 0));
    }
} kBytes;

// Whether any of the 8 bytes at at is below 0x20, 0x7F or above, '"' or
// '\\' (blanks: or a blank), tested at once: most lines need no escape at
// all. A borrow from a byte that matches may mark the next one too, so a
// yes is checked byte by byte; a no is certain.
inline bool WordMayNeedEscape(const char* at, bool blanks) {
    const uint64_t word = WordAt(at);
    uint64_t hit = ((word - kByteOnes * (blanks ? 0x21 : 0x20)) & ~word) | word | (word + kByteOnes);
    hit |= ZeroBytes(word ^ (kByteOnes * '"')) | ZeroBytes(word ^ (kByteOnes * '\\'));
    return (hit & kByteHighs) != 0;
}

// Appends text with the bytes of the classes in mask escaped: '"' and '\\'
// with a backslash before them, any other as \xHH. Runs of bytes that need
// nothing are appended whole.
void AppendEscapedBytes(std::string* out, std::string_view text, unsigned char mask) {
    static const char kHex[] = "0123456789ABCDEF";
    const char* at = text.data();
    const char* const end = at + text.size();
    for (;;) {
        // The search for the next byte to escape touches nothing but the
        // text and the table, so it stays a tight loop.
        const char* const run = at;
        if (mask == kAllButBlanks || mask == kAll)
            while (end - at >= 8 && !WordMayNeedEscape(at, mask == kAll)) at += 8;
        while (at != end && !(kBytes.of[static_cast<unsigned char>(*at)] & mask)) ++at;
        out->append(run, static_cast<size_t>(at - run));
        if (at == end) return;
        const unsigned char u = static_cast<unsigned char>(*at++);
        if (u == '"' || u == '\\') {
            const char pair[] = {'\\', static_cast<char>(u)};
            out->append(pair, sizeof pair);
        } else {
            const char hex[] = {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
            out->append(hex, sizeof hex);
        }
    }
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

void EventLog::WriteLine(std::string&& line, Batch* batch) {
    line += "\r\n";
    if (!batch) {
        Write(line);
        return;
    }
    for (auto& [log, lines] : batch->kept_) {
        if (log != this) continue;
        lines += line;
        return;
    }
    batch->kept_.emplace_back(this, std::move(line));
}

std::string* EventLog::BatchLines(Batch* batch) {
    for (auto& [log, lines] : batch->kept_)
        if (log == this) return &lines;
    return &batch->kept_.emplace_back(this, std::string()).second;
}

void EventLog::LogAsIs(std::string_view text, Batch* batch) {
    std::string line;
    line.reserve(text.size() + 2);  // and the line end
    AppendEscapedBytes(&line, text, kUnprintable);
    WriteLine(std::move(line), batch);
}

void EventLog::LogEscaped(std::string&& line, Batch* batch) { WriteLine(std::move(line), batch); }

void EventLog::Log(std::string_view text, Batch* batch) {
    std::tm now{};
    platform::BreakDownTime(platform::UnixTimeNow(), false, &now);
    std::string line = platform::FormatTime("%a %b %e %H:%M:%S %Y", now);
    line += ' ';
    line += Sanitize(text);
    WriteLine(std::move(line), batch);
}
