#pragma once
// Changes to files and folders as the kernel reports them, whoever makes
// them (this server, another program, a rename, a touch). A change is
// queued by the kernel before the call that made it returns, so a reader
// that asks for pending changes after learning of a request sees every
// change that happened before the request was sent.
//
// Not seen: writes through a shared memory mapping, and changes on network
// file systems made by other machines.

#include <string>
#include <vector>

namespace platform {

class FileWatch {
public:
    enum class Kind {
        File,    // its contents, times, attributes, and its own removal or rename
        Folder,  // entries appearing, going or renamed in it, its attributes, its own removal or rename
    };
    struct Change {
        int id = -1;        // the watch that saw it; -1 with overflow
        std::string name;   // the entry of a folder it concerns; empty for the watched object itself
        bool gone = false;  // the watch ended (its object was removed)
        bool overflow = false;  // changes were lost: assume everything changed
    };

    FileWatch();
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // A descriptor that is readable while changes wait to be taken with
    // Pending, for a poll to watch; -1 when closed.
    int Handle() const { return fd_; }
    // Starts watching a server path (see Paths.h). The watch id, the same
    // for every watch of one object; -1 when it cannot be watched.
    int Watch(const std::string& path, Kind kind);
    void Unwatch(int id);
    // Appends every change reported so far, without waiting. False when
    // there was none.
    bool Pending(std::vector<Change>* changes);

private:
    int fd_ = -1;
};

}  // namespace platform
