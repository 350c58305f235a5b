#include "tools/RegistryEditor.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "http/LetterCase.h"
#include "platform/RegistryStore.h"
#include "tools/RegFile.h"

using namespace platform::reg;

struct RegistryEditor::Options {
    std::string command;
    std::vector<std::string> positional;
    bool hasValue = false;  // /v NAME or /ve
    std::string value;
    bool subtree = false;   // /s
    bool force = false;     // /f
    bool hasType = false;   // /t
    std::string type;
    bool hasData = false;   // /d
    std::string data;
};

namespace {

constexpr const char* kSuccess = "The operation completed successfully.\n";
constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";

struct CommandSyntax {
    const char* name;
    size_t positional;   // how many arguments besides options
    const char* options; // the options it takes, each followed by a blank
    const char* usage;
};
constexpr CommandSyntax kCommands[] = {
    {"query", 1, "/v /ve /s ", "varevavo-reg query KEY [/v NAME | /ve] [/s]"},
    {"add", 1, "/v /ve /t /d /f ", "varevavo-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]"},
    {"delete", 1, "/v /ve /f ", "varevavo-reg delete KEY [/v NAME | /ve] /f"},
    {"export", 2, "/y ", "varevavo-reg export KEY FILE [/y]"},
    {"import", 1, "", "varevavo-reg import FILE"},
};

const CommandSyntax* FindCommand(const std::string& name) {
    for (const CommandSyntax& command : kCommands)
        if (EqualNoCase(name, command.name)) return &command;
    return nullptr;
}

// "/v", "-V" and so on as "/v"; anything that is not a known option (a file
// name such as /tmp/setup.reg) as empty.
std::string OptionName(const std::string& argument) {
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) return {};
    std::string name = "/";
    name += ToLower(std::string_view(argument).substr(1));
    for (const char* known : {"/v", "/ve", "/s", "/t", "/d", "/f", "/y"})
        if (name == known) return name;
    return {};
}

std::string TypeName(uint32_t type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_TYPE_" + std::to_string(type);
    }
}

// The data of a value as query shows them.
std::string DataText(uint32_t type, const std::vector<uint8_t>& data) {
    char buffer[32];
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == 0) {
        const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
        return std::string(text.substr(0, text.find('\0')));
    }
    if (type == REG_DWORD && data.size() == 4) {
        const uint32_t value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "0x%x", value);
        return buffer;
    }
    std::string hex;
    for (uint8_t byte : data) {
        std::snprintf(buffer, sizeof buffer, "%02X", byte);
        hex += buffer;
    }
    return hex;
}

std::string ValueText(const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
    return "    " + (name.empty() ? std::string("(Default)") : name) + "    " + TypeName(type) + "    " +
           DataText(type, data) + "\n";
}

// Reads a REG_DWORD given in decimal or with 0x in hexadecimal.
bool ParseNumber(const std::string& text, uint32_t* value) {
    const bool hex = StartsWithNoCase(text, "0x");
    const std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
    if (digits.empty()) return false;
    uint64_t result = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        result = result * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (result > 0xffffffffu) return false;
    }
    *value = static_cast<uint32_t>(result);
    return true;
}

