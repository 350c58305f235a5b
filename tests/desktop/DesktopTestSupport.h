#pragma once
// Test support for the desktop front end: a recorder for its message boxes,
// a setup written for the front end's own server, and an event-loop pump.

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "shell/desktop/DesktopMessages.h"
#include "tests/support/TestHome.h"

namespace desktop_testing {

// Records every message box the front end shows, instead of a dialog.
class MessageRecorder {
public:
    struct Message {
        QWidget* owner;
        std::string caption;
        std::string text;
        unsigned style;
    };
    MessageRecorder();
    ~MessageRecorder();
    std::vector<Message> messages;

private:
    DesktopMessages::Function previous_;
};

// A fresh home with the site folders and the setup "Primary": the defaults
// with a free port, no address lookup, a pool of 8 and "localhost" as the
// site address, then tweak. Port() is the port the setup names.
class DesktopSite {
public:
    explicit DesktopSite(const std::function<void(HTTPConfiguration&)>& tweak = {});
    testing_support::TestHome& Home() { return home_; }
    int Port() const { return port_; }
    // Host path of a file below C:\HTTPD.
    std::string Site(const std::string& relative) const { return home_.DriveC("HTTPD/" + relative); }
    // The setup as the store holds it now.
    static HTTPConfiguration Stored();

private:
    testing_support::TestHome home_;
    int port_ = 0;
};

// Runs the event loop until done() holds or timeoutMs passes; done()'s last value.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

}  // namespace desktop_testing
