#pragma once
// Test support: runs a real program of the build with pipes on its standard
// input, output and error, in the test's environment (so in its
// VAREVAVO_HOME). A child still running at destruction is killed.

#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the arguments. False when it cannot start.
    bool Start(const std::vector<std::string>& argv);
    // Writes to the child's standard input; CloseInput ends it.
    bool Write(const std::string& text);
    void CloseInput();
    // Collects standard output until it holds text (true) or the time-out
    // passes or the child closes it (false).
    bool WaitForOutput(const std::string& text, int timeoutMs = 10000);
    // Sends a signal to the child.
    void Signal(int signal);
    // Collects the rest of both outputs and waits for the end. Returns the
    // exit status, 128 + the signal for a child ended by a signal, or -1
    // after the time-out (the child is then killed).
    int Wait(int timeoutMs = 60000);

    const std::string& Output() const { return out_; }
    const std::string& Errors() const { return err_; }

private:
    // Moves whatever is readable within timeoutMs into out_ and err_; false
    // when both are closed.
    bool Pump(int timeoutMs);

    int pid_ = -1;
    int in_ = -1;
    int outPipe_ = -1;
    int errPipe_ = -1;
    std::string out_;
    std::string err_;
};

// Runs a program to its end with the given standard input.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "");

}  // namespace testing_support
