#pragma once
// What the server tells and asks the front end that runs it (the console or
// the desktop): the one way the front end hears of the server. The two
// notices, RequestTitleUpdate and RequestRepaint, come from the connection
// core's threads (its loops, its workers, the listener's hand-over) as the
// core's events turn into them; both only post a request and never wait,
// because the front end's thread may itself be waiting for the pool to end.
// The other two run on the front end's own thread.

#include <string>

class HTTPConfiguration;

class ShellLink {
public:
    virtual ~ShellLink() = default;

    // The busy count or the overload flag may have changed.
    virtual void RequestTitleUpdate() = 0;
    // The counters shown in the status window may have changed.
    virtual void RequestRepaint() = 0;
    // Shows the property sheet on config, modally; non-zero when accepted.
    virtual int RunPropertySheet(const std::string& caption, HTTPConfiguration* config) = 0;
    // A message owned by the main window (waits for the user on a desktop).
    virtual void ShowOwnedMessage(const std::string& caption, const std::string& text) = 0;
};
