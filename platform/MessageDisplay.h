#pragma once
// Message boxes. The front end that runs decides how a message is shown:
// the console front end (the default) writes "Caption: text" on standard
// error; the desktop front end shows a real dialog. A worker or listener
// thread never waits for the desktop thread: a handler that shows dialogs
// must post them and return.

#include <functional>
#include <string>

namespace platform {

// Styles, with the numbering of the desktop platform the server was designed on.
enum MessageStyle : unsigned {
    MB_OK = 0x00,
    MB_ICONERROR = 0x10,  // also "stop" and "hand"
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};

using MessageHandler = std::function<void(const std::string& caption, const std::string& text, unsigned style)>;

// Installs the handler every later message goes to; an empty handler
// restores the console default. Returns the handler it replaced.
MessageHandler SetMessageHandler(MessageHandler handler);

// Shows a message through the installed handler.
void ShowMessage(const std::string& caption, const std::string& text, unsigned style = MB_OK);

// The attention sound that precedes some messages; the console has none.
void MessageBeep(unsigned style);

}  // namespace platform
