#include "platform/ConsoleEvents.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

struct ConsoleEvents::Saved {
    termios terminal;
    bool terminalSaved = false;
};

ConsoleEvents::ConsoleEvents() : saved_(std::make_unique<Saved>()) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    terminal_ = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    if (terminal_) {
        if (::tcgetattr(STDIN_FILENO, &saved_->terminal) == 0) {
            saved_->terminalSaved = true;
            termios t = saved_->terminal;
            t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            t.c_cc[VMIN] = 1;
            t.c_cc[VTIME] = 0;
            ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
        }
    }
}

ConsoleEvents::~ConsoleEvents() {
    if (saved_->terminalSaved) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_->terminal);
        WriteAll(STDOUT_FILENO, "\n");
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ConsoleEvents::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

ConsoleEvents::Event ConsoleEvents::Wait(int timeoutMs, bool wakes) {
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {signals_.Descriptor(), POLLIN, 0};
    const nfds_t wakeSlot = wakes ? count++ : 99;
    if (wakes) fds[wakeSlot] = {wakeFd_, POLLIN, 0};
    const nfds_t keySlot = terminal_ ? count++ : 99;
    if (terminal_) fds[keySlot] = {STDIN_FILENO, POLLIN, 0};
    Event event;
    const int r = ::poll(fds, count, timeoutMs);
    if (r <= 0) return event;
    if (fds[0].revents & POLLIN) {
        switch (signals_.Next()) {
            case SignalDescriptor::Kind::Interrupt: event.kind = Kind::Interrupt; return event;
            case SignalDescriptor::Kind::Terminate: event.kind = Kind::Terminate; return event;
            case SignalDescriptor::Kind::Hangup: event.kind = Kind::Hangup; return event;
            case SignalDescriptor::Kind::User1: event.kind = Kind::User1; return event;
            case SignalDescriptor::Kind::None: break;
        }
    }
    if (terminal_ && (fds[keySlot].revents & (POLLIN | POLLHUP))) {
        char c;
        if (::read(STDIN_FILENO, &c, 1) == 1) {
            event.kind = Kind::Key;
            event.key = c;
            return event;
        }
        terminal_ = false;  // the terminal went away: stop listening to it
    }
    if (wakes && (fds[wakeSlot].revents & POLLIN)) {
        uint64_t value;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &value, sizeof value);
        event.kind = Kind::Wake;
    }
    return event;
}

void ConsoleEvents::ShowStatusLine(const std::string& text) {
    std::lock_guard<std::mutex> guard(lineLock_);
    status_ = text;
    WriteAll(STDOUT_FILENO, "\r" + text + "\x1b[K");
}

void ConsoleEvents::Say(const std::string& text, bool error) {
    std::lock_guard<std::mutex> guard(lineLock_);
    // The status line has no line end, so the text would run into it: it
    // gives way to the text and comes back below it.
    if (!status_.empty()) WriteAll(STDOUT_FILENO, "\r\x1b[K");
    WriteAll(error ? STDERR_FILENO : STDOUT_FILENO, text + "\n");
    if (!status_.empty()) WriteAll(STDOUT_FILENO, status_ + "\x1b[K");
}

void ConsoleEvents::PrintLine(const std::string& text) { WriteAll(STDOUT_FILENO, text + "\n"); }

}  // namespace platform
