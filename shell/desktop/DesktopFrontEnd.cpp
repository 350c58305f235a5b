#include "shell/desktop/DesktopFrontEnd.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <clocale>

#include "server/HTTPServer.h"
#include "shell/desktop/AboutDialog.h"
#include "shell/desktop/DesktopMessages.h"
#include "shell/desktop/DesktopResources.h"
#include "shell/desktop/PropertySheet.h"
#include "shell/desktop/StatusWindow.h"

namespace {

// How often a desktop without a tray is asked again whether it has one now.
constexpr int kTrayProbeInterval = 3000;

}  // namespace

DesktopFrontEnd::DesktopFrontEnd()
    : window_(std::make_unique<StatusWindow>([this](unsigned id) { Command(id); },
                                             [this] { return logic_ ? logic_->PaintLines() : std::vector<StatusLine>(); },
                                             [this] { return trayShown_; })),
      tray_(std::make_unique<QSystemTrayIcon>(DesktopResources::Icon())),
      trayProbe_(new QTimer(this)) {
    tray_->setToolTip(MainWindow::kInitialTip);
    tray_->setContextMenu(window_->AdminMenu());
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) ShowWindow();
    });
    connect(trayProbe_, &QTimer::timeout, this, [this] { ShowTrayWhenAvailable(); });
}

DesktopFrontEnd::~DesktopFrontEnd() {
    // The workers end here, before the handler they might still call goes.
    logic_.reset();
    if (handlerInstalled_) platform::SetMessageHandler(std::move(previousHandler_));
}

void DesktopFrontEnd::Start(const std::string& setupName) {
    logic_ = std::make_unique<MainWindow>(setupName, this);
    previousHandler_ = platform::SetMessageHandler(
        [this](const std::string& caption, const std::string& text, unsigned style) {
            ShowMessageFromAnyThread(caption, text, style);
        });
    handlerInstalled_ = true;
    ShowTrayWhenAvailable();
    if (!trayShown_) {
        // Without a tray the window is the only way to reach the program.
        ShowWindow();
        trayProbe_->start(kTrayProbeInterval);
    }
    logic_->SetupTray();
}

void DesktopFrontEnd::Command(unsigned id) {
    if (!logic_) return;
    if (id == CmdShutdown) {
        if (commandDepth_ > 0) {
            shutdownPending_ = true;
            // Closing the open dialogs lets the earlier command return. A
            // dialog that stays open after close() ends the loop.
            QWidget* closed = nullptr;
            while (QWidget* modal = QApplication::activeModalWidget()) {
                if (modal == closed) break;
                closed = modal;
                modal->close();
            }
            return;
        }
        tray_->hide();
        trayShown_ = false;
        window_->hide();
    }
    ++commandDepth_;
    logic_->WMCommand(id);
    --commandDepth_;
    if (commandDepth_ == 0 && shutdownPending_) {
        shutdownPending_ = false;
        Command(CmdShutdown);
    }
}

void DesktopFrontEnd::WatchSignals(platform::SignalDescriptor* events) {
    if (events->Descriptor() < 0) return;
    signalNotifier_ = new QSocketNotifier(events->Descriptor(), QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this, events] {
        using Kind = platform::SignalDescriptor::Kind;
        for (Kind kind = events->Next(); kind != Kind::None && logic_; kind = events->Next()) {
            switch (kind) {
                case Kind::Interrupt:
                case Kind::Terminate: Command(CmdShutdown); break;
                case Kind::Hangup:
                    logic_->Server()->ReloadConfiguration();
                    logic_->UpdateTitle();
                    break;
                case Kind::User1: Command(CmdFlushConnections); break;
                case Kind::None: break;
            }
        }
    });
}

void DesktopFrontEnd::ShowTrayWhenAvailable() {
    if (trayShown_ || !QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_->show();
    trayShown_ = true;
    trayProbe_->stop();
}

void DesktopFrontEnd::ShowWindow() {
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

void DesktopFrontEnd::ShowMessageFromAnyThread(const std::string& caption, const std::string& text,
                                               unsigned style) {
    if (QThread::currentThread() == thread()) {
        DesktopMessages::Show(nullptr, caption, text, style);
        return;
    }
    QMetaObject::invokeMethod(
        this, [caption, text, style] { DesktopMessages::Show(nullptr, caption, text, style); },
        Qt::QueuedConnection);
}

void DesktopFrontEnd::SetTitle(const std::string& title) { window_->setWindowTitle(QString::fromStdString(title)); }

void DesktopFrontEnd::SetTrayTip(const std::string& tip) { tray_->setToolTip(QString::fromStdString(tip)); }

void DesktopFrontEnd::Repaint(bool) { window_->update(); }

void DesktopFrontEnd::SetMenuCheck(unsigned id, bool checked) {
    if (QAction* action = window_->Action(id)) action->setChecked(checked);
}

void DesktopFrontEnd::ShowAbout() {
    // One about box at a time: asking again brings the open one forward.
    if (!about_) {
        about_ = new AboutDialog(window_.get());
        about_->setAttribute(Qt::WA_DeleteOnClose);
    }
    about_->open();
    about_->raise();
    about_->activateWindow();
}

void DesktopFrontEnd::Quit() {
    quitRequested_ = true;
    trayProbe_->stop();
    tray_->hide();
    trayShown_ = false;
    // Only running loops can be ended (the main one, and a dialog's nested
    // one); a quit asked for before the main loop runs is kept in
    // quitRequested_, so that the loop is not entered at all.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
}

void DesktopFrontEnd::PostTitleUpdate() {
    PostOnce(titlePending_, [this] {
        if (logic_) logic_->UpdateTitle();
    });
}

void DesktopFrontEnd::PostRepaint() {
    PostOnce(repaintPending_, [this] { window_->update(); });
}

void DesktopFrontEnd::PostOnce(std::atomic<bool>& pending, std::function<void()> work) {
    if (pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [&pending, work = std::move(work)] {
            pending = false;
            work();
        },
        Qt::QueuedConnection);
}

int DesktopFrontEnd::RunPropertySheet(const std::string& caption, HTTPConfiguration* config) {
    return HTTPProperties(window_.get(), caption, config);
}

void DesktopFrontEnd::ShowOwnedMessage(const std::string& caption, const std::string& text) {
    DesktopMessages::Show(window_.get(), caption, text, platform::MB_OK);
}

int RunDesktopFrontEnd(int, char** argv, const std::string& setupName) {
    // Before the toolkit starts any thread, so that every thread leaves the
    // signals to the descriptor.
    platform::SignalDescriptor userSignals;
    // Qt sees the program name alone: the whole command line names the
    // setup, and none of it is an option for the toolkit.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    // Qt took the locale from the environment; dates and numbers the server
    // writes must come out the same under either front end.
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_TIME, "C");
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(DesktopResources::Icon());
    DesktopFrontEnd frontEnd;
    frontEnd.Start(setupName);
    frontEnd.WatchSignals(&userSignals);
    if (!frontEnd.QuitRequested()) app.exec();
    return 0;
}
