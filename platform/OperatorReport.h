#pragma once
// The one way code below the server (the socket layer, the message model)
// tells the operator of a problem that no answer to a client can carry: a
// port that cannot be bound, a temporary file that cannot be named. Callers
// only name the problem; how it is shown (the sound before it, its caption,
// its style) is decided here, and where it is shown is decided by the front
// end that runs, through the message handler it installs
// (MessageDisplay.h). So neither caller holds any of the user interface,
// and neither needs the other to report. Safe from any thread: the message
// display never waits for the desktop thread.

#include <string>

namespace platform {

enum class OperatorProblem {
    Socket,          // a socket call failed: "Error", after the warning sound
    SocketInternal,  // a socket was asked for what it cannot be: "Sock32 Error", after the sound
    Critical,        // the server cannot go on as asked: "Critical Error"
};

// Shows text as the kind of problem says.
void ReportToOperator(OperatorProblem problem, const std::string& text);

}  // namespace platform
