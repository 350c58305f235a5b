#pragma once
// What a foreground console program waits for: the signals a Unix user
// sends it (interrupt, terminate, hang-up, user 1), key presses when
// standard input is a terminal, and wake-ups posted by other threads.
//
// The constructor blocks those four signals for the whole process, so it
// must run before any other thread starts (threads inherit the mask); they
// are then delivered only through Wait, never to a worker thread.

#include <memory>
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
    // Rewrites the terminal's current line with text.
    void ShowStatusLine(const std::string& text);
    // Writes a line of text on standard output.
    static void PrintLine(const std::string& text);

private:
    SignalDescriptor signals_;
    struct Saved;  // the terminal settings to restore
    std::unique_ptr<Saved> saved_;
    int wakeFd_ = -1;
    bool terminal_ = false;
};

}  // namespace platform
