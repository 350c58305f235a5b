// zazezere: the visitor counter console (see VisitorConsole.h).
#include <iostream>

#include "platform/Signals.h"
#include "zazezere/InputBuffer.h"
#include "zazezere/VisitorConsole.h"

int main() {
    platform::CatchInterrupts();
    InputBuffer buffer;
    std::istream in(&buffer);
    in.tie(&std::cout);
    return VisitorConsole().Run(in, std::cout, std::cerr);
}
