// What real browsers and tools meet end to end: content types from the
// system's table, redirects built from the client's Host, listings of
// UTF-8 and odd names, "Connection: close" where the server closes, PUT
// without a length, and a setup without DefaultIndex.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "config/SystemMIMETable.h"
#include "platform/MessageDisplay.h"
#include "platform/RegistryStore.h"
#include "server/HTTPServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestServer.h"

using testing_support::TestHome;
using testing_support::TestServer;
using testing_support::WithoutDates;

namespace {

std::string Get(TestServer& t, const std::string& path, const std::string& headers = "",
                const std::string& version = "HTTP/1.0") {
    return WithoutDates(t.Exchange("GET " + path + " " + version + "\r\n" + headers + "\r\n"));
}

// The value of a response header, or "<none>".
std::string HeaderOf(const std::string& response, const std::string& name) {
    const size_t end = response.find("\r\n\r\n");
    const size_t at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > end) return "<none>";
    const size_t start = at + name.size() + 4;
    return response.substr(start, response.find("\r\n", start) - start);
}

std::string Body(const std::string& response) { return response.substr(response.find("\r\n\r\n") + 4); }

// The link targets of a listing page, in page order.
std::vector<std::string> Links(const std::string& page) {
    std::vector<std::string> links;
    for (size_t at = page.find("<A HREF=\""); at != std::string::npos; at = page.find("<A HREF=\"", at)) {
        at += 9;
        links.push_back(page.substr(at, page.find('"', at) - at));
    }
    return links;
}

// Gives the running server a copy of its setup changed by tweak.
void Reconfigure(TestServer& t, const std::function<void(HTTPConfiguration&)>& tweak) {
    HTTPConfiguration config = *t.Server().Snapshot();
    tweak(config);
    t.Server().ReplaceConfiguration(config);
}

TEST(ContentTypes, TheSystemTableFillsWhatTheSetupLacks) {
    TestServer t([](HTTPConfiguration& c) { c.Types.emplace_back("text/x-own-css", ".css"); });
    const std::map<std::string, std::string> expected = {
        {"style.css", "text/x-own-css"},  // the setup's entry wins
        {"app.js", "text/javascript"},       {"logo.png", "image/png"},       {"icon.SVG", "image/svg+xml"},
        {"data.json", "application/json"},   {"paper.pdf", "application/pdf"}, {"font.woff2", "font/woff2"},
        {"code.wasm", "application/wasm"},   {"clip.mp4", "video/mp4"},
        {"notes.txt", "text/plain; charset=utf-8"}, {"old.exe", "application/exe"},   // the 43 entries come first
        {"mystery.zzqx", "text/html"},       {".png", "text/html"},            // known to neither
    };
    for (const auto& [name, type] : expected) {
        t.WriteSite("HTDOCS/" + name, "x");
        EXPECT_EQ(HeaderOf(Get(t, "/" + name), "Content-Type"), type) << name;
    }
}

TEST(ContentTypes, EveryReloadReadsTheSystemTableAfresh) {
    TestServer t;
    const auto first = t.Server().Snapshot()->SystemTypes;
    ASSERT_TRUE(first && first->Size() > 500u) << "media-types installs " << SystemMIMETable::kSystemPath;
    t.Server().ReloadConfiguration();
    EXPECT_NE(t.Server().Snapshot()->SystemTypes, first);
}

