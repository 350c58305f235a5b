// --help, --version and unknown options on every program of the project,
// run as built.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

using testing_support::RunProgram;
using testing_support::TestHome;

namespace {

struct Program {
    const char* name;
    const char* path;
};

std::vector<Program> Programs() {
    std::vector<Program> programs = {
        {"ruvuzerar", RUVUZERAR}, {"varevavo-reg", VAREVAVO_REG}, {"varevavo-setup", VAREVAVO_SETUP},
        {"zazezere", ZAZEZERE}, {"varevavo-passwd", VAREVAVO_PASSWD}};
#ifdef RUVUZERAR_DESKTOP
    programs.push_back({"ruvuzerar-desktop", RUVUZERAR_DESKTOP});
#endif
    return programs;
}

TEST(ProgramOptions, VersionNamesTheProgramAndEndsWithZero) {
    TestHome home;
    for (const Program& program : Programs()) {
        const auto run = RunProgram({program.path, "--version"});
        EXPECT_EQ(run.status, 0) << program.name;
        EXPECT_EQ(run.out.rfind(std::string(program.name) + " (Varevavo) ", 0), 0u) << run.out;
        EXPECT_EQ(run.err, "") << program.name;
    }
}

TEST(ProgramOptions, HelpGoesToStandardOutputAndEndsWithZero) {
    TestHome home;
    for (const Program& program : Programs()) {
        const auto run = RunProgram({program.path, "--help"});
        EXPECT_EQ(run.status, 0) << program.name;
        EXPECT_NE(run.out.find("Usage"), std::string::npos) << program.name << ": " << run.out;
        EXPECT_NE(run.out.find("--version"), std::string::npos) << program.name << ": " << run.out;
        EXPECT_NE(run.out.find("See " + std::string(program.name) + "("), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "") << program.name;
    }
}

TEST(ProgramOptions, UnknownOptionShowsTheUsageOnStandardErrorAndEndsWithTwo) {
    TestHome home;
    for (const Program& program : Programs()) {
        const auto run = RunProgram({program.path, "--frobnicate"});
        EXPECT_EQ(run.status, 2) << program.name;
        EXPECT_EQ(run.out, "") << program.name;
        EXPECT_NE(run.err.find("unknown option '--frobnicate'"), std::string::npos) << program.name << ": " << run.err;
        EXPECT_NE(run.err.find("Usage: " + std::string(program.name)), std::string::npos) << run.err;
    }
}

TEST(ProgramOptions, AnOptionAnywhereOnTheServersCommandLineIsAnOption) {
    TestHome home;
    EXPECT_EQ(RunProgram({RUVUZERAR, "Night", "--help"}).status, 0);
    EXPECT_EQ(RunProgram({RUVUZERAR, "Night", "--shift"}).status, 2);
}

TEST(ProgramOptions, ToolsRefuseACommandLineTheyCannotTake) {
    TestHome home;
    const auto setup = RunProgram({VAREVAVO_SETUP});
    EXPECT_EQ(setup.status, 2);
    EXPECT_NE(setup.err.find("Usage: varevavo-setup NAME [PORT]"), std::string::npos) << setup.err;
    const auto zazezere = RunProgram({ZAZEZERE, "frontpage"});
    EXPECT_EQ(zazezere.status, 2);
    EXPECT_NE(zazezere.err.find("Usage: zazezere"), std::string::npos) << zazezere.err;
    // The registry editor keeps its own options, and its data may start with "--".
    const auto add = RunProgram({VAREVAVO_REG, "add", "HKLM\\SOFTWARE\\Dashes", "/v", "Text", "/d", "--x", "/f"});
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_NE(RunProgram({VAREVAVO_REG, "query", "HKLM\\SOFTWARE\\Dashes"}).out.find("--x"), std::string::npos);
}

}  // namespace
