// varevavo-reg, run as a real program in the test's home: every command,
// its exact output, bad command lines, and REGEDIT4 files both ways.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "platform/RegistryStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

using namespace platform::reg;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TestHome;

namespace {

const std::string kPrimary = "HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary";
constexpr const char* kDone = "The operation completed successfully.\n";

RunResult Reg(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VAREVAVO_REG);
    return RunProgram(arguments);
}

// Everything below SOFTWARE, as an export shows it.
std::string Everything(const TestHome& home) {
    const std::string file = home.TempDir() + "/everything.reg";
    const RunResult result = Reg({"export", "HKLM\\SOFTWARE", file});
    EXPECT_EQ(result.status, 0) << result.err;
    return TestHome::ReadFile(file);
}

// Runs a command that must fail: exit status 1, one ERROR line naming the
// problem, nothing on the output, and the store unchanged.
void ExpectRefused(const TestHome& home, const std::vector<std::string>& arguments, const std::string& problem) {
    const std::string before = Everything(home);
    const RunResult result = Reg(arguments);
    EXPECT_EQ(result.status, 1) << problem;
    EXPECT_EQ(result.err.rfind("ERROR: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(problem), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << problem;
    EXPECT_EQ(Everything(home), before) << problem;
}

}  // namespace

TEST(RegistryEditor, AddAndQuery) {
    TestHome home;
    const std::string network = kPrimary + "\\Network";
    EXPECT_EQ(Reg({"add", network, "/v", "Port", "/t", "REG_DWORD", "/d", "8080"}).out, kDone);
    EXPECT_EQ(Reg({"ADD", network, "-V", "Flag", "/T", "reg_dword", "/d", "0x1F"}).out, kDone);
    EXPECT_EQ(Reg({"add", kPrimary + "\\Server", "/v", "DocRoot", "/d", "/srv/www"}).out, kDone);
    EXPECT_EQ(Reg({"add", kPrimary + "\\Server", "/ve", "/d", "unnamed"}).out, kDone);
    EXPECT_EQ(Reg({"add", kPrimary + "\\Empty"}).out, kDone);

    RunResult query = Reg({"query", "hklm\\software\\raziduzovo\\varevavo\\primary\\network"});
    EXPECT_EQ(query.status, 0);
    EXPECT_EQ(query.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Network\n"
              "    Port    REG_DWORD    0x1f90\n"
              "    Flag    REG_DWORD    0x1f\n");
    query = Reg({"query", kPrimary});
    EXPECT_EQ(query.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Empty\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Network\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Server\n");
    query = Reg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\", "/s"});
    EXPECT_EQ(query.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Empty\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Network\n"
              "    Port    REG_DWORD    0x1f90\n"
              "    Flag    REG_DWORD    0x1f\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Server\n"
              "    DocRoot    REG_SZ    /srv/www\n"
              "    (Default)    REG_SZ    unnamed\n");
    query = Reg({"query", kPrimary + "\\Server", "/v", "docroot"});
    EXPECT_EQ(query.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Server\n"
              "    DocRoot    REG_SZ    /srv/www\n");
    query = Reg({"query", kPrimary, "/v", "Port", "/s"});
    EXPECT_EQ(query.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Network\n"
              "    Port    REG_DWORD    0x1f90\n");
}

TEST(RegistryEditor, AddReplacesAValueOnlyWithForce) {
    TestHome home;
    const std::string server = kPrimary + "\\Server";
    ASSERT_EQ(Reg({"add", server, "/v", "DocRoot", "/d", "C:\\OLD"}).status, 0);
    ExpectRefused(home, {"add", server, "/v", "DOCROOT", "/d", "C:\\NEW"}, "exists already; add /f");
    EXPECT_EQ(Reg({"add", server, "/v", "DOCROOT", "/d", "C:\\NEW", "/f"}).out, kDone);
    EXPECT_EQ(Reg({"query", server, "/v", "DocRoot"}).out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Server\n"
              "    DocRoot    REG_SZ    C:\\NEW\n");
}

TEST(RegistryEditor, Delete) {
    TestHome home;
    ASSERT_EQ(Reg({"add", kPrimary + "\\A\\B", "/v", "x", "/d", "1"}).status, 0);
    ASSERT_EQ(Reg({"add", kPrimary + "\\A", "/v", "y", "/d", "2"}).status, 0);
    ExpectRefused(home, {"delete", kPrimary + "\\A"}, "add /f");
    EXPECT_EQ(Reg({"delete", kPrimary + "\\A", "/v", "y", "/f"}).out, kDone);
    EXPECT_EQ(Reg({"query", kPrimary + "\\A"}).out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\A\n\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\A\\B\n");
    EXPECT_EQ(Reg({"delete", kPrimary + "\\A", "/f"}).out, kDone);
    ExpectRefused(home, {"query", kPrimary + "\\A"}, "unable to find");
    ExpectRefused(home, {"delete", kPrimary + "\\A", "/f"}, "unable to find");
    ExpectRefused(home, {"delete", kPrimary, "/v", "nothing", "/f"}, "unable to find");
}

TEST(RegistryEditor, BadCommandLinesChangeNothing) {
    TestHome home;
    ASSERT_EQ(Reg({"add", kPrimary + "\\Network", "/v", "Port", "/t", "REG_DWORD", "/d", "80"}).status, 0);
    const struct {
        std::vector<std::string> arguments;
        const char* problem;
    } cases[] = {
        {{}, "no command given"},
        {{"frobnicate", kPrimary}, "unknown command 'frobnicate'"},
        {{"query"}, "an argument is missing"},
        {{"query", kPrimary, "extra"}, "too many arguments ('extra')"},
        {{"query", "HKCU\\Software"}, "invalid key name 'HKCU\\Software'"},
        {{"query", "HKLM\\SOFTWARE\\\\X"}, "invalid key name"},
        {{"add", kPrimary + "\\Network", "/v"}, "the option /v needs an argument"},
        {{"add", kPrimary + "\\Network", "/s"}, "the option /s does not belong to add"},
        {{"add", kPrimary + "\\Network", "/v", "a", "/ve"}, "given twice"},
        {{"add", kPrimary + "\\Network", "/d", "1"}, "/t and /d need /v NAME"},
        {{"add", kPrimary + "\\New", "/v", "Port", "/t", "REG_BINARY", "/d", "1"}, "unsupported type 'REG_BINARY'"},
        {{"add", kPrimary + "\\New", "/v", "Port", "/t", "REG_DWORD", "/d", "eighty"}, "invalid REG_DWORD data 'eighty'"},
        {{"add", kPrimary + "\\New", "/v", "Port", "/t", "REG_DWORD", "/d", "4294967296"}, "invalid REG_DWORD data"},
        {{"add", kPrimary + "\\New", "/v", "Port", "/t", "REG_DWORD", "/d", "-1"}, "invalid REG_DWORD data"},
        {{"add", "HKLM\\Elsewhere"}, "keys directly below HKEY_LOCAL_MACHINE are fixed"},
        {{"delete", "HKLM\\SOFTWARE", "/f"}, "keys directly below HKEY_LOCAL_MACHINE are fixed"},
        {{"export", kPrimary}, "an argument is missing"},
        {{"import", home.TempDir() + "/missing.reg"}, "cannot read the file"},
    };
    for (const auto& c : cases) ExpectRefused(home, c.arguments, c.problem);
    const RunResult usage = Reg({"query"});
    EXPECT_NE(usage.err.find("Usage: varevavo-reg query KEY [/v NAME | /ve] [/s]"), std::string::npos);
}

TEST(RegistryEditor, TheDefaultSetupExportsWhole) {
    TestHome home;
    HTTPConfiguration c;
    ASSERT_TRUE(c.LoadConfiguration("Primary"));
    const std::string file = home.TempDir() + "/primary.reg";
    EXPECT_EQ(Reg({"export", kPrimary, file}).out, kDone);
    const std::string text = TestHome::ReadFile(file);
    EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary]\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Access]\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Access\\Basic]\n\n",
                         0),
              0u)
        << text;
    for (const char* line : {"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Network]\n"
                             "\"Port\"=dword:00000050\n\"SendTimeOut\"=dword:0000afc8\n",
                             "\"DocRoot\"=\"C:\\\\HTTPD\\\\HTDOCS\"\n", "\"MasterPassword\"=\"\"\n",
                             "\"MaxBodySize\"=dword:04000000\n", "\"DefaultCharset\"=\"utf-8\"\n",
                             "\"/CGI-BIN\"=\"C:\\\\HTTPD\\\\CGI-BIN\"\n",
                             "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Types]\n"
                             "\".ai\"=\"application/postscript\"\n\".eps\"=\"application/postscript\"\n",
                             "\".wrl\"=\"x-world/x-vrml\"\n\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

// Export, then import into a fresh home: the same keys, spelled the same,
// the same values in the same order with the same bytes.
TEST(RegistryEditor, ExportThenImportReproducesASetupExactly) {
    std::string exported;
    {
        TestHome home;
        HTTPConfiguration c;
        ASSERT_TRUE(c.LoadConfiguration("Primary"));
        ScopedKey odd;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Odd \"[x]\"", odd.Receive(),
                                 nullptr),
                  ERROR_SUCCESS);
        const std::string lines("two\nlines\0", 10);
        RegSetValueEx(odd.get(), "", REG_SZ, "unnamed", 8);
        const std::string quoted = "a \"quoted\" \\ text";
        RegSetValueEx(odd.get(), "say \"hi\" \\ bye", REG_SZ, quoted.c_str(), static_cast<uint32_t>(quoted.size() + 1));
        RegSetValueEx(odd.get(), "Lines", REG_SZ, lines.data(), 10);
        RegSetValueEx(odd.get(), "NoZero", REG_SZ, "abc", 3);
        RegSetValueEx(odd.get(), "Short", REG_DWORD, "\x01\x02", 2);
        RegSetValueEx(odd.get(), "Raw", REG_BINARY, "\x00\xff", 2);
        RegSetValueEx(odd.get(), "Nothing", REG_NONE, nullptr, 0);
        const std::string file = home.TempDir() + "/setup.reg";
        ASSERT_EQ(Reg({"export", "hklm\\software\\raziduzovo", file}).status, 0);
        exported = TestHome::ReadFile(file);
        EXPECT_NE(exported.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Odd \"[x]\"]\n"
                                "@=\"unnamed\"\n"
                                "\"say \\\"hi\\\" \\\\ bye\"=\"a \\\"quoted\\\" \\\\ text\"\n"
                                "\"Lines\"=hex(1):74,77,6f,0a,6c,69,6e,65,73,00\n"
                                "\"NoZero\"=hex(1):61,62,63\n"
                                "\"Short\"=hex(4):01,02\n"
                                "\"Raw\"=hex:00,ff\n"
                                "\"Nothing\"=hex(0):\n"),
                  std::string::npos)
            << exported;
    }
    TestHome fresh;
    const std::string file = fresh.TempDir() + "/setup.reg";
    TestHome::WriteFile(file, exported);
    const RunResult imported = Reg({"import", file});
    EXPECT_EQ(imported.out, kDone) << imported.err;
    const std::string again = fresh.TempDir() + "/again.reg";
    ASSERT_EQ(Reg({"export", "HKLM\\SOFTWARE\\Raziduzovo", again}).status, 0);
    EXPECT_EQ(TestHome::ReadFile(again), exported);
    HTTPConfiguration c;
    ASSERT_TRUE(c.LoadConfiguration("Primary"));
    EXPECT_EQ(c.Types.size(), 43u);
}

