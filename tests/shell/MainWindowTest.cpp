// The main-window logic both front ends share, driven through a recording view.
#include "shell/MainWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <map>

#include "server/HTTPServer.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestServer.h"

using testing_support::TestServer;

namespace {

struct RecordingView : MainWindowView {
    void SetTitle(const std::string& t) override { title = t; }
    void SetTrayTip(const std::string& t) override { tip = t; }
    void Repaint(bool erase) override { repaints.push_back(erase); }
    void SetMenuCheck(unsigned id, bool checked) override { checks[id] = checked; }
    void ShowAbout() override { ++abouts; }
    void Quit() override { quit = true; }
    // Workers post from their own threads.
    void PostTitleUpdate() override { ++titlePosts; }
    void PostRepaint() override { ++repaintPosts; }
    int RunPropertySheet(const std::string&, HTTPConfiguration*) override { return 0; }
    void ShowOwnedMessage(const std::string&, const std::string&) override {}
    std::string title, tip;
    std::vector<bool> repaints;
    std::map<unsigned, bool> checks;
    int abouts = 0;
    std::atomic<int> titlePosts{0}, repaintPosts{0};
    bool quit = false;
};

// A window over a setup written for the test (the server listens on a free port).
struct Window {
    explicit Window(int port, const std::string& site = "www.example.org") {
        HTTPConfiguration config;
        config.DefaultConfiguration();
        config.Port = port;
        config.ResolveLocal = 0;
        config.SiteAddress = site;
        config.NumThreads = 8;
        config.UseTLS = 0;  // no test takes the HTTPS port of the machine
        config.AccessLogMask = config.ErrorLogMask = config.ReferrerLogMask = config.TraceLogMask = 0;
        config.SaveConfiguration("Test");
        window = std::make_unique<MainWindow>("Test", &view);
        window->Server()->ReplaceConfiguration(config);
    }
    testing_support::TestHome home;
    RecordingView view;
    std::unique_ptr<MainWindow> window;
};

TEST(MainWindow, TitleTexts) {
    Window w(80);
    EXPECT_EQ(w.window->TitleText(0), "Varevavo [80] idle");
    EXPECT_EQ(w.window->TitleText(3), "Varevavo [80] busy (3)");
    w.window->Server()->Overloaded = 1;
    EXPECT_EQ(w.window->TitleText(15), "Varevavo [80] busy (15) *");
}

TEST(MainWindow, StartShowsTheInitialTipThenTheTitle) {
    Window w(TestServer::FreePort());
    w.window->SetupTray();
    EXPECT_EQ(w.view.tip, "Varevavo initializing");
    ASSERT_TRUE(testing_support::WaitUntil([&] { return w.window->Server()->Listener.IsSetUp(); }));
    EXPECT_EQ(w.window->UpdateTitle(), 0);
    const std::string expected = "Varevavo [" + std::to_string(w.window->Server()->Snapshot()->Port) + "] idle";
    EXPECT_EQ(w.view.title, expected);
    EXPECT_EQ(w.view.tip, expected);
    EXPECT_GT(w.view.titlePosts, 0) << "the pool asked for a title refresh";
}

// The tip holds 63 characters, and the longest title there can be (the
// longest port number, a full pool, the overload mark) is well within
// them: the tip is always the whole title.
TEST(MainWindow, TheLongestTitleIsTheWholeTip) {
    Window w(TestServer::FreePort());
    w.window->Server()->ReplaceConfiguration([&] {
        HTTPConfiguration c = *w.window->Server()->Snapshot();
        c.Port = std::numeric_limits<int>::min();
        return c;
    }());
    w.window->Server()->Overloaded = 1;
    const std::string longest = w.window->TitleText(512);
    EXPECT_EQ(longest, "Varevavo [-2147483648] busy (512) *");
    EXPECT_LT(longest.size(), MainWindow::kTipLength);
    w.window->UpdateTitle();
    EXPECT_EQ(w.view.tip, w.view.title);
}

// With HTTPS served the title names both ports, and the longest such title
// still fits the tip.
TEST(MainWindow, TheTitleNamesBothPortsWhileHTTPSIsServed) {
    Window w(TestServer::FreePort());
    HTTPConfiguration c = *w.window->Server()->Snapshot();
    c.UseTLS = 1;
    c.TLSPort = TestServer::FreePort();
    c.SaveConfiguration("Test");
    w.window->SetupTray();
    ASSERT_TRUE(testing_support::WaitUntil([&] { return w.window->Server()->Listener.IsListeningTLS(); }));
    w.window->UpdateTitle();
    EXPECT_EQ(w.view.tip, "Varevavo [" + std::to_string(c.Port) + ", " + std::to_string(c.TLSPort) + "] idle");
    c.Port = c.TLSPort = std::numeric_limits<int>::min();
    w.window->Server()->ReplaceConfiguration(c);
    w.window->Server()->Overloaded = 1;
    const std::string longest = w.window->TitleText(512);
    EXPECT_EQ(longest, "Varevavo [-2147483648, -2147483648] busy (512) *");
    EXPECT_LT(longest.size(), MainWindow::kTipLength);
}

// The front end hears of every answer, whether a loop thread or a worker
// sent it, and of every connection that takes a slot or ends; all of it
// comes from the server's threads while requests are served.
TEST(MainWindow, HearsOfAnswersFromLoopsAndWorkers) {
    Window w(TestServer::FreePort());
    w.window->SetupTray();
    HTTPServer* server = w.window->Server();
    ASSERT_TRUE(testing_support::WaitUntil([&] { return server->Listener.IsSetUp(); }));
    const int port = static_cast<int>(server->Snapshot()->Port);
    const int titles = w.view.titlePosts;
    const auto answer = [&](const std::string& request, const char* where) {
        const int repaints = w.view.repaintPosts;
        testing_support::RawClient client(port);
        ASSERT_TRUE(client.IsOpen());
        ASSERT_TRUE(client.Send(request));
        EXPECT_EQ(client.ReadAll().rfind("HTTP/1.0 ", 0), 0u) << where;
        EXPECT_TRUE(testing_support::WaitUntil([&] { return w.view.repaintPosts > repaints; })) << where;
    };
    answer("GET /nowhere.txt HTTP/1.0\r\n\r\n", "an answer sent by a loop thread");
    // A request with a body is served where blocking is allowed.
    answer("POST /nowhere.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", "an answer sent by a worker");
    EXPECT_TRUE(testing_support::WaitUntil([&] { return w.view.titlePosts >= titles + 4; }))
        << "each connection took a slot and ended";
}

TEST(MainWindow, StatusLines) {
    Window w(8080, "host.example");
    const auto lines = w.window->PaintLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "Site: http://host.example:8080");
    EXPECT_EQ(lines[0].y, 90);
    EXPECT_EQ(lines[1].text, "Bytes Received: 0");
    EXPECT_EQ(lines[2].text, "Bytes Sent: 0");
    EXPECT_EQ(lines[3].text, "Total Requests: 0");
    EXPECT_EQ(lines[3].y, 150);
    for (const auto& l : lines) EXPECT_EQ(l.x, 10);
    Window w80(80, "host.example");
    EXPECT_EQ(w80.window->PaintLines()[0].text, "Site: http://host.example");
}

