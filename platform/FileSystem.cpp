#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/File.h"
#include "platform/FileIdentity.h"
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
    info->identity = FileIdentity(st);
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

namespace {

// A failure to store data, as opposed to a refusal.
bool IsStorageError(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO; }

void Fail(CopyTrouble* trouble, int error) {
    if (!trouble) return;
    trouble->storage = IsStorageError(error);
    trouble->reason = SystemErrorText(error);
}

// The in-between name of a copy to target (host path), with the six
// letters left as XXXXXX for mkostemp when letters is false.
std::string InBetweenName(const std::string& target, bool letters) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const size_t slash = target.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::string name = target.substr(0, base) + "." + target.substr(base) + ".ZAD";
    for (int i = 0; i < 6; ++i) name += letters ? kLetters[random() % (sizeof kLetters - 1)] : 'X';
    return name;
}

// Gives an unnamed file (O_TMPFILE) the name path; false with errno set
// when it cannot (EEXIST: the name is taken).
bool LinkUnnamed(int fd, const std::string& path) {
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != EPERM && errno != ENOENT) return false;
    // Without the privilege to link by descriptor, through its /proc name.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Names the whole copy in fd (unnamed, or named temp) as target.
bool PutInPlace(int fd, const std::string& temp, const std::string& target, bool failIfExists) {
    if (!temp.empty()) {
        // link() refuses an existing target, which gives fail-if-exists
        // without a window between the test and the creation.
        return failIfExists ? ::link(temp.c_str(), target.c_str()) == 0 : ::rename(temp.c_str(), target.c_str()) == 0;
    }
    if (failIfExists) return LinkUnnamed(fd, target);
    // Replacing takes a name first: the copy is whole by now, and the
    // rename puts it in place in one step.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string between = InBetweenName(target, true);
        if (!LinkUnnamed(fd, between)) {
            if (errno == EEXIST) continue;
            return false;
        }
        if (::rename(between.c_str(), target.c_str()) == 0) return true;
        const int error = errno;
        ::unlink(between.c_str());
        errno = error;
        return false;
    }
    errno = EEXIST;
    return false;
}

}  // namespace

bool CopyFile(std::string_view source, std::string_view target, bool failIfExists, CopyTrouble* trouble) {
    const std::string from = HostPath(source);
    const std::string to = HostPath(target);
    if (from.empty() || to.empty()) {
        Fail(trouble, ENOENT);
        return false;
    }
    File in;
    if (!in.Open(source, File::Mode::Read)) {
        Fail(trouble, errno);
        return false;
    }
    struct stat st;
    if (::fstat(in.NativeHandle(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail(trouble, EINVAL);
        return false;
    }

    const size_t slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    std::string temp;  // empty while the copy has no name
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        temp = InBetweenName(to, false);
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) temp.clear();
    }
    if (fd < 0) {
        Fail(trouble, errno);
        return false;
    }
    int error = 0;
    char buffer[65536];
    while (error == 0) {
        const long n = in.Read(buffer, sizeof buffer);
        if (n < 0) error = errno ? errno : EIO;
        if (n <= 0) break;
        for (long done = 0; done < n && error == 0;) {
            const ssize_t w = ::write(fd, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) error = errno;
            else if (w == 0) error = ENOSPC;
            else done += w;
        }
    }
    ::fchmod(fd, 0644);
    if (error == 0 && !PutInPlace(fd, temp, to, failIfExists)) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (!temp.empty()) ::unlink(temp.c_str());
    if (error != 0) Fail(trouble, error);
    return error == 0;
}

bool IsInBetweenCopy(std::string_view path) {
    if (path.size() <= 10 || path.compare(path.size() - 10, 4, ".ZAD") != 0) return false;
    for (const char c : path.substr(path.size() - 6))
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
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

namespace {

// The home's folder in the temporary directory: "varevavo-" and a digest
// (FNV-1a) of the home's path.
std::string HomeTempFolder() {
    uint64_t digest = 14695981039346656037ULL;
    for (const char c : VarevavoHome()) digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
    return TempDirectory() + "/varevavo-" + hex;
}

// The home's folder in the temporary directory, made for its owner alone
// when missing. Empty when what is there is not such a folder: the name is
// known to every user, who may have put a folder or a link of theirs there
// first.
std::string OwnTempFolder() {
    const std::string folder = HomeTempFolder();
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)) return {};
        if (::lstat(folder.c_str(), &st) != 0) return {};
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) return {};
    return folder;
}

// The name of a file CreateTempFile makes: "ZAD", six letters, ".TMP".
bool IsTempName(std::string_view name) {
    return name.size() == 13 && name.starts_with("ZAD") && name.ends_with(".TMP");
}

