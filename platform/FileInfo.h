#pragma once
// What the file system tells of one path, as GetFileInfo reads it and an
// open File may take it (File::OpenKnown) without a second look.

#include <cstdint>

#include "platform/FileTime.h"

namespace platform {

struct FileInfo {
    bool directory = false;
    bool hidden = false;      // the name starts with a dot (other than . and ..)
    uint64_t size = 0;        // 0 for directories
    FILETIME lastWrite;       // UTC
};

}  // namespace platform
