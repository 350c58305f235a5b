// The private-profile writer: layout, replacement, refusal of text that
// would add lines, and a real INI reader reading the result back.
#include "platform/ProfileWriter.h"

#include <gtest/gtest.h>

#include "platform/Process.h"
#include "tests/support/TestHome.h"

using platform::ProfileWriter;
using testing_support::TestHome;

namespace {

class ProfileWriterTest : public ::testing::Test {
protected:
    std::string File() const { return home_.TempDir() + "/ZAD1.TMP"; }
    TestHome home_;
};

TEST_F(ProfileWriterTest, SectionsAndKeysKeepTheOrderOfFirstWrite) {
    ProfileWriter profile(File());
    EXPECT_TRUE(profile.WriteString("CGI", "Request Method", "GET"));
    EXPECT_TRUE(profile.WriteString("CGI", "Query String", ""));
    EXPECT_TRUE(profile.WriteString("Accept", "text/html", "Yes"));
    EXPECT_TRUE(profile.WriteString("CGI", "Request Method", "POST"));
    EXPECT_TRUE(profile.WriteString("cgi", "  REQUEST method\t", "PUT"));
    EXPECT_TRUE(profile.WriteString("System", "GMT Offset", "3600"));
    ASSERT_TRUE(profile.Flush());
    EXPECT_EQ(TestHome::ReadFile(File()),
              "[CGI]\nRequest Method=PUT\nQuery String=\n\n[Accept]\ntext/html=Yes\n\n[System]\nGMT Offset=3600\n");

    EXPECT_TRUE(profile.WriteString("Accept", "image/gif", "Yes"));
    ASSERT_TRUE(profile.Flush());
    EXPECT_NE(TestHome::ReadFile(File()).find("text/html=Yes\nimage/gif=Yes\n\n[System]"), std::string::npos);
}

TEST_F(ProfileWriterTest, RefusesTextThatWouldAddLines) {
    const struct {
        const char* name;
        std::string section, key, value;
        bool accepted;
    } cases[] = {
        {"LF in a value", "Form Literal", "a", "x\n[CGI]\nExecutable Path=/bin/sh", false},
        {"CR in a value", "Form Literal", "a", "x\rb=1", false},
        {"NUL in a value", "Form Literal", "a", std::string("x\0y", 3), false},
        {"LF in a key", "Form Literal", "a\nb", "1", false},
        {"CR in a key", "Form Literal", "a\rb", "1", false},
        {"key read as a header", "Form Literal", "[CGI]", "1", false},
        {"key read as a comment", "Form Literal", " ;a", "1", false},
        {"empty key", "Form Literal", " ", "1", false},
        {"LF in a section", "Form\nLiteral", "a", "1", false},
        {"bracket in a section", "Form]x", "a", "1", false},
        {"empty section", "", "a", "1", false},
        {"bracket and semicolon inside a key", "Form Literal", "a[1];b", "1", true},
        {"value with signs", "Form Literal", "v", " =[x];#", true},
        {"media range with a parameter as a key", "Form Literal", "image/gif;q=0.5", "Yes", true},
    };
    ProfileWriter profile(File());
    std::string expected = "[Form Literal]\n";
    for (const auto& c : cases) {
        EXPECT_EQ(profile.WriteString(c.section, c.key, c.value), c.accepted) << c.name;
        if (c.accepted) expected += c.key + "=" + c.value + "\n";
    }
    ASSERT_TRUE(profile.Flush());
    EXPECT_EQ(TestHome::ReadFile(File()), expected);
}

TEST_F(ProfileWriterTest, FlushFailsWhereTheFileCannotBeWritten) {
    ProfileWriter profile(R"(C:\no\such\folder\ZAD1.TMP)");
    EXPECT_TRUE(profile.WriteString("CGI", "a", "b"));
    EXPECT_FALSE(profile.Flush());
}

TEST_F(ProfileWriterTest, ConfigparserReadsItBack) {
    ProfileWriter profile(File());
    profile.WriteString("CGI", "Request Method", "POST");
    profile.WriteString("CGI", "Executable Path", home_.DriveC("HTTPD/CGI-WIN/prog.py"));
    profile.WriteString("CGI", "Query String", "a=1&b=%20");
    profile.WriteString("Accept", "text/html", "Yes");
    profile.WriteString("Accept", "image/gif;q=0.5", "Yes");
    profile.WriteString("Form Literal", "word", "two parts");
    profile.WriteString("Form Literal", "Word", "replaced");
    profile.WriteString("Form Literal", "evil", "x\n[CGI]\nRequest Method=GET");
    profile.WriteString("Form External", "city", "/tmp/ZAD2.TMP 6");
    ASSERT_TRUE(profile.Flush());

    // Windows CGI programs split a line at its first "=" and take "%"
    // literally; the reader is told the same.
    const std::string reader =
        "import configparser, sys\n"
        "p = configparser.ConfigParser(delimiters=('=',), interpolation=None)\n"
        "p.optionxform = str\n"
        "p.read_file(open(sys.argv[1]))\n"
        "for s in p.sections():\n"
        "    print('[%s]' % s)\n"
        "    for k, v in p.items(s): print('%s|%s' % (k, v))\n";
    platform::ChildProcess python;
    const std::string output = home_.TempDir() + "/read.txt";
    ASSERT_TRUE(python.Start({.arguments = {"python3", "-c", reader, File()}, .output = output, .errorToOutput = true}))
        << python.LastError();
    ASSERT_TRUE(python.Wait(30000));
    EXPECT_EQ(python.ExitCode(), 0) << TestHome::ReadFile(output);
    EXPECT_EQ(TestHome::ReadFile(output), "[CGI]\nRequest Method|POST\nExecutable Path|" +
                                              home_.DriveC("HTTPD/CGI-WIN/prog.py") +
                                              "\nQuery String|a=1&b=%20\n[Accept]\ntext/html|Yes\nimage/gif;q|0.5=Yes\n"
                                              "[Form Literal]\nword|replaced\n[Form External]\ncity|/tmp/ZAD2.TMP 6\n");
}

}  // namespace
