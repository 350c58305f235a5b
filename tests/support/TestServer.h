#pragma once
// Test support: a real server started in its own temporary home, its setup
// written through the registry store, listening on a free loopback port,
// with a default site folder (HTDOCS, LOGS, ICONS, CGI-BIN, CGI-WIN under
// C:\HTTPD). Tests talk to it with RawClient over real sockets.

#include <functional>
#include <memory>
#include <string>

#include "config/HTTPConfiguration.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestHome.h"

class HTTPServer;

namespace testing_support {

class TestServer {
public:
    // Writes the default setup with test-friendly changes (a free port, no
    // address lookup, a pool of 8, TLS off), lets tweak change it further, saves it
    // as "Primary" and starts the server.
    explicit TestServer(const std::function<void(HTTPConfiguration&)>& tweak = {});
    // Shuts the server down (as "Shutdown Server" does) unless Shutdown did.
    ~TestServer();
    void Shutdown();

    HTTPServer& Server() { return *server_; }
    TestHome& Home() { return home_; }
    int Port() const { return port_; }

    // Host path of a file below C:\HTTPD (e.g. "HTDOCS/index.html").
    std::string Site(const std::string& relative) const { return home_.DriveC("HTTPD/" + relative); }
    void WriteSite(const std::string& relative, const std::string& contents) const;

    // Sends raw bytes on a new connection and returns everything the server
    // sent until it closed the connection.
    std::string Exchange(const std::string& request, int timeoutMs = 5000);
    // As Exchange, from a client that connects to address ("::1").
    std::string ExchangeAt(const std::string& address, const std::string& request, int timeoutMs = 5000);
    // A new connection.
    std::unique_ptr<RawClient> Connect() { return std::make_unique<RawClient>(port_); }
    // The contents of a log file of C:\HTTPD\LOGS ("ACCESS.LOG" ...).
    std::string Log(const std::string& name) const;

    // Any free loopback port.
    static int FreePort();
    // Writes the test setup "Primary" (the default setup on a free port, no
    // address lookup, a pool of 8, then tweak) into the current home's
    // store, with the site folders; returns its port.
    static int WriteSetup(const TestHome& home, const std::function<void(HTTPConfiguration&)>& tweak);

private:
    TestHome home_;
    int port_ = 0;
    std::unique_ptr<HTTPServer> server_;
    bool stopped_ = false;
};

class ChildProcess;

// What a log rotation does under a running server program, then SIGHUP:
// the access log is moved away and the alias /extra added to the stored
// setup. Empty when the program then serves the alias at once and has
// reopened the access log under its name; otherwise what went wrong.
std::string RotateAndReload(ChildProcess& program, const TestHome& home, const std::string& setup, int port);

// Asks done every 10 ms until it holds or timeoutMs has passed (instead of
// a fixed sleep or an unbounded spin); its last answer.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// A response with the Date and Last-Modified values replaced by "<date>"
// and the ETag value (made of a file's identity and time) by "<etag>", so
// that whole responses can be compared byte for byte.
std::string WithoutDates(std::string response);

// The parts of a response: its status line, its body (empty without a
// whole head), and the value of a header (empty when absent).
std::string StatusOf(const std::string& response);
std::string BodyOf(const std::string& response);
std::string HeaderOf(const std::string& response, const std::string& name);
// How often piece occurs in text.
size_t Occurrences(const std::string& text, const std::string& piece);

}  // namespace testing_support
