// varevavo-reg: the registry editor (see RegistryEditor.h for the commands).
// Its own options start with / or -; "--version", "--help" (which "/?"
// also shows) and other words starting with "--" are read in the place of
// the command.
#include <iostream>
#include <string>
#include <vector>

#include "platform/Program.h"
#include "tools/RegistryEditor.h"

int main(int argc, char** argv) {
    const platform::ProgramUsage usage = {"varevavo-reg", "query|add|delete|export|import ...", "",
                                           "varevavo-reg(1)"};
    if (argc > 1 && std::string(argv[1]) != "--help")
        if (const int status = platform::AnswerStandardOption(argv[1], usage); status >= 0) return status;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    RegistryEditor editor(std::cout, std::cerr);
    return editor.Run(arguments);
}
