#include "config/SystemMIMETable.h"

#include <algorithm>

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
    text_.clear();
    entries_.clear();
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
        std::string_view extension = NextWord(line, &at);
        if (extension.empty()) continue;
        const Entry typed{0, 0, static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(type.size())};
        text_ += type;
        for (; !extension.empty(); extension = NextWord(line, &at)) {
            Entry entry = typed;
            entry.extension = static_cast<uint32_t>(text_.size());
            entry.extensionLength = static_cast<uint32_t>(extension.size());
            text_ += ToLower(extension);
            entries_.push_back(entry);
        }
    }
    // Sorted by extension, the first line naming an extension ahead of the
    // later ones, whose entries are then dropped.
    const auto byExtension = [this](const Entry& a, const Entry& b) {
        return Text(a.extension, a.extensionLength) < Text(b.extension, b.extensionLength);
    };
    std::stable_sort(entries_.begin(), entries_.end(), byExtension);
    entries_.erase(std::unique(entries_.begin(), entries_.end(),
                               [&](const Entry& a, const Entry& b) { return !byExtension(a, b); }),
                   entries_.end());
    text_.shrink_to_fit();
    entries_.shrink_to_fit();
    return true;
}

std::string_view SystemMIMETable::Find(std::string_view name) const {
    if (entries_.empty()) return {};
    const size_t separator = name.find_last_of("\\/");
    if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
    // The first dot past the name's first character starts the longest suffix.
    for (size_t dot = name.find('.', 1); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
        const std::string extension = ToLower(name.substr(dot + 1));
        const auto found = std::lower_bound(entries_.begin(), entries_.end(), extension,
                                            [this](const Entry& entry, const std::string& wanted) {
                                                return Text(entry.extension, entry.extensionLength) < wanted;
                                            });
        if (found != entries_.end() && Text(found->extension, found->extensionLength) == extension)
            return Text(found->type, found->typeLength);
    }
    return {};
}
