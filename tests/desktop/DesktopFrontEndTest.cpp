// The desktop front end against real widgets (offscreen) and a real server
// in a temporary home: title and tip, the Admin menu's commands and check
// marks, the status window, the about box, message boxes from other
// threads, and the property sheet run from the menu.
#include "shell/desktop/DesktopFrontEnd.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <thread>

#include "server/HTTPServer.h"
#include "shell/desktop/AboutDialog.h"
#include "shell/desktop/DesktopResources.h"
#include "shell/desktop/PropertyPage.h"
#include "shell/desktop/PropertySheet.h"
#include "shell/desktop/StatusWindow.h"
#include "tests/desktop/DesktopTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestServer.h"

using desktop_testing::DesktopSite;
using desktop_testing::MessageRecorder;
using desktop_testing::WaitFor;
using testing_support::RawClient;
using testing_support::TestHome;

namespace {

// The front end running the setup of a fresh site, its listener ready.
struct FrontEnd {
    explicit FrontEnd(const std::function<void(HTTPConfiguration&)>& tweak = {}) : site(tweak) {
        frontEnd.Start("");
        EXPECT_TRUE(WaitFor([this] { return Server().Listener.IsSetUp(); }));
    }
    HTTPServer& Server() { return *frontEnd.Logic()->Server(); }
    StatusWindow& Window() { return *frontEnd.Window(); }
    QAction* Action(unsigned id) { return Window().Action(id); }
    std::string Title() { return Window().windowTitle().toStdString(); }
    std::string Tip() { return frontEnd.Tray()->toolTip().toStdString(); }
    std::string Prefix() { return "Varevavo [" + std::to_string(site.Port()) + "] "; }
    std::string Exchange(const std::string& request) {
        RawClient client(site.Port());
        client.Send(request);
        return client.ReadAll(3000);
    }
    // Acts on the property sheet once its modal loop runs, then ends it.
    void OnSheet(const std::function<void(PropertySheet&)>& act, bool accept) {
        QTimer::singleShot(0, &Window(), [this, act, accept] {
            auto* sheet = Window().findChild<PropertySheet*>();
            if (!sheet) {
                ADD_FAILURE() << "no property sheet";
                return;
            }
            act(*sheet);
            if (accept) sheet->accept();
            else sheet->reject();
        });
    }