// Plain text documents name the setup's charset; HTML, types that name
// their own, status documents and what scripts say are left as they are.
TEST(ContentTypes, PlainTextNamesTheSetupsCharset) {
    TestServer t([](HTTPConfiguration& c) { c.Types.emplace_back("text/plain; charset=iso-8859-1", ".lat"); });
    t.WriteSite("HTDOCS/caf\xC3\xA9.txt", "caf\xC3\xA9\n");
    t.WriteSite("HTDOCS/page.html", "<p>caf\xC3\xA9</p>");
    t.WriteSite("HTDOCS/old.lat", "caf\xE9\n");
    t.WriteSite("CGI-BIN/plain.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nplain'\n");
    std::filesystem::permissions(t.Site("CGI-BIN/plain.cgi"), std::filesystem::perms(0755));
    const struct {
        const char* setting;
        const char* text;  // the type of the .txt document
    } settings[] = {{"utf-8", "text/plain; charset=utf-8"}, {"", "text/plain"},
                    {"iso-8859-15", "text/plain; charset=iso-8859-15"}};
    for (const auto& setting : settings) {
        // The server's record changes under the workers' remembered types.
        Reconfigure(t, [&](HTTPConfiguration& c) { c.DefaultCharset = setting.setting; });
        SCOPED_TRACE(setting.setting);
        EXPECT_EQ(HeaderOf(Get(t, "/caf%C3%A9.txt"), "Content-Type"), setting.text);
        EXPECT_EQ(HeaderOf(WithoutDates(t.Exchange("HEAD /caf%C3%A9.txt HTTP/1.0\r\n\r\n")), "Content-Type"),
                  setting.text);
        EXPECT_EQ(HeaderOf(Get(t, "/caf%C3%A9.txt", "Range: bytes=0-2\r\n"), "Content-Type"), setting.text);
        EXPECT_EQ(HeaderOf(Get(t, "/page.html"), "Content-Type"), "text/html");
        EXPECT_EQ(HeaderOf(Get(t, "/old.lat"), "Content-Type"), "text/plain; charset=iso-8859-1");
        EXPECT_EQ(HeaderOf(Get(t, "/missing.txt"), "Content-Type"), "text/html");
        EXPECT_EQ(HeaderOf(Get(t, "/CGI-BIN/plain.cgi"), "Content-Type"), "text/plain");
    }
}

TEST(SystemMIMETable, ReadsTypesExtensionsAndComments) {
    TestHome home;
    const std::string path = home.Path() + "/mime.types";
    TestHome::WriteFile(path, "# text/x-comment css\ntext/css\t\tcss\n\napplication/x-first dup Tgz\r\n"
                              "application/x-second dup\napplication/x-font pcf.Z\napplication/x-none\nnotatype word\n");
    SystemMIMETable table;
    ASSERT_TRUE(table.Load(path));
    EXPECT_EQ(table.Size(), 4u);
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\WWW\\site.css", "text/css"}, {"A.CSS", "text/css"},     {"x.dup", "application/x-first"},
        {"a.tgz", "application/x-first"},  {"f.pcf.z", "application/x-font"}, {".css", ""},
        {"dir.css/file", ""},              {"x.word", ""},               {"x.", ""}};
    for (const auto& [name, type] : cases) EXPECT_EQ(table.Find(name), type) << name;
    EXPECT_FALSE(table.Load(home.Path() + "/missing"));
    EXPECT_EQ(table.Size(), 0u);
}

// Every extension of the system's own table, in either letter case, finds
// the type of the first line that names it, read here the plain way.
TEST(SystemMIMETable, FindsEveryExtensionOfTheSystemTable) {
    SystemMIMETable table;
    ASSERT_TRUE(table.Load(SystemMIMETable::kSystemPath));
    std::ifstream in(SystemMIMETable::kSystemPath);
    std::map<std::string, std::string> first;
    std::string line, type, extension;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        if (!(words >> type) || type[0] == '#' || type.find('/') == std::string::npos) continue;
        while (words >> extension) {
            for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            first.emplace(extension, type);
        }
    }
    ASSERT_GT(first.size(), 500u);
    EXPECT_EQ(table.Size(), first.size());
    for (const auto& [extension, wanted] : first) {
        EXPECT_EQ(table.Find("x." + extension), wanted) << extension;
        std::string upper = extension;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(table.Find("/d/X." + upper), wanted) << extension;
    }
}

