// varevavo-setup: creates a setup for a person when it does not exist yet,
// and optionally sets its port.
//
//   varevavo-setup NAME [PORT]
//
// An administrator, the run script and the package's first start use it
// before the server first runs. The setup it makes has the defaults of a
// new setup (what the server itself would write on its first start) with
// the personal settings over them: persistent connections with 64 slots,
// no address lookup at start, and this system's Perl.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/CertificatePair.h"
#include "config/HTTPConfiguration.h"
#include "platform/Program.h"

namespace {

const platform::ProgramUsage kUsage = {
    "varevavo-setup", "NAME [PORT]",
    "Creates the setup NAME when it does not exist yet: every default of a new\n"
    "setup, but with keep-alive on (UseKeepAlive 1, NumThreads 64), no address\n"
    "lookup at start (ResolveLocal 0) and PerlCmdLine /usr/bin/perl, and makes a\n"
    "self-signed HTTPS certificate and key where the setup names them when\n"
    "neither exists. With PORT\n"
    "it sets the port the setup listens on (1 to 65535); an existing setup keeps\n"
    "everything else. The store is $VAREVAVO_HOME/registry.db (default\n"
    "~/.local/share/varevavo). A name that has spaces is one argument here; it\n"
    "cannot start with \"--\".\n",
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
    if (!config.PrepareSetup(name, static_cast<int>(port), true)) {
        std::fprintf(stderr, "varevavo-setup: the setup could not be read or saved\n");
        return 1;
    }
    // The HTTPS pair is made here too, so that it belongs to whoever
    // prepares the setup (the service's own user) from its first start on.
    std::string message;
    switch (CertificatePair::MakeWhenMissing(config, &message)) {
        case CertificatePair::Outcome::Present: break;
        case CertificatePair::Outcome::Made: std::printf("%s\n", message.c_str()); break;
        case CertificatePair::Outcome::Failed: std::fprintf(stderr, "varevavo-setup: %s\n", message.c_str()); return 1;
    }
    return 0;
}
