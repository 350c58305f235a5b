#include "platform/OperatorReport.h"

#include "platform/MessageDisplay.h"

namespace platform {

void ReportToOperator(OperatorProblem problem, const std::string& text) {
    switch (problem) {
        case OperatorProblem::Socket:
            MessageBeep(MB_ICONEXCLAMATION);
            ShowMessage("Error", text, MB_OK);
            break;
        case OperatorProblem::SocketInternal:
            MessageBeep(MB_ICONEXCLAMATION);
            ShowMessage("Sock32 Error", text, MB_ICONEXCLAMATION);
            break;
        case OperatorProblem::Critical: ShowMessage("Critical Error", text, MB_ICONERROR); break;
    }
}

}  // namespace platform
