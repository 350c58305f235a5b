#include "tools/RegFile.h"

#include <cstdio>

#include "http/LetterCase.h"
#include "platform/RegistryStore.h"

using platform::reg::REG_DWORD;
using platform::reg::REG_SZ;

namespace {

constexpr std::string_view kRootLong = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kRootShort = "HKLM";
constexpr std::string_view kBlanks = " \t";

std::string_view TrimRight(std::string_view text) {
    const size_t end = text.find_last_not_of(kBlanks);
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string_view TrimLeft(std::string_view text) {
    const size_t start = text.find_first_not_of(kBlanks);
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

void AppendQuoted(std::string* out, std::string_view text) {
    *out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') *out += '\\';
        *out += c;
    }
    *out += '"';
}

// A REG_SZ can be written as "text" when its bytes are one line of text
// followed by exactly one zero byte.
bool IsPlainText(const std::vector<uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r') return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads 1 to maxDigits hexadecimal digits as the whole of text.
bool ParseHex(std::string_view text, size_t maxDigits, uint32_t* value) {
    if (text.empty() || text.size() > maxDigits) return false;
    *value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return false;
        *value = (*value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

// Reads a quoted text at the start of *rest, consuming it. On failure
// *problem says why.
bool ReadQuoted(std::string_view* rest, std::string* text, std::string* problem) {
    text->clear();
    for (size_t i = 1; i < rest->size(); ++i) {
        const char c = (*rest)[i];
        if (c == '"') {
            rest->remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= rest->size() || ((*rest)[i + 1] != '\\' && (*rest)[i + 1] != '"')) {
                *problem = "a backslash in quotes must be written \\\\ (or \\\" for a quote)";
                return false;
            }
            ++i;
        }
        *text += (*rest)[i];
    }
    *problem = "the closing quote is missing";
    return false;
}

// Reads the data after '=': "text", dword:XXXXXXXX, hex:.., hex(T):.. or -.
bool ReadData(std::string_view data, RegFileEntry* entry, std::string* problem) {
    if (data == "-") {
        entry->kind = RegFileEntry::DeleteValue;
        return true;
    }
    entry->kind = RegFileEntry::SetValue;
    if (!data.empty() && data[0] == '"') {
        std::string text;
        if (!ReadQuoted(&data, &text, problem)) return false;
        if (!TrimLeft(data).empty()) {
            *problem = "unexpected text after the closing quote";
            return false;
        }
        entry->type = REG_SZ;
        entry->data.assign(text.begin(), text.end());
        entry->data.push_back(0);
        return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
        uint32_t value = 0;
        if (!ParseHex(data.substr(6), 8, &value)) {
            *problem = "dword: must be followed by 1 to 8 hexadecimal digits";
            return false;
        }
        entry->type = REG_DWORD;
        entry->data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                       static_cast<uint8_t>(value >> 24)};
        return true;
    }
    if (StartsWithNoCase(data, "hex")) {
        data.remove_prefix(3);
        entry->type = platform::reg::REG_BINARY;
        if (!data.empty() && data[0] == '(') {
            const size_t close = data.find(')');
            if (close == std::string_view::npos || !ParseHex(data.substr(1, close - 1), 8, &entry->type)) {
                *problem = "hex( must be followed by a hexadecimal type and )";
                return false;
            }
            data.remove_prefix(close + 1);
        }
        if (data.empty() || data[0] != ':') {
            *problem = "hex data must follow a colon";
            return false;
        }
        data.remove_prefix(1);
        entry->data.clear();
        while (!(data = TrimLeft(data)).empty()) {
            const size_t comma = data.find(',');
            uint32_t byte = 0;
            if (!ParseHex(TrimRight(data.substr(0, comma)), 2, &byte)) {
                *problem = "hex data must be bytes of two hexadecimal digits separated by commas";
                return false;
            }
            entry->data.push_back(static_cast<uint8_t>(byte));
            data = comma == std::string_view::npos ? std::string_view() : data.substr(comma + 1);
        }
        return true;
    }
    *problem = "a value must be \"text\", dword:XXXXXXXX, hex:.. or -";
    return false;
}

// Reads one "Name"=data or @=data line.
bool ReadValueLine(std::string_view line, RegFileEntry* entry, std::string* problem) {
    if (line[0] == '@') {
        entry->name.clear();
        line.remove_prefix(1);
    } else if (!ReadQuoted(&line, &entry->name, problem)) {
        return false;
    }
    line = TrimLeft(line);
    if (line.empty() || line[0] != '=') {
        *problem = "expected = after the value name";
        return false;
    }
    return ReadData(TrimRight(TrimLeft(line.substr(1))), entry, problem);
}

// A hex value line that ends in a backslash goes on in the next line.
bool ContinuesHex(std::string_view line) {
    if (line.empty() || line.back() != '\\') return false;
    const size_t quote = line.rfind('"');
    return ContainsNoCase(quote == std::string_view::npos ? line : line.substr(quote + 1), "hex");
}

bool Fail(int line, const std::string& problem, std::string* error) {
    *error = "line " + std::to_string(line) + ": " + problem;
    return false;
}

}  // namespace

bool ParseKeyName(std::string_view text, std::string* path) {
    while (!text.empty() && text.back() == '\\') text.remove_suffix(1);
    const size_t slash = text.find('\\');
    const std::string_view root = text.substr(0, slash);
    if (!EqualNoCase(root, kRootLong) && !EqualNoCase(root, kRootShort)) return false;
    const std::string_view below = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
    if (below.find("\\\\") != std::string_view::npos || (!below.empty() && below[0] == '\\')) return false;
    if (below.find('\0') != std::string_view::npos) return false;
    path->assign(below);
    return true;
}

std::string RegFile::SectionLine(std::string_view fullKeyName) {
    std::string line = "[";
    line += fullKeyName;
    line += "]\n";
    return line;
}

std::string RegFile::ValueLine(std::string_view name, uint32_t type, const std::vector<uint8_t>& data) {
    std::string line;
    if (name.empty()) line += '@';
    else AppendQuoted(&line, name);
    line += '=';
    char buffer[32];
    if (type == REG_SZ && IsPlainText(data)) {
        AppendQuoted(&line, std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1));
    } else if (type == REG_DWORD && data.size() == 4) {
        const uint32_t value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", value);
        line += buffer;
    } else {
        if (type == platform::reg::REG_BINARY) {
            line += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", type);
            line += buffer;
        }
        for (size_t i = 0; i < data.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", data[i]);
            line += buffer;
        }
    }
    line += '\n';
    return line;
}

bool RegFile::Parse(std::string_view text, std::vector<RegFileEntry>* entries, std::string* error) {
    entries->clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    bool sawHeader = false;
    bool inSection = false;
    bool deletedSection = false;
    std::string currentKey;
    int lineNumber = 0;
    while (!text.empty()) {
        // One logical line: a hex value may go on after a trailing backslash.
        ++lineNumber;
        const int firstLine = lineNumber;
        std::string line;
        for (;;) {
            const size_t end = text.find('\n');
            std::string_view physical = text.substr(0, end);
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
            if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
            physical = TrimRight(physical);
            line += line.empty() ? physical : TrimLeft(physical);
            if (!ContinuesHex(line) || text.empty()) break;
            line.pop_back();
            ++lineNumber;
        }
        const std::string_view content = TrimLeft(line);
        if (content.empty() || content[0] == ';') continue;
        if (!sawHeader) {
            if (content != "REGEDIT4") return Fail(firstLine, "the file must begin with the line REGEDIT4", error);
            sawHeader = true;
            continue;
        }
        RegFileEntry entry;
        entry.line = firstLine;
        if (content[0] == '[') {
            if (content.back() != ']') return Fail(firstLine, "a key line must end with ]", error);
            std::string_view name = content.substr(1, content.size() - 2);
            deletedSection = !name.empty() && name[0] == '-';
            if (deletedSection) name.remove_prefix(1);
            if (!ParseKeyName(name, &currentKey) || currentKey.empty())
                return Fail(firstLine, SectionLine(name).substr(0, name.size() + 2) + " is not a key below HKEY_LOCAL_MACHINE\\", error);
            inSection = true;
            entry.kind = deletedSection ? RegFileEntry::DeleteKey : RegFileEntry::CreateKey;
            entry.key = currentKey;
            entries->push_back(std::move(entry));
            continue;
        }
        if (content[0] != '"' && content[0] != '@')
            return Fail(firstLine, "expected [KEY], \"Name\"=value or @=value", error);
        if (!inSection) return Fail(firstLine, "a value before the first [KEY] line", error);
        if (deletedSection) return Fail(firstLine, "a value in a [-KEY] section, which deletes its key", error);
        std::string problem;
        if (!ReadValueLine(content, &entry, &problem)) return Fail(firstLine, problem, error);
        entry.key = currentKey;
        entries->push_back(std::move(entry));
    }
    if (!sawHeader) return Fail(lineNumber + 1, "the file must begin with the line REGEDIT4", error);
    return true;
}
