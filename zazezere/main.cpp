// zazezere: the visitor counter console (see VisitorConsole.h).
#include <iostream>

#include "platform/Program.h"
#include "platform/Signals.h"
#include "zazezere/InputBuffer.h"
#include "zazezere/VisitorConsole.h"

namespace {

const platform::ProgramUsage kUsage = {
    "zazezere", "",
    "Creates and sets the hit counters of the visitor-counter script: the\n"
    "REG_DWORD values of HKLM\\Software\\Visitor in $VAREVAVO_HOME/registry.db\n"
    "(default ~/.local/share/varevavo). Type a reference name, then the value it\n"
    "should have; zazezere prints the image tag to put in the page. Control-C\n"
    "or Control-D ends it.\n",
    "zazezere(1)"};

}  // namespace

int main(int argc, char** argv) {
    if (const int status = platform::AnswerStandardOptions(argc, argv, kUsage); status >= 0) return status;
    if (argc > 1) return platform::UsageError(kUsage);
    platform::CatchInterrupts();
    InputBuffer buffer;
    std::istream in(&buffer);
    in.tie(&std::cout);
    return VisitorConsole().Run(in, std::cout, std::cerr);
}
