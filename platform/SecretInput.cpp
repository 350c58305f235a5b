#include "platform/SecretInput.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace platform {
namespace {

// The terminal as it was before echo went off, for the signal handler: a
// program ended by Control-C must not leave its shell typing blind.
termios savedTerminal;
volatile sig_atomic_t terminalSaved = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreAndDie(int signal) {
    if (terminalSaved) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, "\n", 1);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Echo off (and the ending signals caught) for its lifetime.
class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
        struct sigaction action {};
        action.sa_handler = RestoreAndDie;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &action, &previous_[i]);
        terminalSaved = 1;
        termios quiet = savedTerminal;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (!terminalSaved) return;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        terminalSaved = 0;
        for (size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    struct sigaction previous_[std::size(kEndingSignals)] {};
};

// One line, byte by byte, so that nothing after it is taken from the input
// (the second line of a pipe belongs to the next call).
bool ReadLine(std::string* line) {
    line->clear();
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return any;
        any = true;
        if (c == '\n') break;
        line->push_back(c);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

}  // namespace

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }

bool ReadSecretLine(const std::string& prompt, std::string* line) {
    if (!InputIsTerminal()) return ReadLine(line);
    for (size_t done = 0; done < prompt.size();) {
        const ssize_t n = ::write(STDERR_FILENO, prompt.data() + done, prompt.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const EchoOff quiet;
    return ReadLine(line);
}

}  // namespace platform
