#include "platform/Poller.h"

#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "platform/NetCalls.h"

namespace platform::net {

namespace {

uint32_t EventsOf(unsigned interest) {
    uint32_t events = 0;
    if (interest & Poller::Readable) events |= EPOLLIN;
    if (interest & Poller::Writable) events |= EPOLLOUT;
    // An exclusive wake takes no other flags.
    if (interest & Poller::Exclusive) events |= EPOLLEXCLUSIVE;
    else if (interest & Poller::Readable) events |= EPOLLRDHUP;
    return events;
}

int Failed() {
    SetLastError(errno == EBADF ? WSAEBADF : errno == ENOMEM ? WSAENOBUFS : WSAEINVAL);
    return -1;
}

}  // namespace

Poller::Poller() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

Poller::~Poller() {
    if (fd_ >= 0) ::close(fd_);
}

int Poller::Add(int descriptor, unsigned interest, void* tag) {
    epoll_event event{};
    event.events = EventsOf(interest);
    event.data.ptr = tag;
    return ::epoll_ctl(fd_, EPOLL_CTL_ADD, descriptor, &event) == 0 ? 0 : Failed();
}

int Poller::Modify(int descriptor, unsigned interest, void* tag) {
    epoll_event event{};
    event.events = EventsOf(interest & ~Exclusive);
    event.data.ptr = tag;
    return ::epoll_ctl(fd_, EPOLL_CTL_MOD, descriptor, &event) == 0 ? 0 : Failed();
}

int Poller::Remove(int descriptor) {
    epoll_event unused{};
    return ::epoll_ctl(fd_, EPOLL_CTL_DEL, descriptor, &unused) == 0 ? 0 : Failed();
}

int Poller::Wait(Event* events, int max, int timeoutMs) {
    constexpr int kBatch = 64;
    epoll_event ready[kBatch];
    const int n = ::epoll_wait(fd_, ready, max < kBatch ? max : kBatch, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : Failed();
    for (int i = 0; i < n; ++i) {
        const uint32_t e = ready[i].events;
        events[i].tag = ready[i].data.ptr;
        events[i].readable = (e & (EPOLLIN | EPOLLRDHUP)) != 0;
        events[i].writable = (e & EPOLLOUT) != 0;
        events[i].hangup = (e & (EPOLLERR | EPOLLHUP)) != 0;
    }
    return n;
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void WakeEvent::Clear() {
    uint64_t count;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

int ProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace platform::net
