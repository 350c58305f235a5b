#include "net/OperatorReport.h"

#include "platform/MessageDisplay.h"

void ReportToOperator(OperatorProblem problem, const std::string& text) {
    switch (problem) {
        case OperatorProblem::Socket:
            platform::MessageBeep(platform::MB_ICONEXCLAMATION);
            platform::ShowMessage("Error", text, platform::MB_OK);
            break;
        case OperatorProblem::SocketInternal:
            platform::MessageBeep(platform::MB_ICONEXCLAMATION);
            platform::ShowMessage("Sock32 Error", text, platform::MB_ICONEXCLAMATION);
            break;
        case OperatorProblem::Critical: platform::ShowMessage("Critical Error", text, platform::MB_ICONERROR); break;
    }
}
