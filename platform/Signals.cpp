#include "platform/Signals.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t interrupted = 0;
sigset_t waitMask;  // the mask while waiting for input: the caught signals open
bool catching = false;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

bool CatchInterrupts() {
    sigset_t caught;
    sigemptyset(&caught);
    sigaddset(&caught, SIGINT);
    sigaddset(&caught, SIGTERM);
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait must end
    sigset_t previous;
    if (::sigprocmask(SIG_BLOCK, &caught, &previous) != 0) return false;
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0) {
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        return false;
    }
    waitMask = previous;
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    catching = true;
    return true;
}

bool InterruptRequested() { return interrupted != 0; }

long ReadStandardInput(void* buffer, size_t size) {
    for (;;) {
        if (interrupted) return -1;
        if (catching) {
            // pselect opens the signals only for the wait itself, so an
            // interrupt either ends it or was seen just above.
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(STDIN_FILENO, &readable);
            if (::pselect(STDIN_FILENO + 1, &readable, nullptr, nullptr, nullptr, &waitMask) < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
        }
        const ssize_t count = ::read(STDIN_FILENO, buffer, size);
        if (count >= 0) return static_cast<long>(count);
        if (errno != EINTR && errno != EAGAIN) return -1;
    }
}

}  // namespace platform