TEST(DirectoryRedirects, LocationFollowsAValidHost) {
    TestServer t;
    std::filesystem::create_directories(t.Site("HTDOCS/sub dir"));
    std::filesystem::create_directories(t.Site("HTDOCS/a#b"));
    const std::string fallback = "http://localhost:" + std::to_string(t.Port());
    const struct {
        const char* host;
        std::string location;
    } cases[] = {
        {"www.example.org", "http://www.example.org/sub%20dir/"},
        {"192.168.1.20:8080", "http://192.168.1.20:8080/sub%20dir/"},
        {"[fe80::1]:81", "http://[fe80::1]:81/sub%20dir/"},
        {"", fallback + "/sub%20dir/"},
        {"evil.org/path", fallback + "/sub%20dir/"},
        {"host:http", fallback + "/sub%20dir/"},
        {"host\"><script>", fallback + "/sub%20dir/"},
    };
    for (const auto& c : cases) {
        const std::string headers = *c.host ? "Host: " + std::string(c.host) + "\r\n" : "";
        const std::string got = Get(t, "/sub%20dir", headers);
        EXPECT_EQ(got.substr(0, got.find("\r\n")), "HTTP/1.0 302 Redirection") << c.host;
        EXPECT_EQ(HeaderOf(got, "Location"), c.location) << c.host;
    }
    EXPECT_EQ(HeaderOf(Get(t, "/a%23b", "Host: h\r\n"), "Location"), "http://h/a%23b/")
        << "a # in a folder name is not taken for a fragment";
}

TEST(Listings, UTF8NamesAndOddCharactersLinkToTheirFiles) {
    TestServer t;
    const std::string names[] = {"\xC3\xBCn\xC3\xAF.txt", "a#b.txt", "x&y.txt", "50%.txt", "c?d.txt", "e+f g.txt"};
    for (const std::string& name : names) t.WriteSite("HTDOCS/odd/" + name, "content of " + name);
    for (const int form : {1, 3}) {
        t.Server().ReloadConfiguration();
        HTTPConfiguration config = *t.Server().Snapshot();
        config.AutoIndex = static_cast<uint32_t>(form);
        t.Server().ReplaceConfiguration(config);
        const std::string listing = Get(t, "/odd/");
        EXPECT_EQ(HeaderOf(listing, "Content-Type"), "text/html; charset=UTF-8");
        const std::string page = Body(listing);
        for (const char* link :
             {"%C3%BCn%C3%AF.txt", "a%23b.txt", "x%26y.txt", "50%25.txt", "c%3Fd.txt", "e%2Bf%20g.txt"}) {
            EXPECT_NE(page.find("<A HREF=\"" + std::string(link) + "\">"), std::string::npos) << form << " " << link;
            const std::string got = Get(t, "/odd/" + std::string(link));
            EXPECT_EQ(got.substr(0, got.find("\r\n")), "HTTP/1.0 200 Document Follows") << link;
            EXPECT_TRUE(Body(got).starts_with("content of ")) << link;
        }
        EXPECT_NE(page.find(">\xC3\xBCn\xC3\xAF.txt</A>"), std::string::npos) << "names are shown as they are";
    }
}

TEST(Listings, PlainColumnsCountWhatAReaderSees) {
    TestServer t;
    const std::string cut = std::string(28, 'x') + "\xC3\xA9\xC3\xA9";  // 30 characters
    for (const std::string& name : {std::string("a&b<c>.txt"), std::string("\xC3\xBC\xC3\xBC\xC3\xBC.txt"), cut + "\xC3\xA9.txt"})
        t.WriteSite("HTDOCS/cols/" + name, "1");
    // The name column holds 30 characters as a reader sees them, then "</A> ".
    const std::string page = Body(Get(t, "/cols/"));
    const auto column = [&](const std::string& shown, size_t characters) {
        const size_t at = page.find(">" + shown + "</A>" + std::string(31 - characters, ' '));
        return at != std::string::npos && page[at + shown.size() + 36 - characters] != ' ';
    };
    EXPECT_TRUE(column("a&amp;b&lt;c&gt;.txt", 10)) << page;
    EXPECT_TRUE(column("\xC3\xBC\xC3\xBC\xC3\xBC.txt", 7)) << page;
    EXPECT_TRUE(column(cut, 30)) << "a long name is cut between characters";
}

