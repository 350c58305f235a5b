#pragma once
// The one way the connection core (net/) and the message model (http/) tell
// the operator of a problem that no answer to a client can carry: a port
// that cannot be bound, a temporary file that cannot be named. They only
// name the problem; how it is shown (a message box of the front end that
// runs, the sound before it, its caption) is decided here, so that neither
// folder holds any of the user interface. Safe from any thread: the message
// display never waits for the desktop thread.

#include <string>

enum class OperatorProblem {
    Socket,          // a socket call failed: "Error", after the warning sound
    SocketInternal,  // a socket was asked for what it cannot be: "Sock32 Error", after the sound
    Critical,        // the server cannot go on as asked: "Critical Error"
};

// Shows text as the kind of problem says.
void ReportToOperator(OperatorProblem problem, const std::string& text);
