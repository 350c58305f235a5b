// Failures of the disk seen by a real server: a full log disk, a full
// TMPDIR under a script, a full document disk under a PUT, a PUT cut short,
// and what earlier runs left behind. A full disk is made with the file-size
// limit (any user) or, for root, with a small tmpfs; a test that cannot
// make one says so and is skipped.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <set>
#include <thread>

#include "http/FileTests.h"
#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::TestHome;
using testing_support::TestServer;
using testing_support::WaitUntil;
using testing_support::Occurrences;
using testing_support::BodyOf;
using testing_support::StatusOf;

namespace {

namespace fs = std::filesystem;

// Writes past bytes fail (EFBIG) in this process and the scripts it starts.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        Set(bytes);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
    }
    void Set(rlim_t bytes) {
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    void Lift() { ::setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
    void (*previous_)(int) = nullptr;
};

// A tmpfs of the given size mounted on a folder (root only).
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const char* size) : folder_(folder) {
        fs::create_directories(folder);
        mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

void WriteScript(TestServer& t, const std::string& name, const std::string& text) {
    t.WriteSite("CGI-BIN/" + name, text);
    fs::permissions(t.Site("CGI-BIN/" + name), fs::perms(0755));
}

// A script that prints a header and then bytes "x".
std::string Printer(int bytes) {
    return "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\n'\nhead -c " + std::to_string(bytes) +
           " /dev/zero | tr '\\000' x\n";
}

}  // namespace

TEST(FullDisk, ALogLineIsWrittenWholeOrNotAtAllAndTheLossesAreReported) {
    TestServer t;
    t.WriteSite("HTDOCS/l.txt", "logged");
    const auto get = [&] { return StatusOf(t.Exchange("GET /l.txt HTTP/1.0\r\n\r\n")); };
    ASSERT_EQ(get(), "HTTP/1.0 200 Document Follows");
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(t.Log("ACCESS.LOG"), "\r\n") == 1; }));
    const size_t lineSize = t.Log("ACCESS.LOG").size();
    int sent = 1;
    {
        // Room for two more lines and part of a third.
        FileSizeLimit limit(3 * lineSize + lineSize / 2);
        testing::internal::CaptureStderr();
        for (; sent < 30; ++sent) EXPECT_EQ(get(), "HTTP/1.0 200 Document Follows");
        const std::string told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Occurrences(told, "cannot write the log"), 1u) << "told once, not per line: " << told;
        const std::string log = t.Log("ACCESS.LOG");
        EXPECT_EQ(Occurrences(log, "\r\n"), 3u);
        EXPECT_TRUE(log.ends_with("\r\n")) << "no part of a line is left";
        EXPECT_EQ(Occurrences(log, "GET /l.txt"), 3u);
    }
    // Space again: the next line is written on a line of its own, and the
    // error log tells how many were lost.
    EXPECT_EQ(get(), "HTTP/1.0 200 Document Follows");
    ++sent;
    ASSERT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("lines could not be written") != std::string::npos; }));
    const std::string errors = t.Log("ERROR.LOG");
    const size_t at = errors.find("] ") + 2;
    const int lost = std::stoi(errors.substr(at));
    EXPECT_EQ(Occurrences(errors, "could not be written"), 1u) << errors;
    EXPECT_NE(errors.find("File too large"), std::string::npos) << errors;
    const std::string log = t.Log("ACCESS.LOG");
    EXPECT_EQ(static_cast<int>(Occurrences(log, "\r\n")) + lost, sent) << log;
    EXPECT_EQ(Occurrences(log, "\r\n"), Occurrences(log, "HTTP/1.0\" 200 6 - -\r\n")) << "every line whole: " << log;
}

