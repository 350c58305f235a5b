// Command-line splitting, and real children started through ChildProcess:
// environment, standard handles, working directory, start failures,
// time-outs, descriptor hygiene and many threads at once.
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/TestHome.h"

using platform::ChildProcess;
using platform::ChildStart;
using testing_support::TestHome;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::string> expected;
};

TEST(SplitCommandLine, WindowsRules) {
    const SplitCase cases[] = {
        {"empty line", "", {}},
        {"blanks only", " \t ", {}},
        {"blanks and tabs separate", " prog  a\tb ", {"prog", "a", "b"}},
        {"quotes group", R"(prog "a b" c)", {"prog", "a b", "c"}},
        {"quoted program and file names", R"("C:\HTTPD\CGI-WIN\prog.exe" /tmp/ZAD1.TMP /tmp/ZAD2.TMP)",
         {R"(C:\HTTPD\CGI-WIN\prog.exe)", "/tmp/ZAD1.TMP", "/tmp/ZAD2.TMP"}},
        {"interpreter and quoted script", R"(C:\PERL5\NTT\PERL.EXE "C:\HTTPD\CGI-BIN\test.pl" a b)",
         {R"(C:\PERL5\NTT\PERL.EXE)", R"(C:\HTTPD\CGI-BIN\test.pl)", "a", "b"}},
        {"empty argument", R"(prog "" x)", {"prog", "", "x"}},
        {"empty argument last", R"(prog "")", {"prog", ""}},
        {"one backslash escapes a quote", R"(prog a\"b)", {"prog", "a\"b"}},
        {"two backslashes then a grouping quote", R"(prog "a\\" b)", {"prog", "a\\", "b"}},
        {"three backslashes then a literal quote", R"(prog a\\\"b)", {"prog", R"(a\"b)"}},
        {"four backslashes then a grouping quote", R"(prog a\\\\"b c" d)", {"prog", R"(a\\b c)", "d"}},
        {"backslashes elsewhere are literal", R"(prog a\\\b c:\x\)", {"prog", R"(a\\\b)", R"(c:\x\)"}},
        {"quoted parts join their neighbours", R"(prog d"e f"g)", {"prog", "de fg"}},
        {"doubled quote inside quotes", R"(prog "a""b c" d)", {"prog", "a\"b c", "d"}},
        {"unterminated quote runs to the end", R"(prog "a b)", {"prog", "a b"}},
        {"program keeps its backslashes", R"("C:\dir\"x y)", {R"(C:\dir\x)", "y"}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(platform::SplitCommandLine(c.line), c.expected) << c.name;
}

class ChildTest : public ::testing::Test {
protected:
    // Writes an executable script at a server path below C:\.
    std::string Script(const std::string& relative, const std::string& body) {
        const std::string path = home_.DriveC(relative);
        TestHome::WriteFile(path, body);
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
        return path;
    }

    std::string Output() const { return home_.TempDir() + "/out.txt"; }

    // Starts a child with standard output in Output() and waits for it.
    // Returns its output, or the start error as "error N".
    std::string Run(ChildStart start, int* exitCode = nullptr) {
        if (start.output.empty()) start.output = Output();
        ChildProcess child;
        if (!child.Start(start)) return "error " + std::to_string(child.LastError());
        EXPECT_TRUE(child.Wait(20000));
        if (exitCode) *exitCode = child.ExitCode();
        return TestHome::ReadFile(start.output);
    }

    static ChildStart Shell(const std::string& command) { return {.arguments = {"/bin/sh", "-c", command}}; }

    TestHome home_;
};

TEST_F(ChildTest, ExactEnvironmentIsAllTheChildSees) {
    // Padded with zero bytes the way the standard CGI engine's fixed block is.
    std::string block("B=2\0A=1\0EMPTY=\0", 15);
    block.resize(64, '\0');
    EXPECT_EQ(Run({.arguments = {"/usr/bin/env"}, .environment = block}), "B=2\nA=1\nEMPTY=\n");
}

TEST_F(ChildTest, ServerEnvironmentWhenNoneIsGiven) {
    const std::string output = Run({.arguments = {"/usr/bin/env"}});
    EXPECT_NE(output.find("VAREVAVO_HOME=" + home_.Path() + "\n"), std::string::npos) << output;
    EXPECT_NE(output.find("PATH="), std::string::npos) << output;
}

TEST_F(ChildTest, BareProgramNameIsFoundInTheServersPath) {
    int exitCode = 0;
    Run({.arguments = {"sh", "-c", "exit 7"}, .environment = std::string_view("\0", 1)}, &exitCode);
    EXPECT_EQ(exitCode, 7);
}

TEST_F(ChildTest, ProgramIsConvertedFromServerForm) {
    Script("HTTPD/CGI-BIN/hello.cgi", "#!/bin/sh\necho \"$0\"\n");
    EXPECT_EQ(Run({.arguments = {R"(C:\HTTPD\CGI-BIN\hello.cgi)"}}), home_.DriveC("HTTPD/CGI-BIN/hello.cgi") + "\n");
}

TEST_F(ChildTest, InputComesFromAFileByteForByte) {
    const std::string body("line\r\nnul\0byte\xff", 15);
    TestHome::WriteFile(home_.TempDir() + "/in.txt", body);
    EXPECT_EQ(Run({.arguments = {"/bin/cat"}, .input = home_.TempDir() + "/in.txt"}), body);
}

TEST_F(ChildTest, OutputAndErrorShareOneFileInOrder) {
    ChildStart start = Shell("echo out1; echo err1 >&2; echo out2");
    start.errorToOutput = true;
    EXPECT_EQ(Run(start), "out1\nerr1\nout2\n");

    start.errorToOutput = false;
    start.error = home_.TempDir() + "/err.txt";
    EXPECT_EQ(Run(start), "out1\nout2\n");
    EXPECT_EQ(TestHome::ReadFile(start.error), "err1\n");
}

TEST_F(ChildTest, WorkingDirectoryIsAServerPath) {
    fs::create_directories(home_.DriveC("HTTPD/CGI-BIN/sub"));
    ChildStart start = Shell("pwd -P");
    start.workingDirectory = R"(C:\HTTPD\CGI-BIN\sub)";
    EXPECT_EQ(Run(start), fs::canonical(home_.DriveC("HTTPD/CGI-BIN/sub")).string() + "\n");
}

TEST_F(ChildTest, ExitCodes) {
    const struct {
        const char* name;
        const char* command;
        int exitCode;
    } cases[] = {
        {"success", "exit 0", 0},
        {"failure", "exit 3", 3},
        {"killed by a signal", "kill -9 $$", 128 + 9},
    };
    for (const auto& c : cases) {
        int exitCode = -2;
        Run(Shell(c.command), &exitCode);
        EXPECT_EQ(exitCode, c.exitCode) << c.name;
    }
}

TEST_F(ChildTest, StartFailuresCarryWindowsErrorCodes) {
    Script("HTTPD/CGI-BIN/noshebang.cgi", "echo hi\n");
    TestHome::WriteFile(home_.DriveC("HTTPD/CGI-BIN/plain.cgi"), "#!/bin/sh\necho hi\n");
    const struct {
        const char* name;
        ChildStart start;
        std::string expected;
    } cases[] = {
        {"missing program", {.arguments = {R"(C:\PERL5\NTT\PERL.EXE)", "x"}}, "error 2"},
        {"missing program on PATH", {.arguments = {"varevavo-no-such-program"}}, "error 2"},
        {"not executable", {.arguments = {R"(C:\HTTPD\CGI-BIN\plain.cgi)"}}, "error 5"},
        {"a directory", {.arguments = {R"(C:\HTTPD\CGI-BIN)"}}, "error 5"},
        {"no #! line", {.arguments = {R"(C:\HTTPD\CGI-BIN\noshebang.cgi)"}}, "error 193"},
        {"missing input file", {.arguments = {"/bin/true"}, .input = R"(C:\nothing.txt)"}, "error 2"},
        {"missing working directory", {.arguments = {"/bin/true"}, .workingDirectory = R"(C:\nowhere)"}, "error 2"},
        {"no arguments", {}, "error 87"},
        {"NUL in an argument", {.arguments = {"/bin/true", std::string("a\0b", 3)}}, "error 87"},
    };
    for (const auto& c : cases) EXPECT_EQ(Run(c.start), c.expected) << c.name;
}

TEST_F(ChildTest, TimeOutKillsTheWholeGroupPromptly) {
    // The background grandchild would leave the marker after a second.
    const std::string marker = home_.TempDir() + "/marker";
    ChildStart start = Shell("(sleep 1; echo late > '" + marker + "') & echo partial; sleep 30");
    start.output = Output();
    ChildProcess child;
    ASSERT_TRUE(child.Start(start));
    const auto began = Clock::now();
    EXPECT_FALSE(child.Wait(300));
    child.Terminate();
    EXPECT_LT(Clock::now() - began, std::chrono::milliseconds(1200));
    EXPECT_FALSE(child.IsRunning());
    EXPECT_EQ(child.ExitCode(), -1);
    EXPECT_EQ(TestHome::ReadFile(Output()), "partial\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(TestHome::FileExists(marker));
}

TEST_F(ChildTest, NoLimitWaitsForTheEnd) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(Shell("sleep 0.3; exit 4")));
    EXPECT_TRUE(child.Wait(0));
    EXPECT_EQ(child.ExitCode(), 4);
}

TEST_F(ChildTest, DestroyingARunningChildKillsAndReapsIt) {
    std::string proc;
    const auto began = Clock::now();
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(Shell("sleep 30")));
        proc = "/proc/" + std::to_string(child.ProcessId());
    }
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(2));
    EXPECT_FALSE(fs::exists(proc)) << "left a zombie";
}

