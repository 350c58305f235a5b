#include "config/Mapping.h"

#include <utility>

#include "config/SystemMIMETable.h"
#include "http/Characters.h"
#include "http/LetterCase.h"

Mapping::Mapping() = default;

Mapping::Mapping(std::string first, std::string second, int attribute)
    : first(std::move(first)), second(std::move(second)), attribute(attribute) {}

bool Mapping::operator==(const Mapping& other) const { return EqualNoCase(first, other.first); }

int HasVirtual(const Mapping& entry, std::string_view url) {
    const std::string_view path = entry.first;
    // Every request's URL meets every entry: most are told apart by their
    // lengths or by the prefix's last byte (equal without case only when
    // equal with bit 5 set) before any whole compare.
    if (url.size() < path.size()) return 0;
    if (!path.empty() && ((url[path.size() - 1] ^ path.back()) & ~0x20) != 0) return 0;
    if (!StartsWithNoCase(url, path)) return 0;
    return url.size() == path.size() || url[path.size()] == '/';
}

int MatchExtension(const Mapping& entry, std::string_view name) {
    return entry.second.size() < name.size() && EndsWithNoCase(name, entry.second);
}

std::string MIMELookup(std::string_view name, const std::vector<Mapping>* types, const SystemMIMETable* system) {
    if (types && !name.empty()) {
        // Every file served asks this: the last bytes are compared first
        // (bytes equal without case are equal with bit 5 set), as most
        // extensions differ there.
        const char last = static_cast<char>(name.back() | 0x20);
        for (const Mapping& entry : *types) {
            const std::string& extension = entry.second;
            if (!extension.empty() && static_cast<char>(extension.back() | 0x20) != last) continue;
            if (MatchExtension(entry, name)) return entry.first;
        }
    }
    if (const std::string_view type = system ? system->Find(name) : std::string_view(); !type.empty())
        return std::string(type);
    return "text/html";
}

std::string TypeWithCharset(std::string type, std::string_view charset) {
    if (!IsToken(charset)) return type;
    std::string_view rest = type;
    size_t end = rest.find(';');
    if (!EqualNoCase(TrimBlanks(rest.substr(0, end)), "text/plain")) return type;
    while (end != std::string_view::npos) {
        rest.remove_prefix(end + 1);
        end = rest.find(';');
        const std::string_view parameter = rest.substr(0, end);
        if (EqualNoCase(TrimBlanks(parameter.substr(0, parameter.find('='))), "charset")) return type;
    }
    while (!type.empty() && (type.back() == ';' || type.back() == ' ' || type.back() == '\t')) type.pop_back();
    type += "; charset=";
    type += charset;
    return type;
}

const Mapping* FindFirst(const std::vector<Mapping>& list, int (*match)(const Mapping&, std::string_view),
                         std::string_view value) {
    for (const Mapping& entry : list)
        if (match(entry, value)) return &entry;
    return nullptr;
}
