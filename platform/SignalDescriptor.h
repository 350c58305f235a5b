#pragma once
// The signals a Unix user sends a server in the foreground: interrupt,
// terminate, hang-up and user 1, taken as events instead of ending the
// process. The constructor blocks the four for the whole process, so it
// must run before any other thread starts (threads inherit the mask); they
// then queue on a descriptor that the program's own loop watches, and no
// code ever runs in a signal handler.

#include <memory>

namespace platform {

class SignalDescriptor {
public:
    enum class Kind { None, Interrupt, Terminate, Hangup, User1 };

    SignalDescriptor();
    // Drops the signals still waiting, restores the signal mask and closes
    // the descriptor.
    ~SignalDescriptor();
    SignalDescriptor(const SignalDescriptor&) = delete;
    SignalDescriptor& operator=(const SignalDescriptor&) = delete;

    // Readable while a signal waits; -1 when none could be made (the
    // signals then keep their usual effect).
    int Descriptor() const { return fd_; }
    // The next waiting signal, without waiting; None when there is none.
    Kind Next();

private:
    struct SavedMask;  // the mask to restore
    std::unique_ptr<SavedMask> saved_;
    int fd_ = -1;
};

}  // namespace platform
