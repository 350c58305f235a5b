#pragma once
// The desktop front end (Qt Widgets) over the shared main-window logic: a
// tray icon whose tip is the title, the status window with the Admin menu,
// the about box, the property sheet and message boxes as dialogs.
//
// Where the desktop has no tray, the status window is shown at start; a
// tray that appears later gets the icon (checked every few seconds).
// Workers and the listener only post title and repaint requests, and a
// message box they ask for is posted too: none of them ever waits for the
// desktop thread, which may itself be waiting for them to end.

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/MessageDisplay.h"
#include "platform/SignalDescriptor.h"
#include "shell/MainWindow.h"

class AboutDialog;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;
class StatusWindow;

class DesktopFrontEnd : public QObject, public MainWindowView {
public:
    // Needs a QApplication.
    DesktopFrontEnd();
    // Shuts the server down if that has not happened, and restores the
    // message handler it replaced.
    ~DesktopFrontEnd() override;
    DesktopFrontEnd(const DesktopFrontEnd&) = delete;
    DesktopFrontEnd& operator=(const DesktopFrontEnd&) = delete;

    // Creates the window logic for the setup (empty: "Primary"), routes
    // message boxes to dialogs, adds the tray icon (or shows the window when
    // there is no tray) and starts the server. Returns without waiting for
    // the listener; call once.
    void Start(const std::string& setupName);
    // Carries out a menu command. "Shutdown Server" asked for while a
    // dialog of an earlier command is still open (the tray menu stays usable
    // under a modal dialog) waits until that command has returned, because
    // the command's code still uses the server.
    void Command(unsigned id);
    // Takes the signals a Unix user sends as the console front end does:
    // interrupt and terminate shut the server down, hang-up re-reads the
    // setup and reopens the logs, user 1 flushes the connections. events
    // must outlive this object; call after Start.
    void WatchSignals(platform::SignalDescriptor* events);

    MainWindow* Logic() const { return logic_.get(); }
    StatusWindow* Window() const { return window_.get(); }
    QSystemTrayIcon* Tray() const { return tray_.get(); }
    // True while the icon is in a tray.
    bool TrayShown() const { return trayShown_; }
    // True once "Shutdown Server" has run.
    bool QuitRequested() const { return quitRequested_; }

    // MainWindowView
    void SetTitle(const std::string& title) override;
    void SetTrayTip(const std::string& tip) override;
    void Repaint(bool erase) override;
    void SetMenuCheck(unsigned id, bool checked) override;
    void ShowAbout() override;
    void Quit() override;
    void PostTitleUpdate() override;
    void PostRepaint() override;
    int RunPropertySheet(const std::string& caption, HTTPConfiguration* config) override;
    void ShowOwnedMessage(const std::string& caption, const std::string& text) override;

private:
    void ShowTrayWhenAvailable();
    void ShowWindow();
    void ShowMessageFromAnyThread(const std::string& caption, const std::string& text, unsigned style);
    // Queues work for the desktop thread unless an earlier post guarded by
    // pending has not run yet; any thread.
    void PostOnce(std::atomic<bool>& pending, std::function<void()> work);

    std::unique_ptr<StatusWindow> window_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QTimer* trayProbe_ = nullptr;  // child of this object
    QSocketNotifier* signalNotifier_ = nullptr;  // child of this object
    QPointer<AboutDialog> about_;
    bool trayShown_ = false;
    bool quitRequested_ = false;
    // Commands running on the desktop thread (nested when a dialog's event
    // loop runs another), and a shutdown that waits for them.
    int commandDepth_ = 0;
    bool shutdownPending_ = false;
    // Set by workers to coalesce their posts: one queued refresh at a time.
    std::atomic<bool> titlePending_{false};
    std::atomic<bool> repaintPending_{false};
    bool handlerInstalled_ = false;
    platform::MessageHandler previousHandler_;
    // Last, so that it goes first: the server's workers still post to this
    // object while they end.
    std::unique_ptr<MainWindow> logic_;
};

// Runs the desktop front end for the setup until "Shutdown Server" or
// SIGINT or SIGTERM; the process's exit code (0).
int RunDesktopFrontEnd(int argc, char** argv, const std::string& setupName);
