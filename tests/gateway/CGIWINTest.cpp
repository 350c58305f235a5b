// Windows CGI end to end: a real program reads its profile with a real INI
// reader (Python's configparser) and answers from it.
#include <gtest/gtest.h>

#include <regex>

#include "gateway/CGIWINEngine.h"
#include "tests/gateway/GatewaySite.h"

using namespace gateway_test;

namespace {

// Answers with its whole profile in file order ("[Section]" and "key|value"
// lines), the contents of the external value files, and what it got on
// its command line. Windows CGI programs split a line at its first "=" and
// take "%" literally; the reader is told the same.
const char* const kProgram = R"(#!/usr/bin/env python3
import configparser, os, sys
profile, content, output = sys.argv[1:4]
p = configparser.ConfigParser(delimiters=('=',), interpolation=None)
p.optionxform = str
with open(profile, encoding='latin-1') as f:
    p.read_file(f)
out = ['Content-Type: text/plain', '']
for s in p.sections():
    out.append('[%s]' % s)
    out.extend('%s|%s' % item for item in p.items(s))
if p.has_section('Form External'):
    for key, value in p.items('Form External'):
        name, size = value.rsplit(' ', 1)
        out.append('%s=%s' % (key, open(name, 'rb').read().decode('latin-1')))
out.append('arguments: %d, content: %d bytes, in %s' % (len(sys.argv) - 1, os.path.getsize(content), os.getcwd()))
with open(output, 'w', encoding='latin-1') as f:
    f.write('\n'.join(out) + '\n')
)";

// The body with every temporary file name made "<tmp>".
std::string WithoutTempNames(const std::string& body) {
    static const std::regex temp(R"([^\s|=]*/ZAD\w{6}\.TMP)");
    return std::regex_replace(body, temp, "<tmp>");
}

class WindowsCGI : public ::testing::Test {
protected:
    void Start(const std::function<void(HTTPConfiguration&)>& tweak = {}) {
        server_ = std::make_unique<TestServer>(tweak);
        WriteScript(*server_, "CGI-WIN/prog.py", kProgram);
    }
    TestServer& t() { return *server_; }
    std::unique_ptr<TestServer> server_;
};

TEST_F(WindowsCGI, GetDescribesTheRequestInTheProfile) {
    Start();
    const std::string response = Get(t(), "/CGI-WIN/prog.py/extra?a=1&b=%20",
                                     "Accept: text/html, image/gif;q=0.5\r\nAccept-Language: de\r\nCookie: c=1\r\n"
                                     "Referer: http://elsewhere/\r\nUser-Agent: tester\r\n"
                                     "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n");
    const std::string body =
        "[CGI]\nRequest Protocol|HTTP/1.0\nRequest Method|GET\nExecutable Path|" + t().Site("CGI-WIN/prog.py") +
        "\nDocument Root|" + t().Site("HTDOCS") + "\nLogical Path|/extra\nPhysical Path|" + t().Site("HTDOCS/extra") +
        "\nQuery String|a=1&b=%20\nReferer|http://elsewhere/\nUser Agent|tester\nContent Type|\nContent Length|\n"
        "Content File|\nServer Software|Varevavo/1.0b3A (Win32; i386)\nServer Name|localhost\nServer Port|" +
        std::to_string(t().Port()) +
        "\nServer Admin|webmaster@localhost\nCGI Version|CGI/1.3a (Win)\nRemote Host|\nRemote Address|127.0.0.1\n"
        "Authentication Method|Basic\nAuthentication Realm|\nAuthenticated Username|user\n"
        "Authenticated Password|secret\n[Accept]\ntext/html|Yes\nimage/gif|q=0.5\n[System]\nGMT Offset|" +
        std::to_string(GMTOffsetSeconds(platform::GetTimeZoneInfo())) +
        "\nDebug Mode|No\nOutput File|<tmp>\nContent File|\n[Extra Headers]\nAccept-Language|de\nCookie|c=1\n"
        "arguments: 3, content: 0 bytes, in " + t().Site("CGI-WIN") + "\n";
    EXPECT_EQ(Head(response), PlainHead("HTTP/1.0 200 Document Follows", Body(response).size(), "text/plain"));
    EXPECT_EQ(WithoutTempNames(Body(response)), body);
    EXPECT_NE(t().Log("TRACE.LOG").find("(CGI-WIN Launch)  WorkPath: C:\\\\HTTPD\\\\CGI-WIN CmdLine: "
                                        "\\\"C:\\\\HTTPD\\\\CGI-WIN\\\\prog.py\\\" "),
              std::string::npos);
    EXPECT_TRUE(TempDirEmptiesSoon(t().Home())) << "profile, spare content file and output are gone";
}

