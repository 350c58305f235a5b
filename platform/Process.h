#pragma once
// Starting a script as a child process, and waiting for it.
//
// The gateways build a Windows-style command line and keep it in the server's
// form for traces and logs; SplitCommandLine turns it into arguments, and
// ChildProcess runs them on this host. Many worker threads start children at
// once: nothing here installs a signal handler or waits for "any child", so
// the server must leave SIGCHLD at its default disposition (an ignored
// SIGCHLD would let the kernel reap children behind our back).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class File;

// Splits a command line into arguments by the rules of the Windows C runtime:
//   - blanks and tabs outside double quotes separate arguments;
//   - double quotes group, and are not part of the argument ("" gives an
//     empty argument);
//   - 2n backslashes before a quote give n backslashes and the quote groups;
//     2n+1 backslashes before a quote give n backslashes and a literal quote;
//     backslashes anywhere else are literal (so C:\HTTPD\x stays as it is);
//   - inside quotes, "" gives one literal quote and quoting goes on.
// The first argument, the program, follows the rule Windows uses to find a
// program: quotes group and vanish, and backslashes are always literal.
// An empty or blank line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// What a child is started with. Paths here are server paths (Paths.h).
struct ChildStart {
    // arguments[0] is the program in server form (C:\PERL5\PERL.EXE,
    // /usr/bin/perl, or a bare name): Start converts it with HostPath, and the
    // child sees the converted form as its argv[0]. A name without a slash or
    // backslash is looked up in the server's own PATH, even when the child
    // gets an exact environment without PATH. A relative program path is
    // taken relative to the working directory.
    // Every other argument is passed exactly as given: the caller converts
    // the ones that are paths the server put there (the script after an
    // interpreter, the Windows-CGI file names) with HostPath, and leaves the
    // ones that come from the request alone.
    std::vector<std::string> arguments{};

    // The child's working directory; empty keeps the server's own.
    std::string workingDirectory{};

    // An exact environment: packed NAME=value entries, each ended by a NUL
    // byte, the block ended by an empty entry (a second NUL) or by the end of
    // the view. The child sees exactly these variables, in this order, and no
    // others (no PATH). When absent the child gets the server's environment.
    // The view is read only during Start.
    std::optional<std::string_view> environment{};

    // Standard handles: file names, or empty for /dev/null. The input file
    // must exist; output and error files are created, or emptied when they
    // exist.
    std::string input{};
    std::string output{};
    std::string error{};
    // When set, standard error is standard output: one open file, one file
    // position, so the lines of both streams land in the order written.
    // The error name is then ignored.
    bool errorToOutput = false;
    // Open files to use instead of the input and output names (not owned;
    // they stay open at least until Start returns). The child gets the same
    // open file, at the position it has: a file without a name, which only
    // a descriptor can hand over.
    const File* inputFile = nullptr;
    const File* outputFile = nullptr;
};

// Owns one child process: it runs in a process group of its own, and sees
// only the standard handles (no descriptor of the server leaks into it).
// The object reaps its child; a child still running when the object is
// destroyed is killed with its whole group and reaped. One object belongs
// to one thread; any number of threads may start children at once.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the child. True when it runs; false when it could not be
    // started, with the reason in LastError(). The program failing to load
    // (missing, not executable) is a failed start, never a child that exits.
    // An object that still holds a running child refuses (error 170).
    bool Start(const ChildStart& start);

    // Why the last Start failed, with the Windows meaning where one exists:
    //     2  file not found: the program, the input file or the working
    //        directory does not exist
    //     3  path not found: a component of a path is not a directory
    //     4  too many open files
    //     5  access denied: not executable, no permission, or a directory
    //     8  not enough memory
    //    32  the program file is busy (open for writing)
    //    87  invalid parameter: no arguments, a NUL byte in an argument or
    //        a path, arguments and environment too big
    //    89  no process slots left
    //   170  busy: this object still holds a running child
    //   193  not an executable format (a script without a #! line)
    //   206  a file name too long
    //  1921  too many levels of symbolic links
    // Any other failure is reported as its Linux errno value. 0 after a
    // successful Start.
    unsigned long LastError() const { return error_; }

    // Waits for the child to end, at most timeoutMs milliseconds; 0 means no
    // limit. True when the child has ended (it is reaped and ExitCode() is
    // valid); false on time-out, the child still running, or when there is no
    // child. The wait sleeps in the kernel; it never spins.
    bool Wait(unsigned long timeoutMs);

    // Kills the child's whole process group (SIGKILL) and reaps the child,
    // waiting at most about a second: a child stuck in the kernel is handed
    // to a process-wide list and reaped by a later Start, so the caller never
    // waits without bound. ExitCode() is then -1. Nothing happens when no
    // child is running.
    void Terminate();

    // True from a successful Start until the child has been reaped.
    bool IsRunning() const { return pid_ > 0; }
    // The exit status of an ended child: its exit code (0..255), 128 plus
    // the signal number when a signal ended it, -1 (all bits set) after
    // Terminate. -1 before the child has ended.
    int ExitCode() const { return exitCode_; }
    // The child's process id (also its process group id); 0 when none runs.
    int ProcessId() const { return pid_ > 0 ? pid_ : 0; }

private:
    bool AwaitExit(long long timeoutMs);
    bool PollPidfd(long long timeoutMs);
    bool PollStatus(long long timeoutMs);
    void Release();

    int pid_ = 0;
    int pidfd_ = -1;  // -1 when pidfd_open failed: Wait polls the status instead
    int exitCode_ = -1;
    unsigned long error_ = 0;
};

}  // namespace platform
