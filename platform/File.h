#pragma once
// An open file on a server path (see Paths.h). Owns its descriptor: the
// destructor closes it, so an early return cannot leak it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileInfo.h"
#include "platform/FileTime.h"

namespace platform {

class File {
public:
    enum class Mode {
        Read,          // existing file, read only
        CreateAlways,  // write only; created, or emptied when it exists
        OpenAlways,    // write only; created when missing, contents kept
        ReadWrite,     // read and write; created when missing, contents kept
        Append,        // write only at the end, even when other writers append too
    };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens (closing any file held before). False when the path holds a NUL
    // byte, names a directory, or cannot be opened in that mode.
    bool Open(std::string_view path, Mode mode);
    // Opens for reading a file whose facts the caller has just read
    // (GetFileInfo), sparing a second look at them. False for a directory.
    bool OpenKnown(std::string_view path, const FileInfo& known);
    // Opens a new, empty file that has no name, for reading and writing:
    // made in hostFolder when one is given and its file system can hold
    // such a file, else held in memory alone. Either way it vanishes with
    // its last descriptor, so nothing is left to delete, even when the
    // process is killed. False when neither can be made.
    bool OpenNameless(std::string_view hostFolder);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Bytes read (0 at the end of the file), or -1 on error.
    long Read(void* buffer, size_t size);
    // Reads at offset, leaving the file position alone; as Read.
    long ReadAt(uint64_t offset, void* buffer, size_t size) const;
    // Writes every byte; false on error.
    bool WriteAll(const void* data, size_t size);
    bool Seek(uint64_t offsetFromStart);
    bool SeekToEnd();
    // The size of the open file now, or -1.
    int64_t Size() const;
    // The size and last-write time the file had when it was opened (a
    // document is described and sent as it was then, with no further
    // system call).
    int64_t SizeAtOpen() const { return sizeAtOpen_; }
    FILETIME LastWriteAtOpen() const { return lastWriteAtOpen_; }
    // FileInfo::identity of the file as opened (0 for a nameless file).
    uint64_t IdentityAtOpen() const { return identityAtOpen_; }
    bool LastWriteTime(FILETIME* time) const;
    // Forces written data to the disk.
    bool Flush();
    // Tells the kernel the file will be read from start to end.
    void AdviseSequential();

    // Writes as much of data as the file takes, in one or more writes: the
    // bytes written, fewer than size when a write failed (a full disk, the
    // file-size limit), with the system's words for the failure in *reason.
    size_t WriteAsMuch(const void* data, size_t size, std::string* reason);
    // Cuts the file to size bytes.
    bool Truncate(uint64_t size);

    // The descriptor, for the platform layer's own use (sendfile, child
    // standard handles). Code outside platform/ never touches it.
    int NativeHandle() const { return fd_; }

private:
    int fd_ = -1;
    int64_t sizeAtOpen_ = -1;
    FILETIME lastWriteAtOpen_;
    uint64_t identityAtOpen_ = 0;
};

// Reads a whole file into text; false when it cannot be opened or read.
bool ReadWholeFile(std::string_view path, std::string* contents);

// The system's words for an error number of this host, as a failed file
// operation gives its reason.
std::string SystemErrorText(int error);

}  // namespace platform