    DesktopSite site;
    MessageRecorder recorder;
    DesktopFrontEnd frontEnd;
};

template <class T>
T* PageControl(PropertySheet& sheet, int page, int id) {
    sheet.ShowPage(page);
    return sheet.Page(page)->findChild<T*>(QString("id%1").arg(id));
}

TEST(DesktopFrontEnd, TipStartsAsInitializingThenFollowsTheTitle) {
    DesktopSite site;
    MessageRecorder recorder;
    DesktopFrontEnd frontEnd;
    frontEnd.Start("");
    EXPECT_EQ(frontEnd.Tray()->toolTip(), "Varevavo initializing");
    const QString idle = QString("Varevavo [%1] idle").arg(site.Port());
    EXPECT_TRUE(WaitFor([&] { return frontEnd.Window()->windowTitle() == idle; }));
    EXPECT_EQ(frontEnd.Tray()->toolTip(), idle);
    EXPECT_TRUE(recorder.messages.empty());
}

TEST(DesktopFrontEnd, TitleAndTipWhenIdleBusyAndOverloaded) {
    FrontEnd f;
    const std::string idle = f.Prefix() + "idle";
    EXPECT_TRUE(WaitFor([&] { return f.Title() == idle; })) << f.Title();
    EXPECT_EQ(f.Tip(), idle);

    RawClient client(f.site.Port());
    client.Send("GET / HTTP/1.0\r\n");  // unfinished: a worker stays busy
    const std::string busy = f.Prefix() + "busy (1)";
    EXPECT_TRUE(WaitFor([&] { return f.Title() == busy; })) << f.Title();
    EXPECT_EQ(f.Tip(), busy);

    f.Server().Overloaded = 1;
    f.frontEnd.PostTitleUpdate();
    EXPECT_TRUE(WaitFor([&] { return f.Title() == busy + " *"; })) << f.Title();
    EXPECT_EQ(f.Tip(), busy + " *");
}

TEST(DesktopFrontEnd, MenusCarryTheirItemsIdsAndDefault) {
    FrontEnd f;
    QMenuBar* bar = f.Window().menuBar();
    EXPECT_EQ(bar->objectName(), "HTTPD_MENU");
    QStringList shown;
    for (QAction* popup : bar->actions()) {
        shown << popup->text();
        for (QAction* item : popup->menu()->actions())
            shown << (item->isSeparator() ? "-" : item->text() + " " + item->objectName() + (item->isChecked() ? " on" : ""));
    }
    EXPECT_EQ(shown.join(", "), "&Admin, &Accept Connections id102 on, A&vailable id104 on, -, "
                                "&Resolve Dynamic IP id108, &Flush Connections id103, &Shutdown Server id101, -, "
                                "&Properties id1, &Help, &About... id24346");
    EXPECT_EQ(f.Window().AdminMenu()->defaultAction(), f.Action(CmdProperties));
    EXPECT_EQ(f.frontEnd.Tray()->contextMenu(), f.Window().AdminMenu()) << "the tray shows the Admin popup";
}

TEST(DesktopFrontEnd, FlagCommandsToggleTheirFlagAndCheckMark) {
    const struct {
        const char* name;
        unsigned id;
        std::atomic<int> HTTPServer::*flag;
    } cases[] = {{"Accept Connections", CmdAcceptConnections, &HTTPServer::Accepting},
                 {"Available", CmdAvailable, &HTTPServer::Available}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrontEnd f;
        for (int expected : {0, 1, 0}) {
            f.Action(c.id)->trigger();
            EXPECT_EQ((f.Server().*c.flag).load(), expected);
            EXPECT_EQ(f.Action(c.id)->isChecked(), expected == 1);
        }
    }
}

TEST(DesktopFrontEnd, ResolveDynamicIPShowsTheNewSiteAddress) {
    // The server's own port serves as the bounce site.
    FrontEnd f([](HTTPConfiguration& c) {
        c.BounceSite = "127.0.0.1";
        c.BouncePort = c.Port;
    });
    f.Action(CmdResolveDynamicIP)->trigger();
    const std::string site = "Site: http://127.0.0.1:" + std::to_string(f.site.Port());
    EXPECT_EQ(f.frontEnd.Logic()->PaintLines().at(0).text, site);
    EXPECT_EQ(DesktopSite::Stored().SiteAddress, "127.0.0.1");
    EXPECT_TRUE(f.recorder.messages.empty());
}

TEST(DesktopFrontEnd, FlushConnectionsEndsOpenConnections) {
    FrontEnd f;
    RawClient client(f.site.Port());
    client.Send("GET / HTTP/1.0\r\n");
    EXPECT_TRUE(WaitFor([&] { return f.Title() == f.Prefix() + "busy (1)"; })) << f.Title();
    f.Action(CmdFlushConnections)->trigger();
    EXPECT_TRUE(client.PeerClosed(3000) || client.WasReset(0));
    EXPECT_TRUE(WaitFor([&] { return f.Title() == f.Prefix() + "idle"; })) << f.Title();
}

// Where a status line was painted: the first and last columns with ink in
// its band, or {-1, -1}.
std::pair<int, int> InkColumns(const QImage& image, int top, int height, int right) {
    const QRgb background = image.pixel(2, top);
    int first = -1, last = -1;
    for (int x = 0; x < right; ++x)
        for (int y = top; y < top + height; ++y)
            if (image.pixel(x, y) != background) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return {first, last};
}

TEST(DesktopFrontEnd, StatusWindowPaintsTheLogoAndTheFourLines) {
    const struct {
        const char* name;
        bool port80;
    } cases[] = {{"port 80", true}, {"another port", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrontEnd f([&](HTTPConfiguration& config) {
            if (c.port80) config.Port = 80;
        });
        const std::vector<StatusLine> lines = f.frontEnd.Logic()->PaintLines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0].text, c.port80 ? "Site: http://localhost"
                                          : "Site: http://localhost:" + std::to_string(f.site.Port()));
        EXPECT_EQ(f.Window().size(), QSize(335, 235));

        const QImage image = f.Window().grab().toImage();
        const int top = f.Window().ClientTop();
        const QImage logo = DesktopResources::Logo().toImage();
        ASSERT_FALSE(logo.isNull());
        const QPoint middle(logo.width() / 2, logo.height() / 2);
        EXPECT_EQ(image.pixel(320 - logo.width() + middle.x(), top + 5 + middle.y()), logo.pixel(middle))
            << "the logo's top-right corner is at (320, 5)";

        QFont font("Arial");
        font.setStyleHint(QFont::SansSerif);
        font.setPixelSize(12);
        const QFontMetrics metrics(font);
        for (const StatusLine& line : lines) {
            SCOPED_TRACE(line.text);
            const auto [first, last] = InkColumns(image, top + line.y, metrics.height(), image.width());
            const QRect ink = metrics.tightBoundingRect(QString::fromStdString(line.text));
            EXPECT_NEAR(first, line.x + ink.left(), 2);
            EXPECT_NEAR(last, line.x + ink.right(), 2);
        }
    }
}

