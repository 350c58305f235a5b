#include "server/HTTPServer.h"

#include <algorithm>

#include "net/Socket.h"
#include "platform/Clock.h"
#include "platform/MessageDisplay.h"
#include "server/ShellLink.h"

namespace {

// How long the bounce site may take to answer before start-up goes on.
constexpr unsigned long kBounceTimeout = 5000;

HTTPConfiguration LoadSetup(const std::string& name) {
    HTTPConfiguration config;
    config.LoadConfiguration(name);
    return config;
}

// The live record: the setup, and the system's MIME table as it is now.
HTTPConfiguration LoadLiveSetup(const std::string& name) {
    HTTPConfiguration config = LoadSetup(name);
    auto system = std::make_shared<SystemMIMETable>();
    system->Load(SystemMIMETable::kSystemPath);
    config.SystemTypes = std::move(system);
    return config;
}

}  // namespace

HTTPServer::~HTTPServer() {
    Certificates.Stop();
    Accepting = 0;
    stopping_ = true;
    if (startup_.joinable()) startup_.join();
    if (!shutDown_) Listener.Stop();
}

void HTTPServer::StartServer() {
    ReplaceConfiguration(LoadLiveSetup(setupName_));
    const auto config = Snapshot();
    startedPort_ = config->Port;
    startedBindAddress_ = config->BindAddress;
    startedTLSPort_ = config->UseTLS ? config->TLSPort : 0;
    {
        // Every folder a PUT may write into.
        std::vector<std::string> published{config->DocRoot};
        for (const auto* list : {&config->Alias, &config->CgiBin, &config->CgiWin})
            for (const Mapping& entry : *list) published.push_back(entry.second);
        homeLock_.Take(published);
    }
    std::vector<std::string> failures;
    InitializeLogs(&failures);
    LoadCertificate(true);
    const bool tls = config->UseTLS != 0;
    Listener.Start();
    Listener.SetPriority(static_cast<int>(config->PriorityLevel));
    Certificates.Update();
    const bool resolve = config->ResolveLocal != 0;
    if (failures.empty() && !resolve && !tls) return;
    // A message may wait for a user's click and a lookup for an absent
    // network; neither may keep the port closed.
    startup_ = std::thread([this, failures = std::move(failures), resolve, tls] {
        while (!Listener.IsSetUp() && !stopping_) platform::SleepMilliseconds(5);
        if (stopping_) return;
        if (tls && !Listener.IsListeningTLS())
            LogError("Cannot serve HTTPS: " + Listener.TLSListenFailure() + "; plain HTTP goes on", nullptr);
        for (const std::string& text : failures) platform::ShowMessage("Error", text, platform::MB_ICONERROR);
        if (resolve && Listener.IsListening()) ResolveDynamicIP();
    });
}

void HTTPServer::EditProperties() {
    if (sheetOpen_.exchange(true)) return;
    HTTPConfiguration edited = LoadSetup(setupName_);
    ShellLink* shell = Shell();
    if (shell && shell->RunPropertySheet("Varevavo", &edited)) {
        if (NeedsRestart(edited))
            shell->ShowOwnedMessage("Varevavo", "Some changes do not take effect until server is restarted.");
        {
            std::lock_guard<std::mutex> guard(recordLock_);
            edited.SaveConfiguration(setupName_);
            ReplaceConfiguration(LoadLiveSetup(setupName_));
        }
        ApplyRecord();
    }
    sheetOpen_ = false;
}

bool HTTPServer::NeedsRestart(const HTTPConfiguration& edited) {
    // The listener holds the slot count to its range, so a count it would
    // hold to the same number changes nothing.
    const int threads = static_cast<int>(std::clamp<uint32_t>(edited.NumThreads, ListenThread::kMinThreads,
                                                              ListenThread::kMaxThreads));
    return edited.Port != startedPort_ || edited.BindAddress != startedBindAddress_ ||
           (edited.UseTLS ? edited.TLSPort : 0) != startedTLSPort_ ||
           threads != Listener.ThreadCount();
}

void HTTPServer::ReloadConfiguration() {
    {
        std::lock_guard<std::mutex> guard(recordLock_);
        ReplaceConfiguration(LoadLiveSetup(setupName_));
    }
    ApplyRecord();
}

void HTTPServer::ApplyRecord() {
    InitializeLogs();
    LoadCertificate(false);
    Listener.SetPriority(static_cast<int>(Snapshot()->PriorityLevel));
    Certificates.Update();
}

int HTTPServer::ResolveDynamicIP() {
    const auto config = Snapshot();
    Socket probe(0, 1);
    if (probe.IsOpen() &&
        probe.Connect(config->BounceSite.c_str(), static_cast<short>(config->BouncePort), kBounceTimeout) == 0) {
        SocketAddress local;
        probe.GetName(&local);
        probe.Close();
        // The record live now, which a reload during the lookup may have
        // replaced, takes the address.
        std::lock_guard<std::mutex> guard(recordLock_);
        HTTPConfiguration updated = *Snapshot();
        // An IPv6 address in brackets, as a URL and a Host header name it.
        const std::string address = local.address.Text();
        updated.SiteAddress = local.address.IsV4() ? address : "[" + address + "]";
        updated.SaveConfiguration(setupName_);
        ReplaceConfiguration(std::move(updated));
        return 1;
    }
    const int error = probe.LastError.load();
    std::string text = "Could not resolve local name, error code: " + std::to_string(error);
    if (const std::string words = platform::net::ErrorText(error); !words.empty()) text += " (" + words + ")";
    LogError(text, nullptr);
    platform::ShowMessage("ResolveLocal", text, platform::MB_ICONERROR);
    return 0;
}

void HTTPServer::ShutdownServer() {
    Certificates.Stop();
    stopping_ = true;
    if (startup_.joinable()) startup_.join();
    Overloaded = 1;
    Accepting = 0;
    Available = 0;
    // New connections are dropped and requests still coming are answered
    // 503 from now on; the requests already being served get half a second
    // to finish before the listener resets whatever connection is left.
    platform::SleepMilliseconds(500);
    // The loops write the lines they keep for their last batches as they
    // end: the logs close after them, so that none of those lines is lost.
    Listener.Stop();
    for (EventLog* log : Logs()) log->StopLogFile();
    homeLock_.Release();
    shutDown_ = true;
}

std::shared_ptr<const HTTPConfiguration> HTTPServer::Snapshot() const {
    std::lock_guard<std::mutex> guard(configLock_);
    return config_;
}

void HTTPServer::ReplaceConfiguration(HTTPConfiguration fresh) {
    auto record = std::make_shared<const HTTPConfiguration>(std::move(fresh));
    {
        std::lock_guard<std::mutex> guard(configLock_);
        config_.swap(record);
        configVersion_.fetch_add(1, std::memory_order_release);
    }
    // The record replaced is freed here, outside the lock, unless a serving
    // thread or a Snapshot still holds it.
}

const HTTPConfiguration& HTTPServer::Pin(PinnedRecord* held) const {
    const uint64_t version = configVersion_.load(std::memory_order_acquire);
    if (held->version != version) {
        held->record = Snapshot();
        held->version = version;
    }
    return *held->record;
}

void HTTPServer::RequestTitleUpdate() {
    if (ShellLink* shell = Shell()) shell->RequestTitleUpdate();
}

void HTTPServer::RequestRepaint() {
    if (ShellLink* shell = Shell()) shell->RequestRepaint();
}
