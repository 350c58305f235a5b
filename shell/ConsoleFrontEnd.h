#pragma once
// The front end for a terminal or a service manager: the server runs in the
// foreground. SIGINT and SIGTERM shut it down ("Shutdown Server", exit 0);
// SIGHUP re-reads the setup as an accepted property sheet does (so log
// rotation works); SIGUSR1 flushes the connections. On a terminal it also
// takes the Admin menu's letters (a, v, r, f, s, p) and keeps the title on
// the current line. Under systemd (Type=notify) it tells the service manager
// when the port accepts connections, and when it reloads and stops.

#include <atomic>
#include <string>

#include "platform/ConsoleEvents.h"
#include "shell/MainWindow.h"

class ConsoleFrontEnd : public MainWindowView {
public:
    // Takes over the process's signals: construct it before any thread starts.
    ConsoleFrontEnd() = default;

    // Runs the setup until it is shut down. 0 after a shutdown; 1 when the
    // port cannot be bound or listened on (the socket message has been shown).
    int Run(const std::string& setupName);

    void SetTitle(const std::string& title) override;
    void SetTrayTip(const std::string&) override {}
    void Repaint(bool) override {}
    void SetMenuCheck(unsigned id, bool checked) override;
    void ShowAbout() override;
    void Quit() override { quit_ = true; }
    void PostTitleUpdate() override;
    void PostRepaint() override {}
    int RunPropertySheet(const std::string&, HTTPConfiguration*) override { return 0; }
    void ShowOwnedMessage(const std::string& caption, const std::string& text) override;

private:
    void Reload(MainWindow& window);
    // On a terminal: the state of automatic certificates, on a line of its
    // own whenever it changes (the server asks for a title update then).
    void SayCertificateState(const HTTPServer& server);

    platform::ConsoleEvents events_;
    std::atomic<bool> titlePending_{false};
    std::string shownTitle_;
    std::string serving_;  // the line that says where the server listens
    std::string shownCertificate_;  // the certificate state said last
    bool quit_ = false;
};
