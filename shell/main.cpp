// ruvuzerar: the web server. The whole command line names the setup to run
// ("Primary" when it is empty). The desktop front end runs when a display is
// there and VAREVAVO_SHELL is not "console"; otherwise the console one.
#include <cstdlib>
#include <string>

#include "platform/ConsoleEvents.h"
#include "platform/Display.h"
#include "shell/ConsoleFrontEnd.h"
#ifdef VAREVAVO_HAVE_DESKTOP
#include "shell/desktop/DesktopFrontEnd.h"
#endif

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
    const std::string setup = SetupName(argc, argv);
#ifdef VAREVAVO_HAVE_DESKTOP
    if (WantsDesktop()) return RunDesktopFrontEnd(argc, argv, setup);
#else
    (void)WantsDesktop;
#endif
    ConsoleFrontEnd console;
    return console.Run(setup);
}