TEST(MainWindow, MenuCommandsToggleFlagsAndMarks) {
    Window w(TestServer::FreePort());
    w.window->SetupTray();
    HTTPServer* server = w.window->Server();
    w.window->WMCommand(CmdAcceptConnections);
    EXPECT_EQ(server->Accepting.load(), 0);
    EXPECT_FALSE(w.view.checks[CmdAcceptConnections]);
    w.window->WMCommand(CmdAcceptConnections);
    EXPECT_EQ(server->Accepting.load(), 1);
    EXPECT_TRUE(w.view.checks[CmdAcceptConnections]);
    w.window->WMCommand(CmdAvailable);
    EXPECT_EQ(server->Available.load(), 0);
    EXPECT_FALSE(w.view.checks[CmdAvailable]);
    w.window->WMCommand(CmdAvailable);
    EXPECT_EQ(server->Available.load(), 1);
    w.window->WMCommand(CmdAbout);
    EXPECT_EQ(w.view.abouts, 1);
    w.window->WMCommand(CmdFlushConnections);
    ASSERT_FALSE(w.view.repaints.empty());
    EXPECT_FALSE(w.view.repaints.back()) << "a flush repaints without erasing";
    w.window->WMCommand(9999);
    w.window->WMCommand(CmdShutdown);
    EXPECT_TRUE(w.view.quit);
    EXPECT_EQ(w.window->Server(), nullptr) << "the server is gone after shutdown";
    w.window->WMCommand(CmdAvailable);  // ignored once the server is gone
}

}  // namespace