TEST(RegistryEditor, ImportDeletesKeysAndValuesAndTakesCarriageReturns) {
    TestHome home;
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Old\\Deep", "/v", "x", "/d", "1"}).status, 0);
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Keep", "/v", "gone", "/d", "1"}).status, 0);
    const std::string file = home.TempDir() + "/changes.reg";
    TestHome::WriteFile(file,
                        "\xEF\xBB\xBFREGEDIT4\r\n\r\n; a comment\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
                        "[-HKLM\\SOFTWARE\\NeverWas]\r\n[HKLM\\SOFTWARE\\Keep]\r\n\"gone\"=-\r\n\"absent\"=-\r\n"
                        "\"hex\"=hex(7):61,00,\\\r\n   62,00,00\r\n\"n\" = dword:FFFFFFFF\r\n");
    const RunResult result = Reg({"import", file});
    EXPECT_EQ(result.out, kDone) << result.err;
    EXPECT_EQ(Everything(home),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\n"
              "\"hex\"=hex(7):61,00,62,00,00\n\"n\"=dword:ffffffff\n\n");
}

// A malformed file is refused whole, with the line of the problem: even the
// good lines before it are not applied.
TEST(RegistryEditor, AMalformedFileIsRefusedWithItsLine) {
    TestHome home;
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Before", "/v", "x", "/d", "1"}).status, 0);
    const std::string good = "REGEDIT4\n\n[-HKLM\\SOFTWARE\\Before]\n[HKLM\\SOFTWARE\\New]\n\"a\"=\"1\"\n";
    const struct {
        const char* name;
        std::string text;
        const char* problem;
    } cases[] = {
        {"no header", "[HKLM\\SOFTWARE\\New]\n", "line 1: the file must begin with the line REGEDIT4"},
        {"empty file", "", "line 1: the file must begin"},
        {"unknown escape", good + "\"p\"=\"C:\\HTTPD\"\n", "line 6: a backslash in quotes must be written \\\\"},
        {"missing quote", good + "\"p\"=\"open\n", "line 6: the closing quote is missing"},
        {"text after the quote", good + "\"p\"=\"a\" b\n", "line 6: unexpected text after the closing quote"},
        {"bad dword", good + "\"p\"=dword:123456789\n", "line 6: dword: must be followed by 1 to 8 hexadecimal digits"},
        {"bad hex", good + "\"p\"=hex:1,zz\n", "line 6: hex data must be bytes"},
        {"unknown data", good + "\"p\"=42\n", "line 6: a value must be"},
        {"no equals sign", good + "\"p\" \"q\"\n", "line 6: expected = after the value name"},
        {"other root", good + "[HKEY_CURRENT_USER\\Software]\n", "line 6: [HKEY_CURRENT_USER\\Software] is not a key"},
        {"unclosed key", good + "[HKLM\\SOFTWARE\\X\n", "line 6: a key line must end with ]"},
        {"value in a deleted key", good + "[-HKLM\\SOFTWARE\\Gone]\n\"p\"=\"x\"\n", "line 7: a value in a [-KEY] section"},
        {"value before a key", "REGEDIT4\n\"a\"=\"1\"\n", "line 2: a value before the first [KEY] line"},
        {"stray text", good + "hello\n", "line 6: expected [KEY]"},
        {"fixed key", "REGEDIT4\n[HKLM\\SOFTWARE\\New]\n[-HKLM\\SOFTWARE]\n", "line 3: [HKEY_LOCAL_MACHINE\\SOFTWARE]: Access is denied"},
    };
    for (const auto& c : cases) {
        const std::string file = home.TempDir() + "/bad.reg";
        TestHome::WriteFile(file, c.text);
        SCOPED_TRACE(c.name);
        ExpectRefused(home, {"import", file}, c.problem);
    }
}

