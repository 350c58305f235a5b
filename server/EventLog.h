#pragma once
// One append-only text log. Many threads write at once; a line is never
// split, and a line from another process appending to the same file never
// lands in the middle of ours.
//
// Writes are grouped: a thread that finds no write in flight writes every
// line waiting, and one that finds a write in flight leaves its lines to
// that writer. An idle server thus writes each line at once, and a busy one
// writes many lines with one system call. A thread serving batches of
// requests keeps its lines in a Batch of its own until it ends the batch
// (Batch::Flush), once the batch's answers have left. Nothing waiting is
// lost on a flush, a stop or a reopen.
//
// A line is written whole or not at all. When the disk is full, the lines
// that cannot be written are counted and dropped: the operator is told once
// on standard error when it starts, and when writing works again one line of
// the log named by ReportLossesTo says how many were lost.
//
// Every line ends in exactly one CR LF. Text that may come from a client (a
// request line, a Referer, a user name, a decoded URL in a message) goes
// into a line through Escape, so that no client can forge or merge lines or
// fields; as a last guard, every line is written with its control bytes and
// bytes above 0x7E as \xHH.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/File.h"

class EventLog {
public:
    // The lines one thread keeps for any number of logs until it flushes
    // them. Owned and used by that thread alone; it must be flushed (or
    // destroyed, which flushes) before the logs it names are destroyed.
    class Batch {
    public:
        Batch() = default;
        ~Batch() { Flush(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        // Writes what is kept, log by log.
        void Flush();

    private:
        friend class EventLog;
        std::vector<std::pair<EventLog*, std::string>> kept_;  // per log, its lines with their CR LF
    };

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
    // Each writer below keeps its line in batch when one is given, and
    // writes it at once otherwise.
    // Writes the current local time in the 24-character ctime form, a
    // blank and the text (the referrer log's lines).
    void Log(std::string_view text, Batch* batch = nullptr);
    // Writes the text as one line (access, error and trace logs).
    void LogAsIs(std::string_view text, Batch* batch = nullptr);
    // Writes a line whose every piece is printable already (built with
    // Escape and known text): LogAsIs without the second look at each byte.
    void LogEscaped(std::string&& line, Batch* batch = nullptr);
    // The lines batch keeps for this log, to which a writer appends a line
    // whose every piece is printable already and then its CR LF: LogEscaped
    // without a string (and its memory) of the line's own.
    std::string* BatchLines(Batch* batch);
    bool IsOpen();
    // Where this log tells of the lines it lost once writing works again:
    // a line made by line from the message, written to log at once (never
    // kept in a batch). None by default.
    void ReportLossesTo(EventLog* log, std::string (*line)(const std::string& message));

    // The text with control bytes and bytes above 0x7E written as \xHH.
    static std::string Sanitize(std::string_view text);
    // A piece of a line: '"' and '\\' get a backslash before them (\" and
    // \\), every byte outside 0x20..0x7E becomes \xHH, and with blanks the
    // space too (\x20, for fields that spaces delimit). Such a piece cannot
    // end its field, open or close a quoted one, pass for an escape, or send
    // a terminal a control sequence (0x9B is one).
    static std::string Escape(std::string_view text, bool blanks = false);
    // Escape's text appended to *out.
    static void AppendEscaped(std::string* out, std::string_view text, bool blanks = false);

private:
    // What a write of lines brought about that must be told once the lock
    // is released.
    struct Notice {
        std::string toOperator;  // for standard error: lines began to be lost
        std::string lossLine;    // for the report log: writing works again
        EventLog* reportTo = nullptr;
    };

    void WriteLine(std::string&& line, Batch* batch);
    // Writes lines (whole, each with its CR LF) to file_, leaving no part of
    // a line behind when the disk takes only some, and keeps count of the
    // lines lost. lock is held on entry and on return; it is released
    // during the write when unlockWhileWriting (a writer in flight keeps
    // file_ open meanwhile).
    void WriteOut(std::string_view lines, std::unique_lock<std::mutex>& lock, bool unlockWhileWriting,
                  Notice* notice);
    static void Tell(Notice& notice);
    // Writes what waits and closes the file; lock_ is held.
    void WriteAndClose(std::unique_lock<std::mutex>& lock, Notice* notice);
    // Appends lines (whole, each with its CR LF) and writes them unless a
    // write is in flight.
    void Write(std::string_view lines);
    // Waits until no write is in flight; lock_ is held.
    void WaitForWriter(std::unique_lock<std::mutex>& lock);

    std::mutex lock_;  // guards everything below
    std::condition_variable writerDone_;
    std::string path_;
    platform::File file_;
    std::string pending_;   // lines waiting for the writer
    bool writing_ = false;  // a write of file_ is in flight (outside the lock)
    uint64_t lost_ = 0;       // lines lost since writing last worked
    std::string lossReason_;  // why the first of them was lost
    EventLog* reportTo_ = nullptr;
    std::string (*reportLine_)(const std::string&) = nullptr;
};
