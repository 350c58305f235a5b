// zazezere driven through pipes in the test's home, with the store checked
// afterwards.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "platform/RegistryStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

using namespace platform::reg;
using testing_support::ChildProcess;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TestHome;

namespace {

const std::string kNotice = "Visitor not found in the registry!  Adding it now...\n";
const std::string kPrompt =
    "\n\n\n\n\nWelcome to the Visitor Administration Program! (Control-Break to quit)\n\n"
    "Enter a reference name (No Spaces): ";

std::string NewCounter(const std::string& name) {
    return name + " is a new key.  Please enter it's initial value: \nNow reference this in your page like this:\n\n"
                  "<IMG SRC=\"/cgi-bin/visitor?" + name + "\">\n\n";
}

std::string ExistingCounter(const std::string& name, const std::string& shown) {
    return name + " exists with a value of (" + shown +
           ")\nEnter the value you want it to be: \nNow reference this in your page like this:\n\n"
           "<IMG SRC=\"/cgi-bin/visitor.exe?" + name + "\">\n\n";
}

RunResult Zazezere(const std::string& input) { return RunProgram({ZAZEZERE}, input); }

// The counter's type and bytes; false when there is no such value.
bool Stored(const std::string& name, uint32_t* type, std::vector<uint8_t>* data) {
    ScopedKey visitor;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Visitor", visitor.Receive()) != ERROR_SUCCESS) return false;
    return RegQueryValueEx(visitor.get(), name, type, data) == ERROR_SUCCESS;
}

std::vector<uint8_t> Dword(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

void ExpectCounter(const std::string& name, uint32_t value) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(Stored(name, &type, &data)) << name;
    EXPECT_EQ(type, REG_DWORD) << name;
    EXPECT_EQ(data, Dword(value)) << name;
}

}  // namespace

TEST(Zazezere, FirstRunCreatesTheKeyAndANewCounter) {
    TestHome home;
    RunResult run = Zazezere("home\n42\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kNotice + kPrompt + NewCounter("home") + kPrompt + "\n");
    EXPECT_EQ(run.err, "");
    ExpectCounter("home", 42);

    run = Zazezere("");  // the notice comes once, on the first run only
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kPrompt + "\n");
}

