#include "tests/support/TestServer.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#include <utility>

#include "net/Socket.h"
#include "server/HTTPServer.h"
#include "tests/support/ChildProcess.h"

namespace testing_support {

int TestServer::FreePort() {
    Socket probe(0, 1);
    SocketAddress name;
    probe.GetName(&name);
    return name.port;
}

int TestServer::WriteSetup(const TestHome& home, const std::function<void(HTTPConfiguration&)>& tweak) {
    for (const char* dir : {"HTDOCS", "LOGS", "ICONS", "CGI-BIN", "CGI-WIN", "CGI-DOS"})
        std::filesystem::create_directories(home.DriveC(std::string("HTTPD/") + dir));
    HTTPConfiguration config;
    config.DefaultConfiguration();
    config.Port = FreePort();
    config.ResolveLocal = 0;
    config.NumThreads = 8;
    config.SiteAddress = "localhost";
    // As a setup of an earlier version: HTTP/1.1 requests answered as
    // HTTP/1.0, which most tests pin; a test of 1.1 answers turns it on.
    config.UseHTTP11 = 0;
    // Plain HTTP alone unless a test asks for TLS (and gives it a port).
    config.UseTLS = 0;
    if (tweak) tweak(config);
    config.SaveConfiguration("Primary");
    return config.Port;
}

TestServer::TestServer(const std::function<void(HTTPConfiguration&)>& tweak) {
    port_ = WriteSetup(home_, tweak);
    server_ = std::make_unique<HTTPServer>("");
    server_->StartServer();
    WaitUntil([this] { return server_->Listener.IsSetUp(); });  // else the test fails on its first exchange
}

TestServer::~TestServer() { Shutdown(); }

void TestServer::Shutdown() {
    if (stopped_) return;
    stopped_ = true;
    server_->ShutdownServer();
}

void TestServer::WriteSite(const std::string& relative, const std::string& contents) const {
    TestHome::WriteFile(Site(relative), contents);
}

std::string TestServer::Exchange(const std::string& request, int timeoutMs) {
    RawClient client(port_);
    client.Send(request);
    return client.ReadAll(timeoutMs);
}

std::string TestServer::ExchangeAt(const std::string& address, const std::string& request, int timeoutMs) {
    RawClient client(address, port_);
    client.Send(request);
    return client.ReadAll(timeoutMs);
}

std::string TestServer::Log(const std::string& name) const { return TestHome::ReadFile(Site("LOGS/" + name)); }

std::string RotateAndReload(ChildProcess& program, const TestHome& home, const std::string& setup, int port) {
    const std::string log = home.DriveC("HTTPD/LOGS/ACCESS.LOG");
    std::filesystem::rename(log, log + ".1");
    HTTPConfiguration config;
    config.LoadConfiguration(setup);
    config.Alias.emplace_back("/extra", "C:\\EXTRA");
    config.SaveConfiguration(setup);
    TestHome::WriteFile(home.DriveC("EXTRA/x.txt"), "aliased");
    program.Signal(SIGHUP);
    std::string got;
    if (!WaitUntil([&] {
            RawClient client(port);
            client.Send("GET /extra/x.txt HTTP/1.0\r\n\r\n");
            return (got = client.ReadAll()).find("aliased") != std::string::npos;
        }, 5000))
        return "the new alias does not serve: " + got;
    // The log is written once the answer has gone, so it may trail the
    // client by a moment on a loaded machine.
    if (!WaitUntil([&] { return TestHome::FileExists(log); }, 5000))
        return "the access log was not reopened under its name";
    return {};
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

std::string WithoutDates(std::string response) {
    const std::pair<const char*, const char*> kVarying[] = {
        {"\r\nDate: ", "<date>"}, {"\r\nLast-Modified: ", "<date>"}, {"\r\nETag: ", "<etag>"}};
    for (const auto& [header, stand] : kVarying) {
        const size_t at = response.find(header);
        if (at == std::string::npos) continue;
        const size_t start = at + std::char_traits<char>::length(header);
        const size_t end = response.find("\r\n", start);
        response.replace(start, end - start, stand);
    }
    return response;
}

std::string StatusOf(const std::string& response) { return response.substr(0, response.find("\r\n")); }

std::string BodyOf(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string HeaderOf(const std::string& response, const std::string& name) {
    const size_t at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos) return {};
    const size_t start = at + name.size() + 4;
    return response.substr(start, response.find("\r\n", start) - start);
}

size_t Occurrences(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

}  // namespace testing_support