// The names of a path below the root as the store spells them (the path
// must exist): an export made from "hklm\software\x" still carries SOFTWARE
// and X exactly as they were created.
LONG StoredPath(const std::string& path, std::string* stored) {
    stored->clear();
    ScopedKey parent;
    HKEY current = HKEY_LOCAL_MACHINE;
    size_t start = 0;
    while (start < path.size()) {
        const size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view wanted = std::string_view(path).substr(start, end - start);
        std::string name;
        LONG result = ERROR_SUCCESS;
        for (uint32_t i = 0; (result = RegEnumKeyEx(current, i, &name)) == ERROR_SUCCESS; ++i)
            if (EqualNoCase(name, wanted)) break;
        if (result != ERROR_SUCCESS) return result == ERROR_NO_MORE_ITEMS ? ERROR_FILE_NOT_FOUND : result;
        *stored += (stored->empty() ? "" : "\\") + name;
        ScopedKey child;
        if (const LONG opened = RegOpenKeyEx(current, name, child.Receive())) return opened;
        parent = std::move(child);
        current = parent.get();
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

std::string FullName(const std::string& stored) { return stored.empty() ? kRoot : std::string(kRoot) + "\\" + stored; }

// Calls visit(name, type, data) for every value of a key in order.
template <typename Visit>
LONG ForEachValue(HKEY key, Visit visit) {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    for (uint32_t i = 0;; ++i) {
        const LONG result = RegEnumValue(key, i, &name, &type, &data);
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) return result;
        visit(name, type, data);
    }
}

// Calls visit(name, handle) for every subkey of a key in name order.
template <typename Visit>
LONG ForEachSubkey(HKEY key, Visit visit) {
    std::string name;
    for (uint32_t i = 0;; ++i) {
        LONG result = RegEnumKeyEx(key, i, &name);
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        ScopedKey child;
        if (result == ERROR_SUCCESS) result = RegOpenKeyEx(key, name, child.Receive());
        if (result == ERROR_SUCCESS) result = visit(name, child.get());
        if (result != ERROR_SUCCESS) return result;
    }
}

// query output of a key: its values, then its subkeys' names, or with
// subtree each subkey in full.
LONG PrintKey(std::ostream& out, const std::string& full, HKEY key, bool subtree) {
    out << full << "\n";
    LONG result = ForEachValue(key, [&](const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
        out << ValueText(name, type, data);
    });
    if (result != ERROR_SUCCESS) return result;
    bool first = true;
    return ForEachSubkey(key, [&](const std::string& name, HKEY child) {
        if (subtree || first) out << "\n";
        first = false;
        if (subtree) return PrintKey(out, full + "\\" + name, child, true);
        out << full << "\\" << name << "\n";
        return ERROR_SUCCESS;
    });
}

// query /v: the value in the key, and with subtree in every key below;
// *found counts the keys that hold it. The value is shown with its stored
// spelling, whatever the letter case it was asked for in.
LONG PrintValue(std::ostream& out, const std::string& full, HKEY key, const std::string& wanted, bool subtree,
                int* found) {
    const LONG result = ForEachValue(key, [&](const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
        if (!EqualNoCase(name, wanted)) return;
        out << (*found ? "\n" : "") << full << "\n" << ValueText(name, type, data);
        ++*found;
    });
    if (result != ERROR_SUCCESS || !subtree) return result;
    return ForEachSubkey(key, [&](const std::string& child, HKEY handle) {
        return PrintValue(out, full + "\\" + child, handle, wanted, true, found);
    });
}

LONG ExportKey(std::string* text, const std::string& full, HKEY key) {
    *text += RegFile::SectionLine(full);
    LONG result = ForEachValue(key, [&](const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
        *text += RegFile::ValueLine(name, type, data);
    });
    *text += "\n";
    if (result != ERROR_SUCCESS) return result;
    return ForEachSubkey(key, [&](const std::string& name, HKEY child) { return ExportKey(text, full + "\\" + name, child); });
}

// ErrorText, with the reason an administrator meets most: the frame of the store.
std::string Explain(LONG result) {
    if (result == ERROR_ACCESS_DENIED)
        return "Access is denied: the keys directly below HKEY_LOCAL_MACHINE are fixed (settings live below HKLM\\SOFTWARE).";
    return ErrorText(result);
}

std::string EntryPlace(const RegFileEntry& entry) { return "line " + std::to_string(entry.line) + ": "; }

}  // namespace

