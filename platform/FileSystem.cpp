#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/File.h"
#include "platform/Paths.h"

namespace platform {
namespace {

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

std::string_view BaseName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void FillInfo(const struct stat& st, std::string_view name, FileInfo* info) {
    info->directory = S_ISDIR(st.st_mode);
    info->hidden = IsHiddenName(name);
    info->size = info->directory ? 0 : static_cast<uint64_t>(st.st_size);
    info->lastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
}

}  // namespace

bool GetFileInfo(std::string_view path, FileInfo* info) {
    const std::string host = HostPath(path);
    if (host.empty()) return false;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return false;
    if (info) FillInfo(st, BaseName(host), info);
    return true;
}

bool CopyFile(std::string_view source, std::string_view target, bool failIfExists) {
    const std::string from = HostPath(source);
    const std::string to = HostPath(target);
    if (from.empty() || to.empty()) return false;
    File in;
    if (!in.Open(source, File::Mode::Read)) return false;
    struct stat st;
    if (::fstat(in.NativeHandle(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    std::string temp = to + ".ZADXXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const long n = in.Read(buffer, sizeof buffer);
        if (n < 0) { ok = false; break; }
        if (n == 0) break;
        for (long done = 0; done < n;) {
            const ssize_t w = ::write(fd, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) { ok = false; break; }
            done += w;
        }
        if (!ok) break;
    }
    ::fchmod(fd, 0644);
    if (::close(fd) != 0) ok = false;
    if (ok) {
        // link() refuses an existing target, which gives fail-if-exists
        // without a window between the test and the creation.
        if (failIfExists) ok = ::link(temp.c_str(), to.c_str()) == 0;
        else ok = ::rename(temp.c_str(), to.c_str()) == 0;
    }
    ::unlink(temp.c_str());
    return ok;
}

bool DeleteFile(std::string_view path) {
    const std::string host = HostPath(path);
    if (host.empty()) return false;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(host.c_str()) == 0;
}

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string result = dir && *dir ? dir : "/tmp";
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::string CreateTempFile() {
    std::string name = TempDirectory() + "/ZADXXXXXX.TMP";
    const int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    return name;
}

DirectorySearch::DirectorySearch(std::string_view directory) {
    hostPath_ = HostPath(directory);
    if (hostPath_.empty()) return;
    handle_ = ::opendir(hostPath_.c_str());
    if (!hostPath_.empty() && hostPath_.back() != '/') hostPath_ += '/';
}

DirectorySearch::~DirectorySearch() {
    if (handle_) ::closedir(static_cast<DIR*>(handle_));
}

bool DirectorySearch::Next(FindData* entry) {
    if (!handle_) return false;
    DIR* dir = static_cast<DIR*>(handle_);
    while (struct dirent* d = ::readdir(dir)) {
        entry->name = d->d_name;
        struct stat st;
        if (::fstatat(::dirfd(dir), d->d_name, &st, 0) != 0) {
            // A dangling link or a file that vanished: list it as an empty file.
            st = {};
            st.st_mode = S_IFREG;
        }
        FileInfo info;
        FillInfo(st, entry->name, &info);
        entry->directory = info.directory;
        entry->hidden = info.hidden;
        entry->size = info.size;
        entry->lastWrite = info.lastWrite;
        return true;
    }
    return false;
}

}  // namespace platform