// varevavo-setup checks its port before it touches the store, so a bad one
// leaves no setup behind.
TEST(SetupTool, ABadPortCreatesNothing) {
    TestHome home;
    EXPECT_EQ(RunProgram({VAREVAVO_SETUP, "Fresh", "99999"}).status, 1);
    EXPECT_EQ(Reg({"query", "HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\Fresh"}).status, 1);
    EXPECT_EQ(RunProgram({VAREVAVO_SETUP, "Fresh", "8080"}).status, 0);
    HTTPConfiguration c;
    ASSERT_TRUE(c.LoadConfiguration("Fresh"));
    EXPECT_EQ(c.Port, 8080);
}

// The setup it makes is one for a person: keep-alive on with room for a
// browser's connections, no address lookup, this system's Perl; the port
// of a new setup stays 80 when none is given.
TEST(SetupTool, MakesASetupForAPerson) {
    TestHome home;
    const RunResult made = RunProgram({VAREVAVO_SETUP, "Night Shift"});
    ASSERT_EQ(made.status, 0) << made.err;
    const RunResult network = Reg({"query", "HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\Night Shift\\Network"});
    EXPECT_NE(network.out.find("    UseKeepAlive    REG_DWORD    0x1\n"), std::string::npos) << network.out;
    EXPECT_NE(network.out.find("    Port    REG_DWORD    0x50\n"), std::string::npos) << network.out;
    HTTPConfiguration c;
    ASSERT_TRUE(c.LoadConfiguration("Night Shift"));
    EXPECT_EQ(c.NumThreads, 64u);
    EXPECT_EQ(c.ResolveLocal, 0);
    EXPECT_EQ(c.PerlCmdLine, "/usr/bin/perl");
    EXPECT_EQ(c.KeepAlive, 10000u) << "the rest is the defaults";
    EXPECT_EQ(c.DocRoot, "C:\\HTTPD\\HTDOCS");
}
