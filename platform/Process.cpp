#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <utility>

#include "platform/File.h"
#include "platform/Paths.h"

namespace platform {
namespace {

constexpr unsigned long kInvalidParameter = 87;
constexpr unsigned long kBusy = 170;
// SIGKILL ends a process at once unless it sits in an uninterruptible wait
// (a hung network file system); a worker gives it this long, then moves on.
constexpr long long kKillGraceMs = 1000;

struct ErrorCode {
    int errnoValue;
    unsigned long windowsCode;
};

constexpr ErrorCode kErrorCodes[] = {
    {ENOENT, 2},  {ENOTDIR, 3},  {EMFILE, 4},   {ENFILE, 4},        {EACCES, 5},
    {EPERM, 5},   {EISDIR, 5},   {ENOMEM, 8},   {ETXTBSY, 32},      {EINVAL, 87},
    {E2BIG, 87},  {EAGAIN, 89},  {ENOEXEC, 193}, {ENAMETOOLONG, 206}, {ELOOP, 1921},
};

unsigned long WindowsError(int errnoValue) {
    for (const ErrorCode& entry : kErrorCodes)
        if (entry.errnoValue == errnoValue) return entry.windowsCode;
    return static_cast<unsigned long>(errnoValue);
}

long long NowMs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Children that a kill did not end within the grace time. They are reaped by
// a later Start, so that none stays a zombie and no worker waits for one.
std::mutex orphansLock;  // guards orphans
std::vector<pid_t> orphans;
std::atomic<size_t> orphanCount{0};  // orphans.size(), so Start skips the lock when there are none

void AddOrphan(pid_t pid) {
    std::lock_guard<std::mutex> guard(orphansLock);
    orphans.push_back(pid);
    orphanCount.store(orphans.size(), std::memory_order_relaxed);
}

void ReapOrphans() {
    if (orphanCount.load(std::memory_order_relaxed) == 0) return;
    std::lock_guard<std::mutex> guard(orphansLock);
    std::erase_if(orphans, [](pid_t pid) {
        const pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
        return reaped == pid || (reaped < 0 && errno == ECHILD);
    });
    orphanCount.store(orphans.size(), std::memory_order_relaxed);
}

// Owns one descriptor for the length of a Start.
class Descriptor {
public:
    Descriptor() = default;
    ~Descriptor() { Reset(-1); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// The child's dup2 onto 0, 1 and 2 would overwrite a source descriptor below
// 3 before it is used, so such a descriptor moves up first. Only a server
// started with its standard handles closed ever gets one.
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

// One /dev/null for every child, opened on first use: it saves an open and a
// close per start, and being close-on-exec it reaches a child only through
// the child's own dup2.
int SharedDevNull() {
    static const int fd = AboveStandard(::open("/dev/null", O_RDWR | O_CLOEXEC));
    return fd;
}

// Opens one standard handle of a child (empty name: /dev/null) into *fd,
// owned by *owner unless it is the shared /dev/null. 0, or the errno.
int OpenStandard(const std::string& serverPath, int flags, Descriptor* owner, int* fd) {
    *fd = SharedDevNull();
    if (serverPath.empty() && *fd >= 0) return 0;
    if (HasNul(serverPath)) return EINVAL;
    const std::string host = serverPath.empty() ? "/dev/null" : HostPath(serverPath);
    int opened;
    do {
        opened = ::open(host.c_str(), flags | O_CLOEXEC, 0644);
    } while (opened < 0 && errno == EINTR);
    opened = AboveStandard(opened);
    if (opened < 0) return errno;
    owner->Reset(opened);
    *fd = opened;
    return 0;
}

// Hands an open file to a child as one standard handle into *fd; one below
// 3 is duplicated above first (owned by *owner), as AboveStandard explains.
// 0, or the errno.
int UseStandard(const File& file, Descriptor* owner, int* fd) {
    int handle = file.NativeHandle();
    if (handle < 0) return EBADF;
    if (handle <= 2) {
        handle = ::fcntl(handle, F_DUPFD_CLOEXEC, 3);
        if (handle < 0) return errno;
        owner->Reset(handle);
    }
    *fd = handle;
    return 0;
}

// The child's view of an exact environment block: a NUL-terminated copy and
// the pointer array execve wants, both valid while the object lives.
class EnvironmentBlock {
public:
    explicit EnvironmentBlock(std::string_view block) : text_(block) {
        text_.push_back('\0');  // the last entry of the view may lack its own
        for (size_t at = 0; at < text_.size() && text_[at] != '\0'; at = text_.find('\0', at) + 1)
            entries_.push_back(text_.data() + at);
        entries_.push_back(nullptr);
    }
    char** Entries() { return entries_.data(); }

private:
    std::string text_;
    std::vector<char*> entries_;
};

// The three standard handles of a child, open for the length of a Start.
class StandardHandles {
public:
    // 0, or the errno of the handle that could not be opened.
    int Open(const ChildStart& start) {
        constexpr int kWrite = O_WRONLY | O_CREAT | O_TRUNC;
        int failure = start.inputFile ? UseStandard(*start.inputFile, &owners_[0], &fds_[0])
                                      : OpenStandard(start.input, O_RDONLY, &owners_[0], &fds_[0]);
        if (!failure)
            failure = start.outputFile ? UseStandard(*start.outputFile, &owners_[1], &fds_[1])
                                       : OpenStandard(start.output, kWrite, &owners_[1], &fds_[1]);
        fds_[2] = fds_[1];
        if (!failure && !start.errorToOutput) failure = OpenStandard(start.error, kWrite, &owners_[2], &fds_[2]);
        return failure;
    }
    int Get(int standard) const { return fds_[standard]; }

private:
    Descriptor owners_[3];
    int fds_[3] = {-1, -1, -1};
};

// What the child does between its start and exec.
class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    const posix_spawn_file_actions_t* Get() const { return &actions_; }

    // 0, or the errno of the action that could not be recorded.
    int Prepare(const StandardHandles& handles, const std::string& hostDirectory) {
        for (int standard = 0; standard < 3; ++standard)
            if (int failure = ::posix_spawn_file_actions_adddup2(&actions_, handles.Get(standard), standard))
                return failure;
        if (!hostDirectory.empty())
            if (int failure = ::posix_spawn_file_actions_addchdir_np(&actions_, hostDirectory.c_str())) return failure;
        // Everything the server opens is close-on-exec; this one close_range
        // in the child also keeps out what a library opened without it.
        return ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }

private:
    posix_spawn_file_actions_t actions_;
};

// The attributes every child gets: a process group of its own (so a
// time-out kills the script's children too), no blocked signals, and the
// default action for the signals a server may ignore or block (an ignored
// disposition survives exec, and a script expects the defaults a shell
// gives it).
class SpawnAttributes {
public:
    SpawnAttributes() {
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        sigset_t signals;
        sigemptyset(&signals);
        ::posix_spawnattr_setsigmask(&attributes_, &signals);
        for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGXFSZ})
            sigaddset(&signals, signal);
        ::posix_spawnattr_setsigdefault(&attributes_, &signals);
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* Get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> arguments;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    size_t at = 0;
    for (;;) {
        while (at < line.size() && isBlank(line[at])) ++at;
        if (at == line.size()) break;
        const bool program = arguments.empty();
        std::string argument;
        bool quoted = false;
        while (at < line.size() && (quoted || !isBlank(line[at]))) {
            const char c = line[at];
            if (c == '"') {
                if (!program && quoted && at + 1 < line.size() && line[at + 1] == '"') {
                    argument += '"';
                    at += 2;
                } else {
                    quoted = !quoted;
                    ++at;
                }
            } else if (c == '\\' && !program) {
                size_t run = 0;
                while (at + run < line.size() && line[at + run] == '\\') ++run;
                const bool beforeQuote = at + run < line.size() && line[at + run] == '"';
                argument.append(beforeQuote ? run / 2 : run, '\\');
                at += run;
                if (beforeQuote && run % 2 == 1) {
                    argument += '"';
                    ++at;
                }
            } else {
                argument += c;
                ++at;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

ChildProcess::~ChildProcess() { Terminate(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Terminate();
        pid_ = other.pid_;
        pidfd_ = other.pidfd_;
        exitCode_ = other.exitCode_;
        error_ = other.error_;
        other.pid_ = 0;
        other.pidfd_ = -1;
    }
    return *this;
}

bool ChildProcess::Start(const ChildStart& start) {
    const auto fail = [this](unsigned long code) {
        error_ = code;
        return false;
    };
    if (pid_ > 0) return fail(kBusy);
    ReapOrphans();
    exitCode_ = -1;
    if (start.arguments.empty() || HasNul(start.workingDirectory)) return fail(kInvalidParameter);
    for (const std::string& argument : start.arguments)
        if (HasNul(argument)) return fail(kInvalidParameter);

    const std::string program = HostPath(start.arguments[0]);
    std::vector<char*> argv;
    argv.reserve(start.arguments.size() + 1);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (size_t i = 1; i < start.arguments.size(); ++i) argv.push_back(const_cast<char*>(start.arguments[i].c_str()));
    argv.push_back(nullptr);

    std::optional<EnvironmentBlock> exact;
    if (start.environment) exact.emplace(*start.environment);

    StandardHandles handles;
    SpawnActions actions;
    int failure = handles.Open(start);
    if (!failure) failure = actions.Prepare(handles, HostPath(start.workingDirectory));
    static const SpawnAttributes attributes;
    pid_t pid = 0;
    if (!failure)
        failure = ::posix_spawnp(&pid, program.c_str(), actions.Get(), attributes.Get(), argv.data(),
                                 exact ? exact->Entries() : environ);
    if (failure) return fail(WindowsError(failure));
    pid_ = pid;
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    error_ = 0;
    return true;
}

bool ChildProcess::Wait(unsigned long timeoutMs) {
    return AwaitExit(timeoutMs == 0 ? -1 : static_cast<long long>(timeoutMs));
}

void ChildProcess::Terminate() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);  // the script may have left its group with setsid
    if (!AwaitExit(kKillGraceMs)) {
        AddOrphan(pid_);
        Release();
    }
    exitCode_ = -1;
}

// A negative time-out waits without limit. True when the child was reaped.
bool ChildProcess::AwaitExit(long long timeoutMs) {
    if (pid_ <= 0) return false;
    return pidfd_ >= 0 ? PollPidfd(timeoutMs) : PollStatus(timeoutMs);
}

bool ChildProcess::PollPidfd(long long timeoutMs) {
    const long long deadline = NowMs() + timeoutMs;
    for (;;) {
        const long long left = timeoutMs < 0 ? -1 : std::max(0LL, deadline - NowMs());
        const int slice = static_cast<int>(std::min<long long>(left, INT_MAX));
        pollfd exited = {pidfd_, POLLIN, 0};
        const int ready = ::poll(&exited, 1, slice);
        if (ready > 0) break;
        if (ready == 0 && slice == left) return false;
        if (ready < 0 && errno != EINTR) return PollStatus(left);
    }
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    exitCode_ = reaped == pid_ ? ExitCodeOf(status) : -1;
    Release();
    return true;
}

// Without a pidfd the only way to learn of the end of one particular child,
// without a SIGCHLD handler, is to ask; the pauses grow to 50 ms so a long
// script costs few wake-ups and a short one is noticed at once.
bool ChildProcess::PollStatus(long long timeoutMs) {
    const long long deadline = NowMs() + timeoutMs;
    long long pause = 1;
    for (;;) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_ || (reaped < 0 && errno == ECHILD)) {
            exitCode_ = reaped == pid_ ? ExitCodeOf(status) : -1;
            Release();
            return true;
        }
        long long sleep = pause;
        if (timeoutMs >= 0) {
            const long long left = deadline - NowMs();
            if (left <= 0) return false;
            sleep = std::min(sleep, left);
        }
        const timespec interval = {static_cast<time_t>(sleep / 1000), static_cast<long>(sleep % 1000) * 1000000L};
        ::nanosleep(&interval, nullptr);
        pause = std::min(pause * 2, 50LL);
    }
}

void ChildProcess::Release() {
    if (pidfd_ >= 0) ::close(pidfd_);
    pidfd_ = -1;
    pid_ = 0;
}

}  // namespace platform
