#include "visitor/StoreLocation.h"

#include <cstdlib>
#include <filesystem>

#include "platform/Program.h"

namespace {

bool IsDriveFolder(const std::string& name) {
    if (name.size() != 7 || name.compare(0, 6, "drive_") != 0) return false;
    const char letter = name[6];
    return (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z');
}

}  // namespace

std::string StoreLocation::HomeOf(std::string_view programPath) {
    const std::filesystem::path path = std::filesystem::path(programPath).lexically_normal();
    if (!path.is_absolute()) return {};
    // The program's own name is not a folder above it.
    for (std::filesystem::path folder = path.parent_path(); folder.has_relative_path(); folder = folder.parent_path())
        if (IsDriveFolder(folder.filename().string())) return folder.parent_path().string();
    return {};
}

std::string StoreLocation::FindHome(const std::string& startedAs) {
    std::string home = HomeOf(startedAs);
    if (home.empty()) {
        const std::string directory = platform::ProgramDirectory();
        if (!directory.empty()) home = HomeOf(directory + "/program");
    }
    if (home.empty())
        if (const char* set = std::getenv("VAREVAVO_HOME"); set && *set) home = set;
    return home;
}
