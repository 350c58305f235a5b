#pragma once
// One append-only text log with a lock of its own. Many worker threads
// write at once; each line is one write under the lock, so lines never
// interleave, and a line from another process appending to the same file
// never lands in the middle of ours.
//
// Every line ends in exactly one CR LF. Text that may come from a client (a
// request line, a Referer, a user name, a decoded URL in a message) goes
// into a line through Escape, so that no client can forge or merge lines or
// fields; as a last guard, every line is written with its control bytes and
// bytes above 0x7E as \xHH.

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

    // The text with control bytes and bytes above 0x7E written as \xHH.
    static std::string Sanitize(std::string_view text);
    // A piece of a line: '"' and '\\' get a backslash before them (\" and
    // \\), every byte outside 0x20..0x7E becomes \xHH, and with blanks the
    // space too (\x20, for fields that spaces delimit). Such a piece cannot
    // end its field, open or close a quoted one, pass for an escape, or send
    // a terminal a control sequence (0x9B is one).
    static std::string Escape(std::string_view text, bool blanks = false);

private:
    void WriteLine(std::string&& line);

    std::mutex lock_;       // guards file_ and path_: opening, closing and every write
    std::string path_;
    platform::File file_;
};
