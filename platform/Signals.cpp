#include "platform/Signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

// The two signals are blocked and read from a descriptor, never handled
// asynchronously: a wait for input watches both, so an interrupt that
// arrives at any moment ends the current or the next wait, and nothing runs
// in a signal handler.
int signalFd = -1;
bool interrupted = false;

bool ConsumeSignal() {
    signalfd_siginfo info;
    if (signalFd >= 0 && ::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) interrupted = true;
    return interrupted;
}

}  // namespace

bool CatchInterrupts() {
    sigset_t caught;
    sigemptyset(&caught);
    sigaddset(&caught, SIGINT);
    sigaddset(&caught, SIGTERM);
    sigset_t previous;
    if (::sigprocmask(SIG_BLOCK, &caught, &previous) != 0) return false;
    signalFd = ::signalfd(-1, &caught, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        return false;
    }
    return true;
}

bool InterruptRequested() { return interrupted || ConsumeSignal(); }

long ReadStandardInput(void* buffer, size_t size) {
    for (;;) {
        if (InterruptRequested()) return -1;
        if (signalFd >= 0) {
            pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {signalFd, POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 && errno != EINTR) return -1;
            if (waits[1].revents & POLLIN) continue;  // the loop's test reads it
        }
        const ssize_t count = ::read(STDIN_FILENO, buffer, size);
        if (count >= 0) return static_cast<long>(count);
        if (errno != EINTR && errno != EAGAIN) return -1;
    }
}

}  // namespace platform
