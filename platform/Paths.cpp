#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace platform {

std::string VarevavoHome() {
    if (const char* home = std::getenv("VAREVAVO_HOME"); home && *home) return home;
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        base = data;
    } else {
        const char* user = std::getenv("HOME");
        base = std::string(user && *user ? user : ".") + "/.local/share";
    }
    return base + "/varevavo";
}

void SetVarevavoHome(const std::string& home) { ::setenv("VAREVAVO_HOME", home.c_str(), 1); }

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

std::string HostPath(std::string_view serverPath) {
    if (HasNul(serverPath)) return {};
    std::string out;
    std::string_view rest = serverPath;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (rest.size() >= 2 && isLetter(rest[0]) && rest[1] == ':') {
        const char drive = static_cast<char>(rest[0] | 0x20);
        out = VarevavoHome() + "/drive_" + drive;
        rest.remove_prefix(2);
        if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') out += '/';
    }
    out.reserve(out.size() + rest.size());
    for (char c : rest) out += c == '\\' ? '/' : c;
    return out;
}

bool MakeDirectories(const std::string& hostPath, unsigned mode) {
    if (hostPath.empty() || HasNul(hostPath)) return false;
    std::string partial;
    for (size_t i = 0; i <= hostPath.size(); ++i) {
        if (i == hostPath.size() || (hostPath[i] == '/' && i > 0)) {
            partial = hostPath.substr(0, i);
            if (::mkdir(partial.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
