// ruvuzerar: the web server. The whole command line names the setup to run
// ("Primary" when it is empty). When a display answers and VAREVAVO_SHELL is
// not "console", the process becomes ruvuzerar-desktop (the desktop front
// end, built beside this program); otherwise the console front end runs
// here. Keeping the toolkit in a program of its own keeps a headless server
// small: it never loads the desktop libraries. Only "--help", "--version"
// and other words starting with "--" are options, so a setup name cannot
// start with "--".
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ConsoleEvents.h"
#include "platform/Display.h"
#include "platform/FileSystem.h"
#include "platform/Program.h"
#include "shell/ConsoleFrontEnd.h"

namespace {

const platform::ProgramUsage kUsage = {
    "ruvuzerar", "[SETUP]",
    "Runs the Varevavo web server on the named setup (\"Primary\" when none is\n"
    "given). The whole command line names the setup: its words joined by single\n"
    "spaces. A setup name cannot start with \"--\".\n"
    "\n"
    "With a display (DISPLAY or WAYLAND_DISPLAY) it hands over to\n"
    "ruvuzerar-desktop; otherwise, or with VAREVAVO_SHELL=console, it runs in the\n"
    "foreground. SIGTERM and SIGINT shut it down, SIGHUP re-reads the setup and\n"
    "reopens the logs, SIGUSR1 resets every open connection.\n"
    "\n"
    "The home, VAREVAVO_HOME (default ~/.local/share/varevavo), holds the\n"
    "registry store registry.db and the drives: C:\\ is $VAREVAVO_HOME/drive_c.\n",
    "ruvuzerar(8)"};

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
    if (const int status = platform::AnswerStandardOptions(argc, argv, kUsage); status >= 0) return status;
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