TEST(FullDisk, ScriptOutputOrInputCutShortIsAnErrorNotASuccess) {
    TestServer t;
    WriteScript(t, "big.cgi", Printer(200 * 1024));
    WriteScript(t, "small.cgi", Printer(10 * 1024));
    WriteScript(t, "echo.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\n'\ncat\n");
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(StatusOf(t.Exchange("GET /CGI-BIN/big.cgi HTTP/1.0\r\n\r\n")), "HTTP/1.0 500 CGI Output Cut Short");
    EXPECT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("Script output cut short") != std::string::npos; }));
    const std::string small = t.Exchange("GET /CGI-BIN/small.cgi HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusOf(small), "HTTP/1.0 200 Document Follows");
    EXPECT_TRUE(small.ends_with("\r\n\r\n" + std::string(10 * 1024, 'x')));
    // The script's input: a body the server cannot store whole.
    const std::string post = t.Exchange("POST /CGI-BIN/echo.cgi HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" +
                                        std::string(100000, 'b'));
    EXPECT_EQ(StatusOf(post), "HTTP/1.0 500 Request body not stored");
    EXPECT_TRUE(
        WaitUntil([&] { return t.Log("ERROR.LOG").find("Unable to store the request body") != std::string::npos; }));
}

TEST(FullDisk, AWindowsProgramsProfileCutShortIsAnErrorAndTheProgramDoesNotRun) {
    TestServer t;
    t.WriteSite("CGI-WIN/prog.sh", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nran' > \"$3\"\n");
    std::filesystem::permissions(t.Site("CGI-WIN/prog.sh"), std::filesystem::perms(0755));
    // The form and the body fit; the profile, which also holds the cookie, does not.
    std::string form;
    for (int i = 0; form.size() < 6000; ++i) form += "field" + std::to_string(i) + "=value&";
    const std::string post = "POST /CGI-WIN/prog.sh HTTP/1.0\r\nCookie: " + std::string(4000, 'c') +
                             "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                             std::to_string(form.size()) + "\r\n\r\n" + form;
    {
        FileSizeLimit limit(8 * 1024);
        EXPECT_EQ(StatusOf(t.Exchange(post)), "HTTP/1.0 500 CGI Input Cut Short");
    }
    EXPECT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("profile or form files") != std::string::npos; }));
    EXPECT_EQ(BodyOf(t.Exchange(post)), "ran") << "with room, the same request runs";
}

TEST(FullDisk, ScriptOutputCutShortByAFullTempFolder) {
    TestServer t;
    SmallDisk disk(t.Home().TempDir(), "64k");
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
    WriteScript(t, "big.cgi", Printer(200 * 1024));
    EXPECT_EQ(StatusOf(t.Exchange("GET /CGI-BIN/big.cgi HTTP/1.0\r\n\r\n")), "HTTP/1.0 500 CGI Output Cut Short");
    EXPECT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("Script output cut short") != std::string::npos; }));
}

TEST(FullDisk, APutOntoAFullDiskIsAServerErrorAndKeepsTheOldDocument) {
    TestServer t([](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterUser = "u";
        c.MasterPassword = "p";
    });
    SmallDisk disk(t.Site("HTDOCS/full"), "64k");
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
    t.WriteSite("HTDOCS/full/page.txt", "old");
    const auto put = [&](const std::string& path, const std::string& body) {
        return StatusOf(t.Exchange("PUT " + path + " HTTP/1.0\r\nAuthorization: Basic dTpw\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n\r\n" + body));
    };
    EXPECT_EQ(put("/full/page.txt", std::string(200 * 1024, 'n')), "HTTP/1.0 500 PUT Write Error");
    EXPECT_TRUE(WaitUntil([&] { return t.Log("ERROR.LOG").find("No space left on device") != std::string::npos; }));
    EXPECT_EQ(TestHome::ReadFile(t.Site("HTDOCS/full/page.txt")), "old");
    EXPECT_EQ(put("/full/new.txt", std::string(200 * 1024, 'n')), "HTTP/1.0 500 PUT Write Error");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(t.Site("HTDOCS/full"))) names.insert(entry.path().filename());
    EXPECT_EQ(names, std::set<std::string>{"page.txt"}) << "nothing is left of the failed copies";
    // A conflict is still a conflict: the target's folder does not exist.
    EXPECT_EQ(put("/missing/page.txt", "x"), "HTTP/1.0 409 PUT Conflict Error");
    EXPECT_EQ(put("/full/page.txt", "fits"), "HTTP/1.0 200 Document written");
}

