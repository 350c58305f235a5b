#pragma once
// The running program's own file, the options every program answers, and
// handing the process over to another program.

#include <string>
#include <vector>

namespace platform {

// The folder that holds the running program (empty when unknown).
std::string ProgramDirectory();

// Replaces this process with the program at path, given arguments (the
// first is the program's name). Returns only on failure.
void ReplaceProcess(const std::string& path, const std::vector<std::string>& arguments);

// What a program says of itself for --help.
struct ProgramUsage {
    const char* name;      // "varevavo-setup"
    const char* synopsis;  // what follows the name on the usage line: "NAME [PORT]"
    const char* help;      // the lines that say what it does
    const char* manual;    // its manual page: "varevavo-setup(8)"
};

// The version of Varevavo the program belongs to ("1.0").
const char* VarevavoVersion();

// Answers the options every program takes, given one word of its command
// line: "--help" prints the usage line, the help, the two options and the
// manual page on standard output, "--version" the program's name and
// version, and both give 0; any other word that starts with "--" prints the
// usage on standard error and gives 2. Every other word gives -1: it is the
// program's own.
int AnswerStandardOption(const std::string& word, const ProgramUsage& usage);

// The same for every word of the command line (argv[1] on): the status of
// the first word that is an option, or -1 when none is.
int AnswerStandardOptions(int argc, char** argv, const ProgramUsage& usage);

// Prints the usage on standard error; returns 2, the status of a command
// line the program cannot take.
int UsageError(const ProgramUsage& usage);

}  // namespace platform
