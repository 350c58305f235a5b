#pragma once
// What a foreground console program waits for: the signals a Unix user
// sends it (interrupt, terminate, hang-up, user 1), key presses when
// standard input is a terminal, and wake-ups posted by other threads.
//
// The constructor blocks those four signals for the whole process, so it
// must run before any other thread starts (threads inherit the mask); they
// are then delivered only through Wait, never to a worker thread.

#include <memory>
#include <mutex>
#include <string>

#include "platform/SignalDescriptor.h"

namespace platform {

class ConsoleEvents {
public:
    enum class Kind { Timeout, Interrupt, Terminate, Hangup, User1, Key, Wake };
    struct Event {
        Kind kind = Kind::Timeout;
        char key = 0;
    };

    ConsoleEvents();
    // Restores the terminal and the signal mask.
    ~ConsoleEvents();
    ConsoleEvents(const ConsoleEvents&) = delete;
    ConsoleEvents& operator=(const ConsoleEvents&) = delete;

    // True when standard input and output are a terminal; key presses then
    // arrive one by one, without echo (Control-C still interrupts).
    bool IsTerminal() const { return terminal_; }
    // Posts a wake-up; safe from any thread, cheap, never blocks.
    void Wake();
    // The next event, or Timeout after timeoutMs (-1: no limit). With
    // wakes false, posted wake-ups wait for a later call.
    Event Wait(int timeoutMs, bool wakes = true);
    // Rewrites the terminal's current line with text, the status line,
    // which stays there without a line end.
    void ShowStatusLine(const std::string& text);
    // Writes a line of text on standard output, or with error on standard
    // error, on a line of its own: a status line shown gives way to it and
    // is shown again below. Safe from any thread.
    void Say(const std::string& text, bool error = false);
    // Writes a line of text on standard output, for a program that shows
    // no status line.
    static void PrintLine(const std::string& text);

private:
    SignalDescriptor signals_;
    struct Saved;  // the terminal settings to restore
    std::unique_ptr<Saved> saved_;
    std::mutex lineLock_;  // guards status_ and orders every write of a status line or a said line
    std::string status_;   // the status line shown last, empty while none is
    int wakeFd_ = -1;
    bool terminal_ = false;
};

}  // namespace platform