TEST(DesktopFrontEnd, WithoutATrayTheWindowIsShownAndClosingMinimisesIt) {
    FrontEnd f;
    ASSERT_FALSE(f.frontEnd.TrayShown()) << "the offscreen platform has no tray";
    EXPECT_TRUE(f.Window().isVisible());
    f.Window().close();
    EXPECT_TRUE(f.Window().isVisible());
    EXPECT_TRUE(f.Window().isMinimized());
    emit f.frontEnd.Tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(f.Window().isMinimized()) << "a left click brings it back";
}

TEST(DesktopFrontEnd, WithATrayClosingOnlyHides) {
    int commands = 0;
    StatusWindow window([&](unsigned) { ++commands; }, [] { return std::vector<StatusLine>(); }, [] { return true; });
    window.show();
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(commands, 0);
}

TEST(DesktopFrontEnd, AboutBoxShowsOnceAndClosesWithOK) {
    FrontEnd f;
    f.Action(CmdAbout)->trigger();
    f.Action(CmdAbout)->trigger();
    const QList<AboutDialog*> boxes = f.Window().findChildren<AboutDialog*>();
    ASSERT_EQ(boxes.size(), 1);
    AboutDialog* about = boxes[0];
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About Varevavo");
    EXPECT_EQ(about->findChild<QLabel*>("AboutLine")->text(), "Varevavo v1.0b3A (Beta 3A) for Windows 95");
    about->findChild<QPushButton*>("id1")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(f.Window().findChildren<AboutDialog*>().isEmpty());
}

TEST(DesktopFrontEnd, MessagesFromOtherThreadsArePostedWithoutWaiting) {
    FrontEnd f;
    // The thread ends while the desktop thread runs no events: it never waited.
    std::thread worker([] { platform::ShowMessage("ResolveLocal", "from a worker", platform::MB_ICONERROR); });
    worker.join();
    EXPECT_TRUE(f.recorder.messages.empty());
    EXPECT_TRUE(WaitFor([&] { return !f.recorder.messages.empty(); }));
    ASSERT_EQ(f.recorder.messages.size(), 1u);
    EXPECT_EQ(f.recorder.messages[0].caption, "ResolveLocal");
    EXPECT_EQ(f.recorder.messages[0].text, "from a worker");
    EXPECT_EQ(f.recorder.messages[0].style, static_cast<unsigned>(platform::MB_ICONERROR));
    EXPECT_EQ(f.recorder.messages[0].owner, nullptr);

    platform::ShowMessage("Varevavo", "on the desktop thread");
    ASSERT_EQ(f.recorder.messages.size(), 2u) << "shown at once";
}