RegistryEditor::RegistryEditor(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

int RegistryEditor::Fail(const std::string& problem) {
    err_ << "ERROR: " << problem << "\n";
    return 1;
}

int RegistryEditor::SyntaxError(const std::string& problem, const std::string& command) {
    const CommandSyntax* syntax = FindCommand(command);
    err_ << "ERROR: " << problem << "\n";
    if (syntax) {
        err_ << "Usage: " << syntax->usage << "\n";
    } else {
        err_ << "Usage:\n";
        for (const CommandSyntax& each : kCommands) err_ << "  " << each.usage << "\n";
    }
    return 1;
}

int RegistryEditor::Run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return SyntaxError("no command given", "");
    if (arguments[0] == "/?" || arguments[0] == "-?" || arguments[0] == "--help") {
        out_ << "Usage:\n";
        for (const CommandSyntax& each : kCommands) out_ << "  " << each.usage << "\n";
        out_ << "KEY is written HKLM\\SOFTWARE\\... or HKEY_LOCAL_MACHINE\\SOFTWARE\\...\n"
             << "The store is $VAREVAVO_HOME/registry.db (default ~/.local/share/varevavo).\n"
             << "      --help     show this help and exit\n"
             << "      --version  show the version and exit\n"
             << "See varevavo-reg(1).\n";
        return 0;
    }
    const CommandSyntax* syntax = FindCommand(arguments[0]);
    if (!syntax) return SyntaxError("unknown command '" + arguments[0] + "'", "");
    Options options;
    options.command = syntax->name;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string option = OptionName(arguments[i]);
        if (option.empty()) {
            options.positional.push_back(arguments[i]);
            continue;
        }
        if (std::string_view(syntax->options).find(option + " ") == std::string_view::npos)
            return SyntaxError("the option " + option + " does not belong to " + syntax->name, syntax->name);
        const bool takesArgument = option == "/v" || option == "/t" || option == "/d";
        if (takesArgument && i + 1 >= arguments.size())
            return SyntaxError("the option " + option + " needs an argument", syntax->name);
        const bool repeated = ((option == "/v" || option == "/ve") && options.hasValue) ||
                              (option == "/t" && options.hasType) || (option == "/d" && options.hasData);
        if (repeated) return SyntaxError("the option " + option + " is given twice (or with /v and /ve both)", syntax->name);
        if (option == "/v") options.value = arguments[++i];
        if (option == "/v" || option == "/ve") options.hasValue = true;
        if (option == "/t") options.type = arguments[++i];
        if (option == "/t") options.hasType = true;
        if (option == "/d") options.data = arguments[++i];
        if (option == "/d") options.hasData = true;
        if (option == "/s") options.subtree = true;
        if (option == "/f") options.force = true;
    }
    if (options.positional.size() != syntax->positional) {
        const bool tooMany = options.positional.size() > syntax->positional;
        return SyntaxError(tooMany ? "too many arguments ('" + options.positional.back() + "')" : "an argument is missing",
                           syntax->name);
    }
    if (options.command == "query") return Query(options);
    if (options.command == "add") return Add(options);
    if (options.command == "delete") return Delete(options);
    if (options.command == "export") return Export(options);
    return Import(options);
}

int RegistryEditor::Query(const Options& options) {
    std::string path, stored;
    if (!ParseKeyName(options.positional[0], &path))
        return SyntaxError("invalid key name '" + options.positional[0] + "'", options.command);
    // One read transaction: the listing shows one state of the store.
    Transaction transaction(Transaction::Read);
    ScopedKey key;
    LONG result = StoredPath(path, &stored);
    if (result == ERROR_SUCCESS) result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, key.Receive());
    if (result != ERROR_SUCCESS) return Fail(Explain(result));
    std::ostringstream text;
    int found = 0;
    if (options.hasValue) result = PrintValue(text, FullName(stored), key.get(), options.value, options.subtree, &found);
    else result = PrintKey(text, FullName(stored), key.get(), options.subtree);
    if (result != ERROR_SUCCESS) return Fail(Explain(result));
    if (options.hasValue && !found) return Fail(ErrorText(ERROR_FILE_NOT_FOUND));
    out_ << text.str();
    return 0;
}

