#pragma once
// Readiness of many descriptors at once, through the kernel's event poll,
// and a wake-up event that another thread can signal. Only net/ uses them:
// it owns every descriptor it registers.
//
// Interest is level-triggered: a descriptor that stays readable is reported
// again at the next wait, so a reader may take one chunk per report.

#include <cstdint>

namespace platform::net {

class Poller {
public:
    // What a registration waits for.
    enum Interest : unsigned {
        Readable = 1,
        Writable = 2,
        // Of several pollers waiting on one descriptor (a listener shared by
        // every loop), only one is woken.
        Exclusive = 4,
    };
    struct Event {
        void* tag = nullptr;
        bool readable = false;
        bool writable = false;
        // An error, or the connection shut down in both directions (a reset
        // from a flush): the next transfer on the descriptor fails.
        bool hangup = false;
    };

    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // 0, or -1 with the thread's last socket error.
    int Add(int descriptor, unsigned interest, void* tag);
    int Modify(int descriptor, unsigned interest, void* tag);
    int Remove(int descriptor);
    // Waits up to timeoutMs (-1: without limit) and stores at most max
    // events. The number stored; 0 on time-out or interruption; -1 on error.
    int Wait(Event* events, int max, int timeoutMs);

private:
    int fd_ = -1;
};

// A counter in the kernel that makes its descriptor readable while it is
// non-zero: one thread signals, the thread polling the descriptor wakes.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Handle() const { return fd_; }
    // Safe from any thread; signals given before the poll are not lost.
    void Signal();
    // Resets the counter (the polling thread, after it woke).
    void Clear();

private:
    int fd_ = -1;
};

// The number of processors this process may run on (at least 1).
int ProcessorCount();

// Raises the soft limit of open descriptors to the hard limit, so a server
// with many connections and cached files does not run out early.
void RaiseDescriptorLimit();

}  // namespace platform::net