TEST(DesktopFrontEnd, ShutdownRemovesTheIconAndStopsTheServer) {
    FrontEnd f;
    const int port = f.site.Port();
    f.Action(CmdShutdown)->trigger();
    EXPECT_EQ(f.frontEnd.Logic()->Server(), nullptr);
    EXPECT_FALSE(f.frontEnd.Tray()->isVisible());
    EXPECT_FALSE(f.Window().isVisible());
    EXPECT_TRUE(f.frontEnd.QuitRequested());
    EXPECT_FALSE(RawClient(port).IsOpen());
    f.Action(CmdAcceptConnections)->trigger();  // ignored once the server is gone
}

TEST(DesktopFrontEnd, PropertiesAcceptedSaveShowTheMessageOnceAndTakeEffect) {
    FrontEnd f;
    f.site.Home().WriteFile(f.site.Site("NEW/hello.txt"), "new\n");
    EXPECT_EQ(f.Exchange("GET /new/hello.txt HTTP/1.0\r\n\r\n").substr(0, 12), "HTTP/1.0 404");
    const std::string accessLog = f.site.Site("LOGS/ACCESS.LOG");
    ASSERT_TRUE(WaitFor([&] { return !testing_support::TestHome::ReadFile(accessLog).empty(); }));

    f.OnSheet(
        [](PropertySheet& sheet) {
            PageControl<QCheckBox>(sheet, 3, 104)->setChecked(false);  // access log off
            PageControl<QLineEdit>(sheet, 0, 17)->setText("20");        // connections: after a restart
            PageControl<QLineEdit>(sheet, 4, 101)->setText("/new");
            PageControl<QLineEdit>(sheet, 4, 102)->setText("C:\\HTTPD\\NEW");
            PageControl<QPushButton>(sheet, 4, 103)->click();
        },
        true);
    f.Action(CmdProperties)->trigger();

    ASSERT_EQ(f.recorder.messages.size(), 1u);
    EXPECT_EQ(f.recorder.messages[0].owner, &f.Window());
    EXPECT_EQ(f.recorder.messages[0].caption, "Varevavo");
    EXPECT_EQ(f.recorder.messages[0].text, "Some changes do not take effect until server is restarted.");
    const HTTPConfiguration stored = DesktopSite::Stored();
    EXPECT_EQ(stored.AccessLogMask, 0u);
    ASSERT_EQ(stored.Alias.size(), 2u);
    EXPECT_EQ(stored.Alias[1].first, "/new");

    const std::string logged = testing_support::TestHome::ReadFile(accessLog);
    const std::string answer = f.Exchange("GET /new/hello.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.0 200");
    EXPECT_EQ(answer.substr(answer.size() - 4), "new\n");
    EXPECT_EQ(testing_support::TestHome::ReadFile(accessLog), logged) << "the access log is off at once";
}

// The notice speaks of what the listener took at start: only another port,
// bind address or number of slots waits for a restart.
TEST(DesktopFrontEnd, PropertiesSayRestartOnlyWhenThePortOrTheConnectionsChange) {
    FrontEnd f;
    const std::string running = std::to_string(f.site.Port());
    const std::string other = std::to_string(testing_support::TestServer::FreePort());
    const struct {
        const char* name;
        std::function<void(PropertySheet&)> act;
        size_t messages;
    } rounds[] = {
        {"settings taken at once",
         [](PropertySheet& sheet) {
             PageControl<QCheckBox>(sheet, 0, 15)->setChecked(true);
             PageControl<QLineEdit>(sheet, 1, 103)->setText("home.html");
         },
         0},
        {"another port",
         [&](PropertySheet& sheet) { PageControl<QLineEdit>(sheet, 0, 10)->setText(QString::fromStdString(other)); }, 1},
        {"the running port again",
         [&](PropertySheet& sheet) { PageControl<QLineEdit>(sheet, 0, 10)->setText(QString::fromStdString(running)); }, 1},
        {"another bind address", [](PropertySheet& sheet) { PageControl<QLineEdit>(sheet, 0, 18)->setText("::1"); }, 2},
        {"every address again", [](PropertySheet& sheet) { PageControl<QLineEdit>(sheet, 0, 18)->setText(""); }, 2},
    };
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.name);
        f.OnSheet(round.act, true);
        f.Action(CmdProperties)->trigger();
        EXPECT_EQ(f.recorder.messages.size(), round.messages);
    }
    const HTTPConfiguration stored = DesktopSite::Stored();
    EXPECT_EQ(stored.UseKeepAlive, 1);
    EXPECT_EQ(stored.DefaultIndex, "home.html");
    EXPECT_EQ(std::to_string(stored.Port), running);
}

