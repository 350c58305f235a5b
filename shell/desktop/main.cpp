// ruvuzerar-desktop: the web server behind a tray icon. ruvuzerar hands
// over to it when a display answers; the whole command line names the
// setup, as for ruvuzerar.
#include <string>

#include "shell/desktop/DesktopFrontEnd.h"

int main(int argc, char** argv) {
    std::string setup;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) setup += ' ';
        setup += argv[i];
    }
    return RunDesktopFrontEnd(argc, argv, setup);
}