TEST(Listings, DotsFirstThenNamesInByteOrderAndFoldersLinkWithASlash) {
    TestServer t;
    for (const char* name : {"b.txt", "B.txt", "_z", "~end", "10.txt", "9.txt", "\xC3\xA9.txt", ".hidden"})
        t.WriteSite("HTDOCS/ord/" + std::string(name), "x");
    for (const char* folder : {"a dir", "Z", "sub"})
        std::filesystem::create_directories(t.Site("HTDOCS/ord/") + folder);
    t.WriteSite("HTDOCS/ord/a dir/inner.txt", "inner");
    const std::vector<std::string> expected = {"./", "../",      "10.txt", "9.txt", "B.txt", "Z/",
                                               "_z", "a%20dir/", "b.txt",  "sub/",  "~end",  "%C3%A9.txt"};
    for (const uint32_t form : {1u, 3u}) {
        Reconfigure(t, [&](HTTPConfiguration& c) { c.AutoIndex = form; });
        const std::string page = Body(Get(t, "/ord/"));
        EXPECT_EQ(Links(page), expected) << "form " << form;
        EXPECT_NE(page.find(">a dir</A>"), std::string::npos) << "the shown name stays as it is";
        // A folder's link is the address of its listing: no redirect on the way.
        const std::string folder = Get(t, "/ord/a%20dir/");
        EXPECT_EQ(folder.substr(0, folder.find("\r\n")), "HTTP/1.0 200 Document Follows") << form;
        EXPECT_EQ(Links(Body(folder)), (std::vector<std::string>{"./", "../", "inner.txt"})) << form;
    }
}

TEST(Listings, WideCharactersTakeTwoColumns) {
    TestServer t;
    const std::string kanji = "\xE6\xBC\xA2";    // one character, two columns
    const std::string hangul = "\xED\x95\x9C";   // likewise
    std::string thirty, crossing = "a";
    for (int i = 0; i < 15; ++i) thirty += kanji;
    for (int i = 0; i < 15; ++i) crossing += hangul;  // 31 columns
    const std::string fullwidth = "\xEF\xBC\xA1\xEF\xBC\xA2";  // two fullwidth capitals, four columns
    const std::string halfwidth = "\xEF\xBD\xB1\xEF\xBD\xB2";  // two halfwidth katakana, two columns
    for (const std::string& name : {kanji + kanji + ".txt", thirty, crossing, fullwidth, halfwidth})
        t.WriteSite("HTDOCS/cjk/" + name, "1");
    const std::string page = Body(Get(t, "/cjk/"));
    // The shown name, then as many blanks as bring it to 30 columns and one
    // more, then the date.
    const auto padded = [&](const std::string& shown, size_t blanks) {
        const size_t at = page.find(">" + shown + "</A>" + std::string(blanks, ' '));
        return at != std::string::npos && page[at + shown.size() + 5 + blanks] != ' ';
    };
    EXPECT_TRUE(padded(kanji + kanji + ".txt", 31 - 8)) << page;
    EXPECT_TRUE(padded(thirty, 1)) << "thirty columns fill the name column";
    EXPECT_TRUE(padded(crossing.substr(0, 1 + 14 * 3), 2)) << "a wide character that would cross the column is cut";
    EXPECT_TRUE(padded(fullwidth, 31 - 4)) << page;
    EXPECT_TRUE(padded(halfwidth, 31 - 2)) << page;
    std::string whole = "a";
    for (int i = 0; i < 15; ++i) whole += "%ED%95%9C";
    EXPECT_NE(page.find("<A HREF=\"" + whole + "\">"), std::string::npos) << "the link keeps the whole name";
}

