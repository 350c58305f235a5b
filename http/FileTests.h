#pragma once
// File tests and temporary files, by server path (drive letters and
// backslashes; see platform/Paths.h). Safe from any thread.

#include <cstdint>
#include <string>

int Exists(const std::string& path);        // a file or directory is there
int IsFile(const std::string& path);        // exists and is not a directory
int IsDirectory(const std::string& path);   // exists and is a directory
uint64_t FileSize(const std::string& path); // the size in bytes; 0 when unreadable

// A new, empty, uniquely named temporary file; its full name, or empty.
std::string MakeTempFile();
