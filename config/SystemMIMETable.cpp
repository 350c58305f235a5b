#include "config/SystemMIMETable.h"

#include "http/LetterCase.h"
#include "platform/File.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The next blank-separated word of line from *at, or empty at its end.
std::string_view NextWord(std::string_view line, size_t* at) {
    while (*at < line.size() && IsBlank(line[*at])) ++*at;
    const size_t start = *at;
    while (*at < line.size() && !IsBlank(line[*at])) ++*at;
    return line.substr(start, *at - start);
}

}  // namespace

bool SystemMIMETable::Load(const std::string& path) {
    types_.clear();
    platform::File file;
    if (!file.Open(path, platform::File::Mode::Read)) return false;
    std::string text;
    char buffer[16384];
    long n;
    while ((n = file.Read(buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    if (n < 0) return false;

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        size_t at = 0;
        const std::string_view type = NextWord(line, &at);
        if (type.empty() || type[0] == '#' || type.find('/') == std::string_view::npos) continue;
        for (std::string_view extension = NextWord(line, &at); !extension.empty(); extension = NextWord(line, &at))
            types_.try_emplace(ToLower(extension), type);
    }
    return true;
}

std::string_view SystemMIMETable::Find(std::string_view name) const {
    if (types_.empty()) return {};
    const size_t separator = name.find_last_of("\\/");
    if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
    // The first dot past the name's first character starts the longest suffix.
    for (size_t dot = name.find('.', 1); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
        const auto found = types_.find(ToLower(name.substr(dot + 1)));
        if (found != types_.end()) return found->second;
    }
    return {};
}
