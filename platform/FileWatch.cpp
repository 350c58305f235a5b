#include "platform/FileWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Paths.h"

namespace platform {

namespace {

constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;

}  // namespace

FileWatch::FileWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FileWatch::~FileWatch() {
    if (fd_ >= 0) ::close(fd_);
}

int FileWatch::Watch(const std::string& path, Kind kind) {
    if (fd_ < 0) return -1;
    const std::string host = HostPath(path);
    if (host.empty()) return -1;
    const int id = ::inotify_add_watch(fd_, host.c_str(), kind == Kind::File ? kFileEvents : kFolderEvents);
    return id >= 0 ? id : -1;
}

void FileWatch::Unwatch(int id) {
    if (fd_ >= 0 && id >= 0) ::inotify_rm_watch(fd_, id);
}

bool FileWatch::Pending(std::vector<Change>* changes) {
    if (fd_ < 0) return false;
    alignas(inotify_event) char buffer[8192];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return any;
        }
        for (ssize_t at = 0; at < n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            Change change;
            change.id = event.wd;
            change.overflow = (event.mask & IN_Q_OVERFLOW) != 0;
            change.gone = (event.mask & IN_IGNORED) != 0;
            if (event.len) change.name.assign(buffer + at + sizeof event, ::strnlen(buffer + at + sizeof event, event.len));
            changes->push_back(std::move(change));
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
        any = true;
        if (static_cast<size_t>(n) < sizeof buffer - sizeof(inotify_event) - 256) return true;
    }
}

}  // namespace platform