TEST(Connections, EveryClosingAnswerSaysSoToClientsThatExpectMore) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/f.txt", "file");
    std::filesystem::create_directories(t.Site("HTDOCS/dir"));
    const char* paths[] = {"/dir/", "/dir", "/missing", "/~stats"};
    for (const char* path : paths) {
        EXPECT_EQ(HeaderOf(Get(t, path, "", "HTTP/1.1"), "Connection"), "close") << path << " 1.1";
        EXPECT_EQ(HeaderOf(Get(t, path, "Connection: Keep-Alive\r\n"), "Connection"), "close") << path << " asked";
        EXPECT_EQ(HeaderOf(Get(t, path), "Connection"), "<none>") << path << " 1.0";
    }
    auto kept = t.Connect();
    kept->Send("GET /f.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(HeaderOf(kept->ReadResponse(), "Connection"), "Keep-Alive");
    EXPECT_EQ(HeaderOf(Get(t, "/f.txt", "", "HTTP/1.1"), "Connection"), "close");
    EXPECT_EQ(t.Exchange("GET /f.txt\r\n"), "file") << "a simple request has no headers at all";
}

TEST(Publishing, PutWithoutALengthIsRefusedAndWritesNothing) {
    TestServer t([](HTTPConfiguration& c) {
        c.UseMasterKey = 1;
        c.MasterPassword = "secret";
    });
    const std::string key = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // admin:secret
    const struct {
        const char* name;
        std::string request;
    } cases[] = {
        {"chunked", "PUT /chunked.txt HTTP/1.1\r\nHost: h\r\n" + key +
                        "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"},
        {"no length", "PUT /chunked.txt HTTP/1.0\r\n" + key + "\r\nhello"},
    };
    for (const auto& c : cases) {
        const std::string got = WithoutDates(t.Exchange(c.request));
        EXPECT_EQ(got.substr(0, got.find("\r\n")), "HTTP/1.0 411 Length Required") << c.name;
        EXPECT_NE(Body(got).find("<H1>Length Required</H1>"), std::string::npos) << c.name;
        EXPECT_FALSE(TestHome::FileExists(t.Site("HTDOCS/chunked.txt"))) << c.name;
    }
}

TEST(DefaultIndex, AMissingValueKeepsTheDefault) {
    TestHome home;
    const int port = TestServer::WriteSetup(home, {});
    platform::reg::HKEY key;
    ASSERT_EQ(platform::reg::RegOpenKeyEx(platform::reg::HKEY_LOCAL_MACHINE,
                                          "SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\Server", &key),
              platform::reg::ERROR_SUCCESS);
    EXPECT_EQ(platform::reg::RegDeleteValue(key, "DefaultIndex"), platform::reg::ERROR_SUCCESS);
    platform::reg::RegCloseKey(key);
    TestHome::WriteFile(home.DriveC("HTTPD/HTDOCS/index.html"), "home page");

    HTTPServer server("");
    server.StartServer();
    ASSERT_TRUE(testing_support::WaitUntil([&] { return server.Listener.IsSetUp(); }));
    EXPECT_EQ(server.Snapshot()->DefaultIndex, "index.html");
    testing_support::RawClient client(port);
    client.Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(client.ReadAll().ends_with("\r\n\r\nhome page"));
    server.ShutdownServer();
}

TEST(DefaultIndex, ADirectoryIsNeverServedAsADocument) {
    for (const char* setting : {"", "sub", "sub\\"}) {
        TestServer t([&](HTTPConfiguration& c) {
            c.DefaultIndex = setting;
            c.AutoIndex = 0;
        });
        std::filesystem::create_directories(t.Site("HTDOCS/sub"));
        const std::string got = Get(t, "/");
        EXPECT_EQ(got.substr(0, got.find("\r\n")), "HTTP/1.0 404 Resource not found") << '"' << setting << '"';
    }
}

