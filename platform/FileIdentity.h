#pragma once
// For the platform layer's own files only: FileInfo::identity of what
// stat or fstat read.

#include <sys/stat.h>

#include <cstdint>

namespace platform {

// The device in the high bits and the serial number in the low ones: two
// files told apart by either stay apart, which is all a validator needs.
inline uint64_t FileIdentity(const struct stat& st) {
    return (static_cast<uint64_t>(st.st_dev) << 40) ^ static_cast<uint64_t>(st.st_ino);
}

}  // namespace platform