// The parent's open descriptors, after one child has run: the first start
// opens the /dev/null that every later child shares.
size_t OpenDescriptors() {
    ChildProcess first;
    EXPECT_TRUE(first.Start({.arguments = {"/bin/true"}}) && first.Wait(20000));
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(ChildTest, ChildSeesOnlyItsStandardHandles) {
    // fopen does not set close-on-exec: the descriptor a careless library
    // would leak.
    std::FILE* leaky = std::fopen((home_.TempDir() + "/leaky").c_str(), "w");
    ASSERT_NE(leaky, nullptr);
    const size_t before = OpenDescriptors();
    const std::string output = Run(Shell(
        "for fd in 0 1 2; do [ -e /proc/$$/fd/$fd ] || echo missing $fd; done; "
        "fd=3; while [ $fd -lt 1024 ]; do [ -e /proc/$$/fd/$fd ] && echo leaked $fd; fd=$((fd+1)); done; echo done"));
    std::fclose(leaky);
    EXPECT_EQ(output, "done\n");
    EXPECT_EQ(OpenDescriptors() + 1, before) << "the parent kept a descriptor";
}

TEST_F(ChildTest, ManyThreadsStartChildrenAtOnce) {
    constexpr int kThreads = 8;
    constexpr int kEach = 6;
    const size_t before = OpenDescriptors();
    std::vector<std::thread> threads;
    std::vector<int> mismatches(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                ChildStart start = {.arguments = {"/bin/sh", "-c", "cat; printf %s \"$0\"; exit $1", tag, "5"}};
                start.input = home_.TempDir() + "/in" + tag;
                start.output = home_.TempDir() + "/out" + tag;
                TestHome::WriteFile(start.input, "in" + tag + ":");
                ChildProcess child;
                const bool ended = child.Start(start) && child.Wait(20000);
                if (!ended || child.ExitCode() != 5 || TestHome::ReadFile(start.output) != "in" + tag + ":" + tag)
                    ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
    EXPECT_EQ(OpenDescriptors(), before);
}

// Runs with so few descriptors that pidfd_open fails, so Wait must fall back
// to asking for the child's status. Started by the test below with a low
// descriptor limit; skipped in a normal run.
TEST_F(ChildTest, WaitWithoutPidfdInner) {
    if (!std::getenv("VAREVAVO_NO_DESCRIPTORS")) GTEST_SKIP() << "run by WaitWorksWithoutPidfd";
    ChildProcess warmUp;  // opens the shared /dev/null while there is room
    ASSERT_TRUE(warmUp.Start({.arguments = {"/bin/true"}}));
    ASSERT_TRUE(warmUp.Wait(20000));
    std::vector<std::FILE*> filler;
    while (std::FILE* file = std::fopen("/dev/null", "r")) filler.push_back(file);

    ChildProcess quick;
    ASSERT_TRUE(quick.Start({.arguments = {"/bin/sh", "-c", "exit 6"}})) << quick.LastError();
    EXPECT_TRUE(quick.Wait(0));
    EXPECT_EQ(quick.ExitCode(), 6);

    ChildProcess slow;
    ASSERT_TRUE(slow.Start({.arguments = {"/bin/sleep", "30"}}));
    const std::string proc = "/proc/" + std::to_string(slow.ProcessId());
    const auto began = Clock::now();
    EXPECT_FALSE(slow.Wait(200));
    slow.Terminate();
    EXPECT_EQ(slow.ExitCode(), -1);
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(1));
    EXPECT_FALSE(fs::exists(proc)) << "not reaped";
    for (std::FILE* file : filler) std::fclose(file);
}

TEST_F(ChildTest, WaitWorksWithoutPidfd) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    int exitCode = -2;
    const std::string output = Run(Shell("ulimit -n 64 && VAREVAVO_NO_DESCRIPTORS=1 exec \"" + self +
                                         "\" --gtest_filter=ChildTest.WaitWithoutPidfdInner 2>&1"),
                                   &exitCode);
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
