#pragma once
// Message boxes of the desktop front end. Every dialog the front end shows
// for a message goes through one replaceable function, so that tests see
// the messages without a dialog appearing and without timers.

#include <functional>
#include <string>

class QWidget;

class DesktopMessages {
public:
    // Shows a message owned by owner (null: no owner) with a style of
    // platform::MessageStyle, on the desktop thread; the default function
    // shows a modal dialog and returns when the user closed it.
    using Function =
        std::function<void(QWidget* owner, const std::string& caption, const std::string& text, unsigned style)>;

    // Makes function the one every later message goes to; an empty function
    // restores the modal dialog. Returns the function it replaced. Desktop
    // thread only.
    static Function SetFunction(Function function);

    // Shows a message through the current function. Desktop thread only.
    static void Show(QWidget* owner, const std::string& caption, const std::string& text, unsigned style);
};
