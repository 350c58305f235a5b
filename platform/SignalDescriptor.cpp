#include "platform/SignalDescriptor.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {

struct SignalDescriptor::SavedMask {
    sigset_t mask;
};

SignalDescriptor::SignalDescriptor() : saved_(std::make_unique<SavedMask>()) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, signal);
    if (::pthread_sigmask(SIG_BLOCK, &set, &saved_->mask) != 0) {
        sigemptyset(&saved_->mask);
        return;
    }
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) ::pthread_sigmask(SIG_SETMASK, &saved_->mask, nullptr);
}

SignalDescriptor::~SignalDescriptor() {
    if (fd_ >= 0) {
        // A second signal that came while the program was ending (Control-C
        // reaches the whole process group, and a wrapper may pass it on as
        // well) would end the process the moment the mask is restored.
        while (Next() != Kind::None) {
        }
        ::close(fd_);
        ::pthread_sigmask(SIG_SETMASK, &saved_->mask, nullptr);
    }
}

SignalDescriptor::Kind SignalDescriptor::Next() {
    signalfd_siginfo info;
    while (fd_ >= 0 && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        switch (info.ssi_signo) {
            case SIGINT: return Kind::Interrupt;
            case SIGTERM: return Kind::Terminate;
            case SIGHUP: return Kind::Hangup;
            case SIGUSR1: return Kind::User1;
            default: break;
        }
    }
    return Kind::None;
}

}  // namespace platform
