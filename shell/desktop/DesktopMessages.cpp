#include "shell/desktop/DesktopMessages.h"

#include <QMessageBox>

#include "platform/MessageDisplay.h"

namespace {

// Only the desktop thread reads or replaces it, so it needs no lock.
DesktopMessages::Function current;

QMessageBox::Icon IconOfStyle(unsigned style) {
    switch (style & 0xF0) {
        case platform::MB_ICONERROR: return QMessageBox::Critical;
        case platform::MB_ICONQUESTION: return QMessageBox::Question;
        case platform::MB_ICONEXCLAMATION: return QMessageBox::Warning;
        case platform::MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

void ModalDialog(QWidget* owner, const std::string& caption, const std::string& text, unsigned style) {
    QMessageBox box(IconOfStyle(style), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace

DesktopMessages::Function DesktopMessages::SetFunction(Function function) {
    Function old = std::move(current);
    current = std::move(function);
    return old;
}

void DesktopMessages::Show(QWidget* owner, const std::string& caption, const std::string& text, unsigned style) {
    // A copy, so that a function that replaces itself while it runs stays alive.
    const Function function = current;
    if (function) function(owner, caption, text, style);
    else ModalDialog(owner, caption, text, style);
}
