// A process that dies in the middle of saving a setup: right after the old
// setup was deleted, before anything new is written. The test then checks
// that the old setup is still there, whole.
//   save_crasher SETUP
#include <cstdio>
#include <cstdlib>

#include "config/HTTPConfiguration.h"
#include "platform/RegistryStore.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HTTPConfiguration c;
    c.DefaultConfiguration();
    // The first commit of a save is the end of the old setup's deletion.
    platform::reg::CommitSeam = [] {
        std::printf("deleted\n");
        std::fflush(stdout);
        std::_Exit(3);  // no destructor, no rollback: as abrupt as a crash
        return true;
    };
    c.SaveConfiguration(argv[1]);
    return 0;
}
