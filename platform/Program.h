#pragma once
// The running program's own file, and handing the process over to another
// program.

#include <string>
#include <vector>

namespace platform {

// The folder that holds the running program (empty when unknown).
std::string ProgramDirectory();

// Replaces this process with the program at path, given arguments (the
// first is the program's name). Returns only on failure.
void ReplaceProcess(const std::string& path, const std::vector<std::string>& arguments);

}  // namespace platform