TEST(DesktopFrontEnd, PropertiesCancelledChangeNothing) {
    FrontEnd f;
    const HTTPConfiguration before = DesktopSite::Stored();
    f.OnSheet(
        [](PropertySheet& sheet) {
            PageControl<QLineEdit>(sheet, 0, 10)->setText("1");
            PageControl<QLineEdit>(sheet, 4, 101)->setText("/new");
            PageControl<QLineEdit>(sheet, 4, 102)->setText("C:\\NEW");
            PageControl<QPushButton>(sheet, 4, 103)->click();
        },
        false);
    f.Action(CmdProperties)->trigger();
    EXPECT_TRUE(f.recorder.messages.empty());
    const HTTPConfiguration after = DesktopSite::Stored();
    EXPECT_EQ(after.Port, before.Port);
    EXPECT_EQ(after.Alias.size(), before.Alias.size());
    EXPECT_EQ(f.Server().Snapshot()->Alias.size(), before.Alias.size());
}

TEST(DesktopFrontEnd, ShutdownChosenWhileTheSheetIsOpenWaitsForIt) {
    FrontEnd f;
    f.OnSheet([&](PropertySheet&) { f.frontEnd.Command(CmdShutdown); }, false);
    f.Action(CmdProperties)->trigger();
    EXPECT_EQ(f.frontEnd.Logic()->Server(), nullptr) << "shut down once the sheet had closed";
    EXPECT_TRUE(f.recorder.messages.empty());
}

}  // namespace

namespace {

// The real ruvuzerar-desktop (drawing off screen), driven with signals as
// a user or a service manager would.
struct DesktopProgram {
    DesktopProgram() { TestHome::WriteFile(site.Site("HTDOCS/index.html"), "desktop"); }
    // Starts the program and waits until it serves.
    bool Start() {
        if (!child.Start({RUVUZERAR_DESKTOP_PATH})) return false;
        for (int i = 0; i < 400; ++i) {
            if (Get("/").find("desktop") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    std::string Get(const std::string& path) {
        RawClient client(site.Port());
        client.Send("GET " + path + " HTTP/1.0\r\n\r\n");
        return client.ReadAll(3000);
    }
    std::string Log(const std::string& name) { return TestHome::ReadFile(site.Site("LOGS/" + name)); }

    DesktopSite site;
    testing_support::ChildProcess child;
};

TEST(DesktopProgram, InterruptAndTerminateShutDownCleanly) {
    for (const int signal : {SIGINT, SIGTERM}) {
        DesktopProgram p;
        ASSERT_TRUE(p.Start()) << p.child.Errors();
        p.child.Signal(signal);
        EXPECT_EQ(p.child.Wait(), 0) << signal << p.child.Errors();
        EXPECT_NE(p.Log("ACCESS.LOG").find("\"GET / HTTP/1.0\" 200 7"), std::string::npos)
            << "the access log holds the request when the program has ended";
        EXPECT_EQ(p.Get("/"), "") << "nothing listens any more";
    }
}

TEST(DesktopProgram, HangupReloadsTheSetupAndReopensLogs) {
    DesktopProgram p;
    ASSERT_TRUE(p.Start()) << p.child.Errors();
    EXPECT_EQ(testing_support::RotateAndReload(p.child, p.site.Home(), "Primary", p.site.Port()), "");
    p.child.Signal(SIGTERM);
    EXPECT_EQ(p.child.Wait(), 0);
}

}  // namespace