// Removes the in-between copies below a folder (host path), its sub-folders
// included but not those reached through a symbolic link. Only copies
// written to last before settled go: a folder may be shared with a server
// of another home, whose copy in progress is being written to.
void RemoveInBetweenCopies(const std::string& folder, time_t settled, int depth, long* budget) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> below;
    while (struct dirent* d = ::readdir(dir)) {
        if (--*budget < 0) break;
        const std::string_view name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth < 32) below.push_back(folder + "/" + d->d_name);
        } else if (S_ISREG(st.st_mode) && IsInBetweenCopy(name) && st.st_mtime < settled) {
            ::unlinkat(::dirfd(dir), d->d_name, 0);
        }
    }
    ::closedir(dir);
    for (const std::string& sub : below) RemoveInBetweenCopies(sub, settled, depth + 1, budget);
}

}  // namespace

std::string CreateTempFile() {
    // Where the home's folder cannot be had, the temporary directory itself
    // serves (its files are then not cleared at a start).
    std::string folder = OwnTempFolder();
    if (folder.empty()) folder = TempDirectory();
    std::string name = folder + "/ZADXXXXXX.TMP";
    const int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    return name;
}

bool CreateTempFile(File* file) {
    // In the temporary directory, whatever its file system: the operator
    // chose where scripts' files go (a disk, or memory of a set size), and
    // that keeps bounding what a script may write. Only a file system that
    // cannot hold a file without a name leaves it to memory alone.
    return file && file->OpenNameless(TempDirectory());
}

bool CannotGrow(const File& file) {
    const int fd = file.NativeHandle();
    struct statvfs fs;
    struct stat st;
    if (fd < 0 || ::fstatvfs(fd, &fs) != 0 || ::fstat(fd, &st) != 0) return false;
    // A memory file system without a size of its own counts no blocks at
    // all: only memory itself bounds it.
    if (fs.f_blocks != 0 && (::geteuid() == 0 ? fs.f_bfree : fs.f_bavail) == 0) return true;
    struct rlimit limit;
    return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           static_cast<rlim_t>(st.st_size) >= limit.rlim_cur;
}

bool CannotGrow(std::string_view path) {
    const std::string host = HostPath(path);
    struct statvfs fs;
    struct stat st;
    if (host.empty() || ::statvfs(host.c_str(), &fs) != 0 || ::stat(host.c_str(), &st) != 0) return false;
    // A privileged process may use the blocks kept back for it.
    if ((::geteuid() == 0 ? fs.f_bfree : fs.f_bavail) == 0) return true;
    struct rlimit limit;
    return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           static_cast<rlim_t>(st.st_size) >= limit.rlim_cur;
}

HomeLock::~HomeLock() { Release(); }

void HomeLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool HomeLock::Take(const std::vector<std::string>& publishedFolders) {
    Release();
    const std::string home = VarevavoHome();
    if (!MakeDirectories(home, 0700)) return false;
    fd_ = ::open((home + "/server.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        // Another server of this home runs: its files are its own.
        while (::flock(fd_, LOCK_SH) != 0 && errno == EINTR) {}
        return false;
    }
    const std::string temp = OwnTempFolder();
    if (DIR* dir = temp.empty() ? nullptr : ::opendir(temp.c_str())) {
        while (struct dirent* d = ::readdir(dir))
            if (IsTempName(d->d_name)) ::unlinkat(::dirfd(dir), d->d_name, 0);
        ::closedir(dir);
    }
    long budget = 200000;  // entries looked at, so that a huge tree cannot hold up the start
    const time_t settled = std::time(nullptr) - 60;
    for (const std::string& folder : publishedFolders) {
        const std::string host = HostPath(folder);
        if (!host.empty()) RemoveInBetweenCopies(host, settled, 0, &budget);
    }
    while (::flock(fd_, LOCK_SH) != 0 && errno == EINTR) {}
    return true;
}

namespace {

// "." first, ".." second, then byte order (unsigned, as the bytes of UTF-8
// sort by code point).
int DotRank(std::string_view name) { return name == "." ? 0 : name == ".." ? 1 : 2; }
bool ListedBefore(const std::string& a, const std::string& b) {
    const int rankA = DotRank(a), rankB = DotRank(b);
    if (rankA != rankB) return rankA < rankB;
    return a < b;
}

}  // namespace

DirectorySearch::DirectorySearch(std::string_view directory) {
    const std::string host = HostPath(directory);
    if (host.empty()) return;
    DIR* dir = ::opendir(host.c_str());
    if (!dir) return;
    handle_ = dir;
    while (struct dirent* d = ::readdir(dir)) names_.emplace_back(d->d_name);
    std::sort(names_.begin(), names_.end(), ListedBefore);
}

DirectorySearch::~DirectorySearch() {
    if (handle_) ::closedir(static_cast<DIR*>(handle_));
}

bool DirectorySearch::Next(FindData* entry) {
    if (!handle_ || next_ >= names_.size()) return false;
    DIR* dir = static_cast<DIR*>(handle_);
    entry->name = std::move(names_[next_++]);
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->name.c_str(), &st, 0) != 0) {
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

}  // namespace platform
