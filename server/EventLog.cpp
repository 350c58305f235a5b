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

std::string EventLog::Sanitize(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    if (std::none_of(text.begin(), text.end(), isControl)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
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