TEST_F(WindowsCGI, PostFormFieldsLiteralAndExternal) {
    Start([](HTTPConfiguration& c) { c.CGIDebugMode = 1; });
    const std::string exactly254(254, 'y');
    const std::string exactly255(255, 'x');
    const std::string form = "word=two+parts&city=Z%FCrich&short=" + exactly254 + "&long=" + exactly255 +
                             "&semi=a;b%3D1&ba\x01" "d=1&ba\nd=2&Word=last&empty=";
    const std::string body = WithoutTempNames(Body(
        Post(t(), "/CGI-WIN/prog.py", form, "Content-Type: application/x-www-form-urlencoded\r\n")));
    const std::string formSections =
        "[Form Literal]\nword|last\nshort|" + exactly254 + "\nsemi|a;b=1\nempty|\n[Form External]\ncity|<tmp> 6\n"
        "long|<tmp> 255\ncity=Z\xFCrich\nlong=" + exactly255 + "\narguments: 3, content: " +
        std::to_string(form.size()) + " bytes, in " + t().Site("CGI-WIN") + "\n";
    EXPECT_TRUE(body.ends_with(formSections)) << body;
    EXPECT_NE(body.find("Request Method|POST\n"), std::string::npos);
    EXPECT_NE(body.find("Content Length|" + std::to_string(form.size()) + "\nContent File|<tmp>\n"), std::string::npos);
    EXPECT_NE(body.find("Debug Mode|Yes\nOutput File|<tmp>\nContent File|<tmp>\n"), std::string::npos);

    const std::string errors = t().Log("ERROR.LOG");
    const std::string line = "] (CGI-WIN) Form field with a bad name dropped\r\n";
    size_t dropped = 0;
    for (size_t at = 0; (at = errors.find(line, at)) != std::string::npos; ++at) ++dropped;
    EXPECT_EQ(dropped, 2u) << errors;
    EXPECT_TRUE(TempDirEmptiesSoon(t().Home())) << "the external value files and the request body are gone too";
}

// No text of the client makes a key, a section or a line of its own, and
// every key is written whatever the client sent.
TEST_F(WindowsCGI, ClientTextMakesNoKeyOrLineOfItsOwn) {
    Start();
    const std::string body = Body(Get(t(), "/CGI-WIN/prog.py?a\x0b" "b",
                                      "Accept: Output File=/tmp/x, text/html;level=1; q=0.5, [System], image/gif\r\n"
                                      "Cookie: c=1\x0c" "Debug Mode=Yes\r\n"
                                      "Authorization: Basic dXMNCmVyOnBhCnNz\r\n"));  // "us\r\ner" and "pa\nss"
    EXPECT_NE(body.find("\nQuery String|a b\n"), std::string::npos) << body;
    EXPECT_NE(body.find("\nAuthenticated Username|us  er\nAuthenticated Password|pa ss\n"), std::string::npos)
        << body;
    EXPECT_NE(body.find("\n[Accept]\ntext/html|level=1; q=0.5\nimage/gif|Yes\n[System]\n"), std::string::npos)
        << body;
    EXPECT_NE(body.find("\nDebug Mode|No\n"), std::string::npos) << body;
    EXPECT_NE(body.find("\nCookie|c=1 Debug Mode=Yes\n"), std::string::npos) << body;
    EXPECT_EQ(body.find("Output File|/tmp/x"), std::string::npos) << body;
}

TEST_F(WindowsCGI, PasswordKeyFollowsCGISendPassword) {
    const struct {
        const char* name;
        int send;
        const char* credentials;
        const char* expected;  // the text after "Authenticated Username|"
    } cases[] = {
        {"sent", 1, "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n", "user\nAuthenticated Password|secret\n[System]"},
        {"sent empty without credentials", 1, "", "\nAuthenticated Password|\n[System]"},
        {"withheld", 0, "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n", "user\n[System]"},
    };
    for (const auto& c : cases) {
        Start([&c](HTTPConfiguration& config) { config.CGISendPassword = c.send; });
        const std::string body = Body(Get(t(), "/CGI-WIN/prog.py", c.credentials));
        EXPECT_NE(body.find(std::string("Authenticated Username|") + c.expected), std::string::npos)
            << c.name << "\n" << body;
        server_.reset();
    }
}

TEST_F(WindowsCGI, ProgramThatCannotStartOrRunsTooLong) {
    Start([](HTTPConfiguration& c) { c.CGITimeOut = 500; });
    WriteScript(t(), "CGI-WIN/broken.py", "#!/no/such/interpreter\n");
    WriteScript(t(), "CGI-WIN/slow.sh",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\nsoon\\n' > \"$3\"\nexec sleep 60\n");
    const std::string document = StatusDocument("WinCGI Launch Error");
    EXPECT_EQ(Get(t(), "/CGI-WIN/broken.py"),
              PlainHead("HTTP/1.0 500 WinCGI Launch Error", document.size(), "text/html") + document);
    EXPECT_EQ(Get(t(), "/CGI-WIN/slow.sh"), PlainHead("HTTP/1.0 200 Document Follows", 5, "text/plain") + "soon\n");
    const std::string errors = t().Log("ERROR.LOG");
    EXPECT_NE(
        errors.find(R"(] WinCGI Launch \"C:\\HTTPD\\CGI-WIN\\broken.py\": CreateProcess failed; )" "error code = 2\r\n"),
        std::string::npos);
    EXPECT_NE(errors.find(R"(] WinCGI Launch \"C:\\HTTPD\\CGI-WIN\\slow.sh\": Process timed out)" "\r\n"),
              std::string::npos);
    EXPECT_TRUE(TempDirEmptiesSoon(t().Home()));
}

TEST(WindowsCGIValues, IsExternal) {
    const struct {
        const char* name;
        std::string value;
        bool external;
    } cases[] = {
        {"empty", "", false},
        {"printable", "two parts ~!", false},
        {"254 characters", std::string(254, 'a'), false},
        {"255 characters", std::string(255, 'a'), true},
        {"tab", "a\tb", true},
        {"line feed", "a\nb", true},
        {"DEL", "a\x7f", true},
        {"byte above 127", "Z\xFCrich", true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsExternal(c.value), c.external) << c.name;
}

}  // namespace
