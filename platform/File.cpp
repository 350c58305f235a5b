#include "platform/File.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/FileIdentity.h"
#include "platform/Paths.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_),
      sizeAtOpen_(other.sizeAtOpen_),
      lastWriteAtOpen_(other.lastWriteAtOpen_),
      identityAtOpen_(other.identityAtOpen_) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        sizeAtOpen_ = other.sizeAtOpen_;
        lastWriteAtOpen_ = other.lastWriteAtOpen_;
        identityAtOpen_ = other.identityAtOpen_;
        other.fd_ = -1;
    }
    return *this;
}

bool File::Open(std::string_view path, Mode mode) {
    Close();
    const std::string host = HostPath(path);
    if (host.empty()) return false;
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::CreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Mode::OpenAlways: flags |= O_WRONLY | O_CREAT; break;
        case Mode::ReadWrite: flags |= O_RDWR | O_CREAT; break;
        case Mode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    int fd;
    do {
        fd = ::open(host.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    sizeAtOpen_ = st.st_size;
    lastWriteAtOpen_ = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    identityAtOpen_ = FileIdentity(st);
    return true;
}

bool File::OpenKnown(std::string_view path, const FileInfo& known) {
    Close();
    if (known.directory) return false;
    const std::string host = HostPath(path);
    if (host.empty()) return false;
    int fd;
    do {
        fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    fd_ = fd;
    sizeAtOpen_ = static_cast<int64_t>(known.size);
    lastWriteAtOpen_ = known.lastWrite;
    identityAtOpen_ = known.identity;
    return true;
}

bool File::OpenNameless(std::string_view hostFolder) {
    Close();
    int fd = -1;
    if (!hostFolder.empty() && hostFolder.find('\0') == std::string_view::npos) {
        const std::string folder(hostFolder);
        do {
            fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) fd = ::memfd_create("varevavo-temp", MFD_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    sizeAtOpen_ = 0;
    lastWriteAtOpen_ = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    return true;
}

void File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

long File::Read(void* buffer, size_t size) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

long File::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

bool File::WriteAll(const void* data, size_t size) {
    if (fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool File::Seek(uint64_t offsetFromStart) {
    return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offsetFromStart), SEEK_SET) >= 0;
}

bool File::SeekToEnd() { return fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) >= 0; }

int64_t File::Size() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool File::LastWriteTime(FILETIME* time) const {
    struct stat st;
    if (!time || fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
    *time = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    return true;
}

bool File::Flush() { return fd_ >= 0 && ::fdatasync(fd_) == 0; }

void File::AdviseSequential() {
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

size_t File::WriteAsMuch(const void* data, size_t size, std::string* reason) {
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = fd_ >= 0 ? ::write(fd_, p + done, size - done) : -1;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (reason) *reason = SystemErrorText(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool File::Truncate(uint64_t size) {
    if (fd_ < 0) return false;
    int r;
    do {
        r = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool ReadWholeFile(std::string_view path, std::string* contents) {
    File file;
    if (!contents || !file.Open(path, File::Mode::Read)) return false;
    contents->clear();
    char buffer[16384];
    for (;;) {
        const long n = file.Read(buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        contents->append(buffer, static_cast<size_t>(n));
    }
}

std::string SystemErrorText(int error) {
    char buffer[256];
    // The GNU form: the text may be a constant rather than the buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace platform