int RegistryEditor::Add(const Options& options) {
    std::string path;
    if (!ParseKeyName(options.positional[0], &path) || path.empty())
        return SyntaxError("invalid key name '" + options.positional[0] + "'", options.command);
    if ((options.hasType || options.hasData) && !options.hasValue)
        return SyntaxError("/t and /d need /v NAME (or /ve)", options.command);
    uint32_t type = REG_SZ;
    std::vector<uint8_t> data;
    if (options.hasType && EqualNoCase(options.type, "REG_DWORD")) type = REG_DWORD;
    else if (options.hasType && !EqualNoCase(options.type, "REG_SZ"))
        return SyntaxError("unsupported type '" + options.type + "' (use REG_SZ or REG_DWORD)", options.command);
    if (type == REG_DWORD) {
        uint32_t number = 0;
        if (options.hasData && !ParseNumber(options.data, &number))
            return Fail("invalid REG_DWORD data '" + options.data + "': give a number from 0 to 4294967295, decimal or 0x hexadecimal");
        data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number >> 16),
                static_cast<uint8_t>(number >> 24)};
    } else {
        data.assign(options.data.begin(), options.data.end());
        data.push_back(0);
    }

    Transaction transaction(Transaction::Write);
    ScopedKey key;
    LONG result = RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, key.Receive(), nullptr);
    if (result != ERROR_SUCCESS) return Fail(Explain(result));
    if (options.hasValue) {
        if (!options.force && RegQueryValueEx(key.get(), options.value, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            return Fail("the value '" + options.value + "' exists already; add /f to replace it");
        result = RegSetValueEx(key.get(), options.value, type, data.data(), static_cast<uint32_t>(data.size()));
    }
    if (result == ERROR_SUCCESS) result = transaction.Commit();
    if (result != ERROR_SUCCESS) return Fail(Explain(result));
    out_ << kSuccess;
    return 0;
}

int RegistryEditor::Delete(const Options& options) {
    std::string path;
    if (!ParseKeyName(options.positional[0], &path))
        return SyntaxError("invalid key name '" + options.positional[0] + "'", options.command);
    if (!options.force) return SyntaxError("delete asks for no confirmation: add /f to delete", options.command);
    LONG result = ERROR_SUCCESS;
    if (options.hasValue) {
        ScopedKey key;
        result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, key.Receive());
        if (result == ERROR_SUCCESS) result = RegDeleteValue(key.get(), options.value);
    } else {
        result = path.empty() ? ERROR_ACCESS_DENIED : RegDeleteTree(HKEY_LOCAL_MACHINE, path);
    }
    if (result != ERROR_SUCCESS) return Fail(Explain(result));
    out_ << kSuccess;
    return 0;
}

int RegistryEditor::Export(const Options& options) {
    std::string path, stored;
    if (!ParseKeyName(options.positional[0], &path))
        return SyntaxError("invalid key name '" + options.positional[0] + "'", options.command);
    const std::string& file = options.positional[1];
    std::string text(RegFile::kHeader);
    {
        Transaction transaction(Transaction::Read);
        ScopedKey key;
        LONG result = StoredPath(path, &stored);
        if (result == ERROR_SUCCESS) result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, key.Receive());
        if (result == ERROR_SUCCESS) result = ExportKey(&text, FullName(stored), key.get());
        if (result != ERROR_SUCCESS) return Fail(Explain(result));
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) return Fail("cannot write the file '" + file + "'");
    out_ << kSuccess;
    return 0;
}

int RegistryEditor::Import(const Options& options) {
    const std::string& file = options.positional[0];
    std::ifstream in(file, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    if (!in) return Fail("cannot read the file '" + file + "'");
    std::vector<RegFileEntry> entries;
    std::string problem;
    if (!RegFile::Parse(contents.str(), &entries, &problem)) return Fail(file + ", " + problem);

    // The whole file is one transaction: any failure leaves the store as it was.
    Transaction transaction(Transaction::Write);
    ScopedKey key;
    std::string keyPath;
    for (const RegFileEntry& entry : entries) {
        LONG result = ERROR_SUCCESS;
        if (entry.kind == RegFileEntry::DeleteKey) {
            result = RegDeleteTree(HKEY_LOCAL_MACHINE, entry.key);
            if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
            key.Reset();
        } else if (!key.IsOpen() || entry.key != keyPath) {
            result = RegCreateKeyEx(HKEY_LOCAL_MACHINE, entry.key, key.Receive(), nullptr);
            keyPath = entry.key;
        }
        if (result == ERROR_SUCCESS && entry.kind == RegFileEntry::SetValue)
            result = RegSetValueEx(key.get(), entry.name, entry.type, entry.data.data(), static_cast<uint32_t>(entry.data.size()));
        if (result == ERROR_SUCCESS && entry.kind == RegFileEntry::DeleteValue) {
            result = RegDeleteValue(key.get(), entry.name);
            if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
        }
        if (result != ERROR_SUCCESS)
            return Fail(file + ", " + EntryPlace(entry) + "[" + FullName(entry.key) + "]: " + Explain(result));
    }
    if (const LONG result = transaction.Commit()) return Fail(file + ": " + Explain(result));
    out_ << kSuccess;
    return 0;
}
