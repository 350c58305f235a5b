#include "http/FileTests.h"

#include "platform/FileSystem.h"

int Exists(const std::string& path) { return platform::GetFileInfo(path, nullptr) ? 1 : 0; }

int IsFile(const std::string& path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, &info) && !info.directory ? 1 : 0;
}

int IsDirectory(const std::string& path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, &info) && info.directory ? 1 : 0;
}

uint64_t FileSize(const std::string& path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, &info) ? info.size : 0;
}

std::string MakeTempFile() { return platform::CreateTempFile(); }
