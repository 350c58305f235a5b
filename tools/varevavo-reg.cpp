// varevavo-reg: the registry editor (see RegistryEditor.h for the commands).
#include <iostream>
#include <string>
#include <vector>

#include "tools/RegistryEditor.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    RegistryEditor editor(std::cout, std::cerr);
    return editor.Run(arguments);
}
