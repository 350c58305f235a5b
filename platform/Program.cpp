#include "platform/Program.h"

#include <unistd.h>

#include <climits>
#include <cstdio>

namespace platform {

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string text(path, static_cast<size_t>(n));
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

void ReplaceProcess(const std::string& path, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
}

const char* VarevavoVersion() { return VAREVAVO_VERSION; }

namespace {

// "NAME SYNOPSIS", or the name alone for a program that takes nothing else.
std::string UsageLine(const ProgramUsage& usage) {
    return std::string("Usage: ") + usage.name + (*usage.synopsis ? " " : "") + usage.synopsis;
}

}  // namespace

int AnswerStandardOption(const std::string& word, const ProgramUsage& usage) {
    if (word == "--help") {
        std::printf("%s\n%s\n"
                    "      --help     show this help and exit\n"
                    "      --version  show the version and exit\n\n"
                    "See %s.\n",
                    UsageLine(usage).c_str(), usage.help, usage.manual);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (word == "--version") {
        std::printf("%s (Varevavo) %s\n", usage.name, VarevavoVersion());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (word.rfind("--", 0) == 0) {
        std::fprintf(stderr, "%s: unknown option '%s'\n", usage.name, word.c_str());
        return UsageError(usage);
    }
    return -1;
}

int AnswerStandardOptions(int argc, char** argv, const ProgramUsage& usage) {
    for (int i = 1; i < argc; ++i)
        if (const int status = AnswerStandardOption(argv[i], usage); status >= 0) return status;
    return -1;
}

int UsageError(const ProgramUsage& usage) {
    std::fprintf(stderr, "%s\nTry '%s --help' for more.\n", UsageLine(usage).c_str(), usage.name);
    return 2;
}

}  // namespace platform
