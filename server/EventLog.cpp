#include "server/EventLog.h"

#include <algorithm>

#include "platform/Clock.h"

EventLog::~EventLog() { StopLogFile(); }

int EventLog::StartLogFile(const char* path) {
    StopLogFile();
    std::lock_guard<std::mutex> guard(lock_);
    path_.assign(path ? path : "");
    if (path_.size() > 259) path_.resize(259);
    return file_.Open(path_, platform::File::Mode::Append) ? 1 : 0;
}

void EventLog::FlushLogFile() {
    std::lock_guard<std::mutex> guard(lock_);
    if (file_.IsOpen()) file_.Flush();
}

void EventLog::StopLogFile() {
    std::lock_guard<std::mutex> guard(lock_);
    file_.Close();
}

bool EventLog::IsOpen() {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.IsOpen();
}

namespace {

bool OutsidePrintable(unsigned char u) { return u < 0x20 || u > 0x7e; }

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
    std::lock_guard<std::mutex> guard(lock_);
    if (file_.IsOpen()) file_.WriteAll(line.data(), line.size());
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
