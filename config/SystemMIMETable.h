#pragma once
// The system's own MIME table (a file of "type ext ext ..." lines, as
// /etc/mime.types), used after a setup's Types list: an extension that the
// setup does not name takes its type from here. Read once per load of the
// configuration, then only looked up, so any number of threads may share
// one table.

#include <string>
#include <string_view>
#include <unordered_map>

class SystemMIMETable {
public:
    // Where the system keeps its table.
    static constexpr const char* kSystemPath = "/etc/mime.types";

    // Reads the table at path (a server path). Lines starting with '#' and
    // blank lines are skipped; an extension named twice keeps its first
    // type. False (and an empty table) when the file cannot be read.
    bool Load(const std::string& path);

    // The type of the extension that ends name's last path component, tried
    // from the longest dotted suffix to the shortest ("a.tar.gz": "tar.gz",
    // then "gz") without regard to letter case; empty when the table knows
    // none. A name that only starts with a dot (".profile") has no extension.
    std::string_view Find(std::string_view name) const;

    size_t Size() const { return types_.size(); }

private:
    std::unordered_map<std::string, std::string> types_;  // lower-case extension without its dot -> type
};
