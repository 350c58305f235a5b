#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace testing_support {
namespace {

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void CloseFd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    CloseFd(&in_);
    CloseFd(&outPipe_);
    CloseFd(&errPipe_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv) {
    // A child that ends before reading all its input must not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    int input[2], output[2], errors[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return false;
    if (::pipe2(output, O_CLOEXEC) != 0) return false;
    if (::pipe2(errors, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int failed = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    ::close(errors[1]);
    in_ = input[1];
    outPipe_ = output[0];
    errPipe_ = errors[0];
    if (failed) pid_ = -1;
    return !failed;
}

bool ChildProcess::Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void ChildProcess::CloseInput() { CloseFd(&in_); }

bool ChildProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{outPipe_, POLLIN, 0}, {errPipe_, POLLIN, 0}};
    if (outPipe_ < 0 && errPipe_ < 0) return false;
    if (::poll(fds, 2, timeoutMs) <= 0) return true;
    char buffer[4096];
    int* pipes[2] = {&outPipe_, &errPipe_};
    std::string* targets[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::read(*pipes[i], buffer, sizeof buffer);
        if (n > 0) targets[i]->append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR) CloseFd(pipes[i]);
    }
    return true;
}

bool ChildProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    const long long deadline = NowMs() + timeoutMs;
    while (out_.find(text) == std::string::npos) {
        const long long left = deadline - NowMs();
        if (left <= 0 || outPipe_ < 0) return false;
        Pump(static_cast<int>(left));
    }
    return true;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

int ChildProcess::Wait(int timeoutMs) {
    const long long deadline = NowMs() + timeoutMs;
    while (outPipe_ >= 0 || errPipe_ >= 0) {
        const long long left = deadline - NowMs();
        if (left <= 0) break;
        Pump(static_cast<int>(left));
    }
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (done < 0 || NowMs() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        ::usleep(2000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input) {
    RunResult result;
    ChildProcess child;
    if (!child.Start(argv)) return result;
    child.Write(input);
    child.CloseInput();
    result.status = child.Wait();
    result.out = child.Output();
    result.err = child.Errors();
    return result;
}

}  // namespace testing_support
