#pragma once
// File-system queries and whole-file operations on server paths (drive
// letters and backslashes allowed; see Paths.h). Every function refuses a
// path that holds a NUL byte, as if the file did not exist.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileTime.h"

namespace platform {

struct FileInfo {
    bool directory = false;
    bool hidden = false;      // the name starts with a dot (other than . and ..)
    uint64_t size = 0;        // 0 for directories
    FILETIME lastWrite;       // UTC
};

// Attributes of a path. False (and *info untouched) when it cannot be read.
bool GetFileInfo(std::string_view path, FileInfo* info);

// Copies a regular file. With failIfExists an existing target makes the copy
// fail and stays untouched; otherwise the target is replaced. The copy is
// written beside the target and renamed over it, so a reader never sees a
// half-copied file and a failed copy leaves the target as it was.
bool CopyFile(std::string_view source, std::string_view target, bool failIfExists);

// Removes a file (not a directory). True when it was removed.
bool DeleteFile(std::string_view path);

// The temporary directory: $TMPDIR when set and non-empty, else /tmp.
std::string TempDirectory();

// Creates a new, empty, uniquely named file "ZAD??????.TMP" in the temporary
// directory and returns its full name; empty on failure.
std::string CreateTempFile();

// One entry of a directory search.
struct FindData {
    std::string name;
    bool directory = false;
    bool hidden = false;
    uint64_t size = 0;
    FILETIME lastWrite;
};

// Lists a directory in the order the file system returns its entries, "."
// and ".." included. Owns the open directory.
class DirectorySearch {
public:
    explicit DirectorySearch(std::string_view directory);
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    bool IsOpen() const { return handle_ != nullptr; }
    // The next entry; false at the end or when the directory is not open.
    bool Next(FindData* entry);

private:
    void* handle_ = nullptr;
    std::string hostPath_;
};

}  // namespace platform