TEST(Zazezere, AnExistingCounterIsShownAndReplaced) {
    TestHome home;
    ASSERT_EQ(Zazezere("Home 7\n").status, 0);
    const RunResult run = Zazezere("HOME\n99\nHome\n-1\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kPrompt + ExistingCounter("HOME", "7") + kPrompt + ExistingCounter("Home", "99") + kPrompt + "\n");
    ExpectCounter("home", 0xffffffffu);
    // A signed input is stored as its 32-bit pattern and shown back unsigned.
    EXPECT_EQ(Zazezere("home\n1\n").out, kPrompt + ExistingCounter("home", "4294967295") + kPrompt + "\n");
}

// What the stream gives for a number that cannot be read is stored, and the
// rest of that line is skipped; the dialogue goes on.
TEST(Zazezere, NumbersThatCannotBeRead) {
    TestHome home;
    const RunResult run = Zazezere("words many more words\nbig\n3000000000 9 9\nsmall -3000000000\nnext 5\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kNotice + kPrompt + NewCounter("words") + kPrompt + NewCounter("big") + kPrompt +
                           NewCounter("small") + kPrompt + NewCounter("next") + kPrompt + "\n");
    ExpectCounter("words", 0);
    ExpectCounter("big", 2147483647u);  // above 2^31-1: not the number typed
    ExpectCounter("small", 0x80000000u);
    ExpectCounter("next", 5);
    EXPECT_EQ(Zazezere("big\n1\n").out, kPrompt + ExistingCounter("big", "2147483647") + kPrompt + "\n");
}

// The end of the input ends the program at once, in whichever prompt, with
// status 0 and nothing half-written.
TEST(Zazezere, TheEndOfTheInputEndsTheDialogue) {
    TestHome home;
    RunResult run = Zazezere("fresh");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kNotice + kPrompt + "fresh is a new key.  Please enter it's initial value: \n");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_FALSE(Stored("fresh", &type, &data));

    ASSERT_EQ(Zazezere("kept 12\n").status, 0);
    run = Zazezere("kept\n   \n\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kPrompt + "kept exists with a value of (12)\nEnter the value you want it to be: \n");
    ExpectCounter("kept", 12);

    run = Zazezere("  \n \n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kPrompt + "\n");
}

TEST(Zazezere, ALongNameIsRefusedAndTheDialogueGoesOn) {
    TestHome home;
    const std::string longest(255, 'n');
    const std::string tooLong(256, 'x');
    const RunResult run = Zazezere(tooLong + "\n" + longest + "\n3\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kNotice + kPrompt + "\nA reference name may be at most 255 characters long; that one has 256.\n" +
                           kPrompt + NewCounter(longest) + kPrompt + "\n");
    ExpectCounter(longest, 3);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_FALSE(Stored(tooLong, &type, &data));
}

// Counters that are not 4-byte numbers, written with the registry editor:
// shown as the number of their first bytes, then replaced by a REG_DWORD.
TEST(Zazezere, CountersThatAreNotFourByteNumbers) {
    TestHome home;
    ASSERT_EQ(RunProgram({VAREVAVO_REG, "add", "HKLM\\Software\\Visitor", "/v", "short", "/d", "x"}).status, 0);
    ASSERT_EQ(RunProgram({VAREVAVO_REG, "add", "HKLM\\Software\\Visitor", "/v", "text", "/d", "hello"}).status, 0);
    ASSERT_EQ(RunProgram({VAREVAVO_REG, "add", "HKLM\\Software\\Visitor", "/v", "empty"}).status, 0);
    const RunResult run = Zazezere("short\n5\ntext\n6\nempty\n7\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kPrompt + ExistingCounter("short", "120") +           // "x" and its zero
                           kPrompt + ExistingCounter("text", "1819043176") +  // "hell"
                           kPrompt + ExistingCounter("empty", "0") + kPrompt + "\n");
    ExpectCounter("short", 5);
    ExpectCounter("text", 6);
    ExpectCounter("empty", 7);
    const RunResult shown = RunProgram({VAREVAVO_REG, "query", "HKLM\\Software\\Visitor", "/v", "text"});
    EXPECT_EQ(shown.out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Visitor\n    text    REG_DWORD    0x6\n");
}

// Control-C (and SIGTERM) end the program cleanly in either prompt:
// status 0, nothing written for the prompt it interrupted.
TEST(Zazezere, AnInterruptEndsTheProgramCleanly) {
    TestHome home;
    for (const int signal : {SIGINT, SIGTERM}) {
        ChildProcess child;
        ASSERT_TRUE(child.Start({ZAZEZERE}));
        ASSERT_TRUE(child.WaitForOutput("Enter a reference name (No Spaces): "));
        child.Write("waiting\n");
        ASSERT_TRUE(child.WaitForOutput("Please enter it's initial value: "));
        child.Signal(signal);
        EXPECT_EQ(child.Wait(10000), 0) << signal;
        EXPECT_EQ(child.Output().back(), '\n');
        uint32_t type = 0;
        std::vector<uint8_t> data;
        EXPECT_FALSE(Stored("waiting", &type, &data));
    }
    ChildProcess idle;
    ASSERT_TRUE(idle.Start({ZAZEZERE}));
    ASSERT_TRUE(idle.WaitForOutput("Enter a reference name (No Spaces): "));
    idle.Signal(SIGINT);
    EXPECT_EQ(idle.Wait(10000), 0);
    EXPECT_EQ(idle.Output(), kPrompt + "\n");
}

TEST(Zazezere, AStoreThatCannotOpenIsReported) {
    TestHome home;
    TestHome::WriteFile(home.Path() + "/file", "");
    ::setenv("VAREVAVO_HOME", (home.Path() + "/file/home").c_str(), 1);
    const RunResult run = Zazezere("name\n1\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "zazezere: cannot open HKEY_LOCAL_MACHINE\\Software\\Visitor: The registry store could not be opened.\n");
}