// wget -r over a tree of odd names: every file arrives whole, with no error
// and no retry (a client that took a closing connection for an open one
// would report "No data received" and wait).
TEST(RealClients, WgetMirrorsATreeOfOddNames) {
    const std::string wget = "/usr/bin/wget";
    ASSERT_TRUE(TestHome::FileExists(wget)) << "scripts/setup.sh test installs wget";
    // wget asks again the moment an answer is in, while the worker that
    // sent it may still be closing; on a loaded machine (or under a
    // sanitizer) a pool of 8 would call that an overload.
    TestServer t([](HTTPConfiguration& c) { c.NumThreads = 64; });
    const std::string odd[] = {"plain", "with space", "hash#mark", "and&more", "\xC3\xBCml\xC3\xA4ut",
                               "plus+eq=", "semi;colon", "quote'd", "paren(1)", "\xE6\x97\xA5\xE6\x9C\xAC"};
    std::map<std::string, std::string> files;  // relative path -> contents
    for (int i = 0; i < 100; ++i) {
        const std::string directory = i < 40 ? "" : odd[i % 10] + " dir/" + (i >= 80 ? "deeper/" : "");
        const std::string path = directory + odd[(i * 7) % 10] + " " + std::to_string(i) + ".txt";
        files[path] = "file " + std::to_string(i) + " " + std::string(static_cast<size_t>(i * 37), 'z');
        t.WriteSite("HTDOCS/tree/" + path, files[path]);
    }
    const std::string out = t.Home().Path() + "/mirror";
    const auto run = testing_support::RunProgram(
        {wget, "-r", "-np", "-nH", "-P", out, "http://127.0.0.1:" + std::to_string(t.Port()) + "/tree/"});
    EXPECT_EQ(run.status, 0) << run.err;
    // The site has no robots.txt, which wget asks for first and reports
    // missing ("please ignore errors"); nothing else may fail.
    std::string log = run.err;
    const size_t robots = log.find("ERROR 404", log.find("/robots.txt"));
    if (robots != std::string::npos) log.erase(robots, 9);
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << run.err;
    EXPECT_EQ(log.find("No data received"), std::string::npos) << run.err;
    EXPECT_EQ(log.find("Retrying"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Downloaded: "), std::string::npos) << run.err;
    for (const auto& [path, contents] : files)
        EXPECT_EQ(TestHome::ReadFile(out + "/tree/" + path), contents) << path;
}

}  // namespace

namespace {

// Start-up messages (a log that cannot be opened, a bounce site out of
// reach) are shown while the server already answers: the handler, which a
// desktop's modal box would keep waiting, asks the server for a page.
TEST(StartUp, TheListenerAnswersBeforeAnyMessageShows) {
    const int closedPort = TestServer::FreePort();
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> seen;  // message, answer at that moment
    std::atomic<int> port{0};
    const auto previous = platform::SetMessageHandler([&](const std::string&, const std::string& text, unsigned) {
        testing_support::RawClient client(port.load());
        client.Send("GET / HTTP/1.0\r\n\r\n");
        const std::string answer = client.ReadAll(3000);
        std::lock_guard<std::mutex> guard(lock);
        seen.emplace_back(text, answer.substr(0, answer.find("\r\n")));
    });
    {
        TestHome home;
        port = TestServer::WriteSetup(home, [&](HTTPConfiguration& c) {
            c.ResolveLocal = 1;
            c.BounceSite = "127.0.0.1";
            c.BouncePort = closedPort;
            c.TraceLogFileName = "C:\\HTTPD\\NO SUCH FOLDER\\TRACE.LOG";
        });
        HTTPServer server("");
        server.StartServer();
        testing_support::WaitUntil([&] {
            std::lock_guard<std::mutex> guard(lock);
            return seen.size() == 2;
        });
        server.ShutdownServer();
    }
    platform::SetMessageHandler(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, "Error opening trace log.  Check setup.");
    EXPECT_EQ(seen[1].first, "Could not resolve local name, error code: 10061 (Connection refused)");
    for (const auto& [message, answer] : seen) EXPECT_EQ(answer, "HTTP/1.0 200 Document Follows") << message;  // the listing of /
}

}  // namespace
