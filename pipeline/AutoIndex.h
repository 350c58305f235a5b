#pragma once
// The generated listing of a directory that has no default index file: a
// preformatted text listing, or an HTML table when bit 1 of the AutoIndex
// setting is set. The page is streamed into a file entry by entry.

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"

class HTTPConfiguration;

class AutoIndex {
public:
    // config: the record of the request listed, which outlives this object.
    explicit AutoIndex(const HTTPConfiguration& config) : config_(config) {}

    // Writes the listing of directory (a path ending in a backslash) for the
    // URL path url into the file output, entries in the order of the
    // directory search ("." and ".." first, then the names in byte order).
    // 1 when the page was written (or indexing is off), 0 when the output
    // cannot be created or the directory cannot be listed.
    int Generate(const std::string& url, const std::string& directory, const std::string& output);

private:
    const HTTPConfiguration& config_;
};

// The page text of one entry for the AutoIndex setting; empty for a hidden
// entry and for a copy a PUT is writing. Names are shown HTML-escaped and
// linked %-escaped, a folder's link with a trailing slash.
std::string GenerateEntry(const platform::FindData* entry, uint32_t setting);
