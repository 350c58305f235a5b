#include "shell/ConsoleFrontEnd.h"

#include "platform/Clock.h"
#include "platform/MessageDisplay.h"
#include "platform/ServiceManager.h"
#include "server/HTTPServer.h"

namespace {

// Title refreshes come from every worker at every request; the terminal
// shows them at most this often.
constexpr uint32_t kTitleInterval = 100;

unsigned CommandOfKey(char key) {
    switch (key) {
        case 'a': return CmdAcceptConnections;
        case 'v': return CmdAvailable;
        case 'r': return CmdResolveDynamicIP;
        case 'f': return CmdFlushConnections;
        case 's': return CmdShutdown;
        default: return 0;
    }
}

}  // namespace

int ConsoleFrontEnd::Run(const std::string& setupName) {
    // On a terminal the title stays on the current line; messages (written
    // "Caption: text" on standard error, as the console default does) start
    // on a line of their own. The handler goes before the window, whose
    // server may still talk while it shuts down.
    struct MessageRoute {
        explicit MessageRoute(ConsoleFrontEnd* frontEnd) : routed(frontEnd->events_.IsTerminal()) {
            if (routed)
                previous = platform::SetMessageHandler(
                    [frontEnd](const std::string& caption, const std::string& text, unsigned) {
                        frontEnd->events_.Say(caption + ": " + text, true);
                    });
        }
        ~MessageRoute() {
            if (routed) platform::SetMessageHandler(std::move(previous));
        }
        bool routed;
        platform::MessageHandler previous;
    } route(this);
    MainWindow window(setupName, this);
    window.SetupTray();
    HTTPServer* server = window.Server();
    while (!server->Listener.IsSetUp()) platform::SleepMilliseconds(5);
    if (!server->Listener.IsListening()) {
        window.CleanupTray();
        return 1;
    }
    const auto config = server->Snapshot();
    serving_ = "Varevavo serves setup \"" + server->SetupName() + "\" at http://" + config->SiteAddress + ":" +
               std::to_string(config->Port) + "/";
    events_.Say(serving_);
    platform::NotifyReady(serving_);
    if (events_.IsTerminal())
        events_.Say(
            "Keys: a accept, v available, r resolve address, f flush, p re-read setup, s shut down");
    window.UpdateTitle();

    uint32_t lastTitle = platform::MillisecondClock();
    while (!quit_) {
        const uint32_t sinceTitle = platform::MillisecondClock() - lastTitle;
        const bool titleDue = sinceTitle >= kTitleInterval;
        const auto event = events_.Wait(titleDue ? -1 : static_cast<int>(kTitleInterval - sinceTitle), titleDue);
        switch (event.kind) {
            case platform::ConsoleEvents::Kind::Interrupt:
            case platform::ConsoleEvents::Kind::Terminate:
                platform::NotifyStopping();
                window.WMCommand(CmdShutdown);
                break;
            case platform::ConsoleEvents::Kind::Hangup: Reload(window); break;
            case platform::ConsoleEvents::Kind::User1: window.WMCommand(CmdFlushConnections); break;
            case platform::ConsoleEvents::Kind::Key:
                if (event.key == 'p') Reload(window);
                else if (const unsigned id = CommandOfKey(event.key)) window.WMCommand(id);
                break;
            case platform::ConsoleEvents::Kind::Wake:
                titlePending_ = false;
                window.UpdateTitle();
                lastTitle = platform::MillisecondClock();
                SayCertificateState(*server);
                break;
            case platform::ConsoleEvents::Kind::Timeout: break;
        }
    }
    return 0;
}

void ConsoleFrontEnd::Reload(MainWindow& window) {
    platform::NotifyReloading();
    window.Server()->ReloadConfiguration();
    window.UpdateTitle();
    platform::NotifyReady(serving_);  // a new port waits for a restart
}

void ConsoleFrontEnd::SayCertificateState(const HTTPServer& server) {
    const std::string state = server.Certificates.StatusLine();
    if (state.empty() || state == shownCertificate_) return;
    shownCertificate_ = state;
    events_.Say(state);
}

void ConsoleFrontEnd::SetTitle(const std::string& title) {
    if (!events_.IsTerminal() || title == shownTitle_) return;
    shownTitle_ = title;
    events_.ShowStatusLine(title);
}

void ConsoleFrontEnd::SetMenuCheck(unsigned id, bool checked) {
    if (!events_.IsTerminal()) return;
    const char* what = id == CmdAcceptConnections ? "Accept Connections" : "Available";
    events_.ShowStatusLine(std::string(what) + (checked ? " on" : " off"));
    shownTitle_.clear();
}

void ConsoleFrontEnd::ShowAbout() { events_.Say(MainWindow::kAboutLine); }

void ConsoleFrontEnd::PostTitleUpdate() {
    // Only a terminal shows the title; one wake-up covers any number of posts.
    if (events_.IsTerminal() && !titlePending_.exchange(true)) events_.Wake();
}

void ConsoleFrontEnd::ShowOwnedMessage(const std::string& caption, const std::string& text) {
    platform::ShowMessage(caption, text, platform::MB_OK);
}
