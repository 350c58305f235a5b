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
    // Which file of its file system this is (the device and the file's
    // serial number folded together): a file replaced under the same name,
    // size and time is still told apart by it.
    uint64_t identity = 0;
};

}  // namespace platform