TEST(InterruptedPut, NoPartOfADocumentIsEverFoundUnderAnyName) {
    TestServer t([](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterUser = "u";
        c.MasterPassword = "p";
    });
    t.WriteSite("HTDOCS/pub/page.bin", "old");
    const std::string body(32 * 1024 * 1024, 'n');
    std::atomic<bool> done{false};
    std::set<std::string> seen;
    std::thread watcher([&] {
        while (!done.load())
            for (const auto& entry : fs::directory_iterator(t.Site("HTDOCS/pub"))) seen.insert(entry.path().filename());
    });
    const std::string answer = t.Exchange(
        "PUT /pub/page.bin HTTP/1.0\r\nAuthorization: Basic dTpw\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body,
        30000);
    done = true;
    watcher.join();
    EXPECT_EQ(StatusOf(answer), "HTTP/1.0 200 Document written");
    EXPECT_EQ(FileSize(t.Site("HTDOCS/pub/page.bin")), body.size());
    // The copy has no name until it is whole; a replacement then takes a
    // hidden in-between name for an instant before the rename.
    for (const std::string& name : seen)
        EXPECT_TRUE(name == "page.bin" || (name.starts_with(".page.bin.ZAD") && name.size() == 19)) << name;

    // Where a file system has no unnamed files, a copy is written under an
    // in-between name (an earlier version used the form without the dot):
    // never served, never listed.
    t.WriteSite("HTDOCS/pub/.page.bin.ZADabc123", "part");
    t.WriteSite("HTDOCS/pub/page.bin.ZADGxay4C", "part");
    for (const char* name : {"/pub/.page.bin.ZADabc123", "/pub/page.bin.ZADGxay4C"})
        EXPECT_EQ(StatusOf(t.Exchange("GET " + std::string(name) + " HTTP/1.0\r\n\r\n")),
                  "HTTP/1.0 404 Resource not found")
            << name;
    const std::string listing = t.Exchange("GET /pub/ HTTP/1.0\r\n\r\n");
    EXPECT_NE(listing.find("page.bin"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("ZAD"), std::string::npos) << listing;
}

TEST(Leftovers, TheFirstServerOnAHomeClearsWhatEarlierRunsLeftAndNoOneElses) {
    TestHome home;
    TestServer::WriteSetup(home, {});
    const auto old = [](const std::string& path) {
        TestHome::WriteFile(path, "left");
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(2));
    };
    // What a killed server left: a body or script output in TMPDIR, copies
    // cut short beside documents (an earlier version named them so).
    const std::string temp = MakeTempFile();
    const std::string htdocs = home.DriveC("HTTPD/HTDOCS/");
    old(htdocs + "page.bin.ZADGxay4C");
    old(htdocs + "sub/deeper/.x.txt.ZADabc123");
    old(home.DriveC("HTTPD/CGI-BIN/run.cgi.ZADqwerty"));
    // What is not ours or not left over: another home's temporary file, a
    // copy written to a moment ago (another home's server may share the
    // folder), names of another form.
    const std::string foreign = home.TempDir() + "/varevavo-0123456789abcdef/ZADabcdef.TMP";
    TestHome::WriteFile(foreign, "theirs");
    TestHome::WriteFile(htdocs + "fresh.bin.ZADxyz789", "in progress");
    old(htdocs + "notes.ZAD");
    old(htdocs + "page.ZADGxay4C.html");

    HTTPServer server("Primary");
    server.StartServer();
    EXPECT_FALSE(TestHome::FileExists(temp));
    EXPECT_FALSE(TestHome::FileExists(htdocs + "page.bin.ZADGxay4C"));
    EXPECT_FALSE(TestHome::FileExists(htdocs + "sub/deeper/.x.txt.ZADabc123"));
    EXPECT_FALSE(TestHome::FileExists(home.DriveC("HTTPD/CGI-BIN/run.cgi.ZADqwerty")));
    for (const std::string& kept : {foreign, htdocs + "fresh.bin.ZADxyz789", htdocs + "notes.ZAD",
                                     htdocs + "page.ZADGxay4C.html"})
        EXPECT_TRUE(TestHome::FileExists(kept)) << kept;

    // A second server on the same home leaves the running one's files alone.
    const std::string live = MakeTempFile();
    {
        platform::HomeLock second;
        EXPECT_FALSE(second.Take({"C:\\HTTPD\\HTDOCS"}));
    }
    EXPECT_TRUE(TestHome::FileExists(live));
    server.ShutdownServer();
}
