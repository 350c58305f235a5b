#pragma once
// The system's own MIME table (a file of "type ext ext ..." lines, as
// /etc/mime.types), used after a setup's Types list: an extension that the
// setup does not name takes its type from here. Read once per load of the
// configuration, then only looked up, so any number of threads may share
// one table.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

    size_t Size() const { return entries_.size(); }

private:
    // The table lives for the whole run, so it is kept compact: every text
    // once in one string (a type once for all the extensions of its line)
    // and a sorted array of offsets into it, rather than a node and two
    // strings per extension.
    struct Entry {
        uint32_t extension;  // offset in text_ of the lower-case extension, without its dot
        uint32_t extensionLength;
        uint32_t type;  // offset in text_ of its type
        uint32_t typeLength;
    };
    std::string_view Text(uint32_t offset, uint32_t length) const { return {text_.data() + offset, length}; }

    std::string text_;
    std::vector<Entry> entries_;  // sorted by extension, one entry per extension
};
