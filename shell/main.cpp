// ruvuzerar: the web server. The whole command line names the setup to run
// ("Primary" when it is empty). When a display answers and VAREVAVO_SHELL is
// not "console", the process becomes ruvuzerar-desktop (the desktop front
// end, built beside this program); otherwise the console front end runs
// here. Keeping the toolkit in a program of its own keeps a headless server
// small: it never loads the desktop libraries.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ConsoleEvents.h"
#include "platform/Display.h"
#include "platform/FileSystem.h"
#include "platform/Program.h"
#include "shell/ConsoleFrontEnd.h"

namespace {

std::string SetupName(int argc, char** argv) {
    std::string name;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) name += ' ';
        name += argv[i];
    }
    return name;
}

bool WantsDesktop() {
    const char* shell = std::getenv("VAREVAVO_SHELL");
    if (shell && std::string(shell) == "console") return false;
    std::string display;
    if (platform::DisplayReachable(&display)) return true;
    if (!display.empty())
        platform::ConsoleEvents::PrintLine("The display " + display + " does not answer: running on the console.");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (WantsDesktop()) {
        const std::string desktop = platform::ProgramDirectory() + "/ruvuzerar-desktop";
        if (platform::GetFileInfo(desktop, nullptr)) {
            std::vector<std::string> arguments(argv, argv + argc);
            platform::ReplaceProcess(desktop, arguments);
        }
        platform::ConsoleEvents::PrintLine("The desktop front end is not built here: running on the console.");
    }
    ConsoleFrontEnd console;
    return console.Run(SetupName(argc, argv));
}
