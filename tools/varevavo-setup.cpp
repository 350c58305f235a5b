// varevavo-setup: creates a setup with the defaults of a new setup when it
// does not exist yet, and optionally sets its port.
//
//   varevavo-setup NAME [PORT]
//
// An administrator (or the run script, for a user who may not bind port
// 80) uses it before the first start; the server itself would create the
// same defaults on its first start.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/HTTPConfiguration.h"
#include "platform/Program.h"

namespace {

const platform::ProgramUsage kUsage = {
    "varevavo-setup", "NAME [PORT]",
    "Creates the setup NAME with the defaults of a new setup when it does not\n"
    "exist yet, and with PORT sets the port it listens on (1 to 65535). The\n"
    "store is $VAREVAVO_HOME/registry.db (default ~/.local/share/varevavo). A\n"
    "name that has spaces is one argument here; it cannot start with \"--\".\n",
    "varevavo-setup(8)"};

}  // namespace

int main(int argc, char** argv) {
    if (const int status = platform::AnswerStandardOptions(argc, argv, kUsage); status >= 0) return status;
    if (argc < 2 || argc > 3) return platform::UsageError(kUsage);
    const std::string name = argv[1];
    long port = 0;
    if (argc == 3) {
        char* end = nullptr;
        port = std::strtol(argv[2], &end, 10);
        if (!end || *end || port < 1 || port > 65535) {
            std::fprintf(stderr, "varevavo-setup: '%s' is not a port number (1 to 65535)\n", argv[2]);
            return 1;
        }
    }
    HTTPConfiguration config;
    if (!config.PrepareSetup(name, static_cast<int>(port))) {
        std::fprintf(stderr, "varevavo-setup: the setup could not be read or saved\n");
        return 1;
    }
    return 0;
}
