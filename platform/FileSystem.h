#pragma once
// File-system queries and whole-file operations on server paths (drive
// letters and backslashes allowed; see Paths.h). Every function refuses a
// path that holds a NUL byte, as if the file did not exist.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileInfo.h"
#include "platform/FileTime.h"

namespace platform {

class File;

// Attributes of a path. False (and *info untouched) when it cannot be read.
bool GetFileInfo(std::string_view path, FileInfo* info);

// Why a copy failed.
struct CopyTrouble {
    // The data could not be stored (a full disk, a quota, the file-size
    // limit, an I/O error), as opposed to a copy refused (the target exists
    // with failIfExists, is a directory, lies in no folder, is not ours).
    bool storage = false;
    std::string reason;  // the system's words
};

// Copies a regular file. With failIfExists an existing target makes the copy
// fail and stays untouched; otherwise the target is replaced. The copy is
// written as an unnamed file in the target's folder and given the target's
// name only when whole, replacing the old one in one step: no request ever
// finds a half-copied file, and a copy cut short (the process killed)
// leaves nothing behind. Where the file system has no unnamed files, the
// copy is written under an in-between name (IsInBetweenCopy) instead. A
// failed copy leaves the target as it was; trouble, when given, says why.
bool CopyFile(std::string_view source, std::string_view target, bool failIfExists, CopyTrouble* trouble = nullptr);

// True for the name of a copy in progress: a dot, the target's name, ".ZAD"
// and six letters or digits (an earlier form lacked the dot). Such a file is
// never a document: it is hidden from listings, never served, and removed
// by the start that finds it left over.
bool IsInBetweenCopy(std::string_view path);

// Removes a file (not a directory). True when it was removed.
bool DeleteFile(std::string_view path);

// The temporary directory: $TMPDIR when set and non-empty, else /tmp.
std::string TempDirectory();

// Creates a new, empty, uniquely named file "ZAD??????.TMP" in the home's
// folder of the temporary directory ("varevavo-" and a digest of the home's
// path, made for the owner alone when missing), so that the files of one
// home can be told from those of any other; in the temporary directory
// itself when that name holds anything else (another user's folder, a
// link). Returns its full name, empty on failure.
std::string CreateTempFile();

// Opens *file as a new, empty temporary file without a name (File::
// OpenNameless) in the temporary directory, whose file system bounds it
// as it bounds named ones; in memory only where that file system cannot
// hold such a file. Nothing is left to delete. False when no such file can
// be made.
bool CreateTempFile(File* file);

// As below, for an open file: its file system's size (a memory file with no
// file system size of its own has none) and the file-size limit.
bool CannotGrow(const File& file);

// True when the file at path (host or server path) can grow no further: its
// file system has no block left for this process, or it has reached this
// process's file-size limit (the scripts it starts inherit both).
bool CannotGrow(std::string_view path);

// Held by a running server from its start to its stop, so that a server
// starting on a home can tell whether another runs on it.
class HomeLock {
public:
    HomeLock() = default;
    ~HomeLock();
    HomeLock(const HomeLock&) = delete;
    HomeLock& operator=(const HomeLock&) = delete;

    // Takes the current home's lock (its file "server.lock"). True when no
    // other server of the home held it: then, before the lock is shared,
    // the leftovers of the home's earlier runs are removed: every temporary
    // file (CreateTempFile) and every in-between copy (CopyFile) below the
    // given folders (server paths). False when another server runs (its
    // files are left alone) or the lock cannot be taken.
    bool Take(const std::vector<std::string>& publishedFolders);
    void Release();

private:
    int fd_ = -1;
};

// One entry of a directory search.
struct FindData {
    std::string name;
    bool directory = false;
    bool hidden = false;
    uint64_t size = 0;
    FILETIME lastWrite;
};

// Lists a directory: "." and ".." first, then every other name in byte
// order, whatever order the file system keeps them in, so that every
// listing reads alike. The names are read when the search starts; an entry's
// attributes when it is handed out (a name gone by then is handed out as an
// empty file). Owns the open directory.
class DirectorySearch {
public:
    explicit DirectorySearch(std::string_view directory);
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    bool IsOpen() const { return handle_ != nullptr; }
    // The next entry; false at the end or when the directory is not open.
    bool Next(FindData* entry);

private:
    void* handle_ = nullptr;
    std::vector<std::string> names_;  // in the order they are handed out
    size_t next_ = 0;
};

}  // namespace platform
