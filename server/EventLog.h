#pragma once
// One append-only text log with a lock of its own. Many worker threads
// write at once; each line is one write under the lock, so lines never
// interleave, and a line from another process appending to the same file
// never lands in the middle of ours.
//
// Every line ends in exactly one CR LF, and control bytes in the text (which
// may come from a client: a request line, a Referer, a decoded URL) are
// written as \xHH, so that no client can forge or merge log lines.

#include <mutex>
#include <string>
#include <string_view>

#include "platform/File.h"

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Closes the log if open, then opens path (a server path; at most 259
    // characters are kept) for appending, creating it when missing. 1 on
    // success, 0 on failure (the log then stays closed).
    int StartLogFile(const char* path);
    // Forces written lines to the disk.
    void FlushLogFile();
    // Closes the log; a line being written is finished first.
    void StopLogFile();
    // Writes the current local time in the 24-character ctime form, a
    // blank and the text (the referrer log's lines).
    void Log(std::string_view text);
    // Writes the text as one line (access, error and trace logs).
    void LogAsIs(std::string_view text);
    bool IsOpen();

    // The text with control bytes written as \xHH.
    static std::string Sanitize(std::string_view text);

private:
    void WriteLine(std::string&& line);

    std::mutex lock_;       // guards file_ and path_: opening, closing and every write
    std::string path_;
    platform::File file_;
};
