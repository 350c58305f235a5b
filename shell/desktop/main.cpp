// ruvuzerar-desktop: the web server behind a tray icon. ruvuzerar hands
// over to it when a display answers; the whole command line names the
// setup, as for ruvuzerar (a setup name cannot start with "--").
#include <string>

#include "platform/Program.h"
#include "shell/desktop/DesktopFrontEnd.h"

namespace {

const platform::ProgramUsage kUsage = {
    "ruvuzerar-desktop", "[SETUP]",
    "Runs the Varevavo web server on the named setup (\"Primary\" when none is\n"
    "given) behind a tray icon: left click shows the status window, right click\n"
    "the Admin menu with the property sheet. The whole command line names the\n"
    "setup; a setup name cannot start with \"--\". VAREVAVO_HOME (default\n"
    "~/.local/share/varevavo) holds the registry store and the drives.\n",
    "ruvuzerar-desktop(1)"};

}  // namespace

int main(int argc, char** argv) {
    if (const int status = platform::AnswerStandardOptions(argc, argv, kUsage); status >= 0) return status;
    std::string setup;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) setup += ' ';
        setup += argv[i];
    }
    return RunDesktopFrontEnd(argc, argv, setup);
}
