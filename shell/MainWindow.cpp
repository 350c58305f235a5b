#include "shell/MainWindow.h"

#include <cstdio>

#include "platform/Clock.h"
#include "server/HTTPServer.h"

MainWindow::MainWindow(const std::string& commandLine, MainWindowView* view)
    : view_(view), server_(std::make_unique<HTTPServer>(commandLine)) {}

MainWindow::~MainWindow() { CleanupTray(); }

void MainWindow::SetupTray() {
    view_->SetTrayTip(kInitialTip);
    server_->SetShell(this);
    server_->StartServer();
}

void MainWindow::CleanupTray() {
    if (!server_) return;
    server_->ShutdownServer();
    server_->SetShell(nullptr);
    server_.reset();
}

std::string MainWindow::TitleText(int busy) const {
    const auto config = server_->Snapshot();
    // With HTTPS served the title names both ports, plain first.
    std::string ports = std::to_string(config->Port);
    if (server_->Listener.IsListeningTLS()) ports += ", " + std::to_string(config->TLSPort);
    char title[80];
    if (busy) std::snprintf(title, sizeof title, "Varevavo [%s] busy (%d)", ports.c_str(), busy);
    else std::snprintf(title, sizeof title, "Varevavo [%s] idle", ports.c_str());
    std::string text = title;
    if (server_->Overloaded) text += " *";
    return text;
}

int MainWindow::UpdateTitle() {
    if (!server_) return 0;
    const int busy = server_->Listener.BusyCount();
    const std::string title = TitleText(busy);
    view_->SetTitle(title);
    view_->SetTrayTip(title.substr(0, kTipLength));
    return busy;
}

std::vector<StatusLine> MainWindow::PaintLines() const {
    std::vector<StatusLine> lines;
    if (!server_) return lines;
    const auto config = server_->Snapshot();
    std::string site = "Site: " + config->SiteURL();
    if (site.size() > 255) site.resize(255);
    const HTTPStatistics& stats = server_->Statistics;
    lines.push_back({10, 90, site});
    lines.push_back({10, 110, "Bytes Received: " + std::to_string(stats.BytesReceived.load())});
    lines.push_back({10, 130, "Bytes Sent: " + std::to_string(stats.BytesSent.load())});
    lines.push_back({10, 150, "Total Requests: " + std::to_string(stats.TotalRequests.load())});
    // While certificates are automatic: when the next renewal is due, and
    // what went wrong last.
    if (std::string certificate = server_->Certificates.StatusLine(); !certificate.empty()) {
        if (certificate.size() > 255) certificate.resize(255);
        lines.push_back({10, 170, std::move(certificate)});
    }
    return lines;
}

void MainWindow::WMCommand(unsigned id) {
    if (!server_) return;
    switch (id) {
        case CmdProperties:
            server_->EditProperties();
            view_->Repaint(true);
            break;
        case CmdShutdown:
            CleanupTray();
            view_->Quit();
            break;
        case CmdAcceptConnections:
            server_->Accepting = server_->Accepting ? 0 : 1;
            view_->SetMenuCheck(id, server_->Accepting == 1);
            break;
        case CmdFlushConnections:
            server_->Listener.Flush();
            server_->FlushLogs();
            view_->Repaint(false);
            platform::SleepMilliseconds(250);
            UpdateTitle();
            break;
        case CmdAvailable:
            server_->Available = server_->Available ? 0 : 1;
            view_->SetMenuCheck(id, server_->Available == 1);
            break;
        case CmdResolveDynamicIP:
            server_->ResolveDynamicIP();
            view_->Repaint(true);
            break;
        case CmdAbout: view_->ShowAbout(); break;
        default: break;
    }
}

void MainWindow::RequestTitleUpdate() { view_->PostTitleUpdate(); }
void MainWindow::RequestRepaint() { view_->PostRepaint(); }

int MainWindow::RunPropertySheet(const std::string& caption, HTTPConfiguration* config) {
    return view_->RunPropertySheet(caption, config);
}

void MainWindow::ShowOwnedMessage(const std::string& caption, const std::string& text) {
    view_->ShowOwnedMessage(caption, text);
}
