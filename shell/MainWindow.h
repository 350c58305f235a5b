#pragma once
// The status window's logic, shared by both front ends: it owns the server,
// builds the title and tray tip, the four status lines, and carries out the
// Admin menu's commands. It knows no toolkit: a front end implements
// MainWindowView and calls in from its own thread.

#include <memory>
#include <string>
#include <vector>

#include "server/ShellLink.h"

class HTTPServer;

// The Admin and Help menu's command ids.
enum MenuCommand : unsigned {
    CmdProperties = 1,
    CmdShutdown = 101,
    CmdAcceptConnections = 102,
    CmdFlushConnections = 103,
    CmdAvailable = 104,
    CmdResolveDynamicIP = 108,
    CmdAbout = 24346,
};

// What the logic asks of the front end. Post* may be called from any
// thread and must only post (never wait); the others run on the front end's
// thread.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetTrayTip(const std::string& tip) = 0;
    virtual void Repaint(bool erase) = 0;
    virtual void SetMenuCheck(unsigned id, bool checked) = 0;
    virtual void ShowAbout() = 0;
    // Ends the front end's loop (after "Shutdown Server").
    virtual void Quit() = 0;
    // Later, on the front end's thread: MainWindow::UpdateTitle, or a repaint.
    virtual void PostTitleUpdate() = 0;
    virtual void PostRepaint() = 0;
    virtual int RunPropertySheet(const std::string& caption, HTTPConfiguration* config) = 0;
    virtual void ShowOwnedMessage(const std::string& caption, const std::string& text) = 0;
};

// One line of the status window: its position and text.
struct StatusLine {
    int x;
    int y;
    std::string text;
};

class MainWindow : public ShellLink {
public:
    static constexpr size_t kTipLength = 63;
    static constexpr const char* kInitialTip = "Varevavo initializing";
    static constexpr const char* kAboutLine = "Varevavo v1.0b3A (Beta 3A) for Windows 95";

    // Creates the server for the setup named by the command line (empty:
    // "Primary"); the server is not started yet.
    MainWindow(const std::string& commandLine, MainWindowView* view);
    // Shuts the server down if that has not happened.
    ~MainWindow() override;

    // Shows the initial tip, publishes this window to the server, and starts it.
    void SetupTray();
    // Shuts the server down (waiting for every worker) and deletes it.
    void CleanupTray();

    // Refreshes the title and the tray tip; returns the busy count.
    int UpdateTitle();
    // "Varevavo [80] busy (3)", "Varevavo [80] idle", with " *" while overloaded.
    std::string TitleText(int busy) const;
    // The four lines of the status window: site, bytes received, bytes sent,
    // total requests; and while certificates are automatic, their state.
    std::vector<StatusLine> PaintLines() const;
    // Carries out a menu command; other ids are ignored.
    void WMCommand(unsigned id);

    HTTPServer* Server() const { return server_.get(); }

    // ShellLink: the server's requests, passed on to the front end.
    void RequestTitleUpdate() override;
    void RequestRepaint() override;
    int RunPropertySheet(const std::string& caption, HTTPConfiguration* config) override;
    void ShowOwnedMessage(const std::string& caption, const std::string& text) override;

private:
    MainWindowView* view_;
    std::unique_ptr<HTTPServer> server_;
};
