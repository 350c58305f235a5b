#pragma once
// A message body: nothing, an existing file (not owned), a temporary file
// (owned: deleted when discarded) or a block of memory (owned). Offset skips
// leading bytes of a file that are not part of the body (a script's header
// lines). The type changes only through Discard and the setters, each of
// which discards first, so a temporary file or memory block is released
// exactly once. Bodies move between socket and disk in pieces; a file body
// leaves through the kernel's file-to-socket path.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/File.h"
#include "platform/FileTime.h"

class Socket;

enum EntityType : int { EntityNone = 0, EntityFile = 1, EntityTemp = 2, EntityData = 3 };

class HTTPEntity {
public:
    int Type = EntityNone;
    std::string FileName;  // the file of EntityFile and EntityTemp
    std::string Data;      // the bytes of EntityData
    uint32_t Offset = 0;   // leading file bytes that are not part of the body
    // The most bytes of a file body that follow Offset (a byte range of the
    // file); kWholeFile sends everything from Offset to the end.
    static constexpr uint64_t kWholeFile = UINT64_MAX;
    uint64_t Limit = kWholeFile;

    HTTPEntity() = default;
    ~HTTPEntity();
    HTTPEntity(const HTTPEntity&) = delete;
    HTTPEntity& operator=(const HTTPEntity&) = delete;

    // Deletes a temporary file (errors ignored), frees memory, and leaves an
    // empty body: EntityNone, no name, Offset 0, no Limit.
    void Discard();
    // Makes the body a fresh, empty temporary file and returns its name. When
    // no name can be made, shows "Unable to open temporary file" ("Critical
    // Error") and the name stays empty; the type is EntityTemp either way.
    std::string SetTemp();
    // Makes the body the existing file name (not owned). known: what the
    // caller has just learned of the file, so it is not looked up again.
    void SetFile(std::string name, const platform::FileInfo* known = nullptr);
    // Makes the body a copy of size bytes of data (or takes the text).
    void SetData(const char* data, unsigned long size);
    void SetData(std::string&& data);

    // The size of the body in bytes: file size less Offset (at most Limit),
    // or the memory size; 0 for no body (and when the file is shorter than
    // Offset).
    uint32_t GetSize();
    // For EntityFile only: the file's last-write time into *t; non-zero on
    // success, 0 for other types or a file that cannot be opened.
    int LastModified(FILETIME* t);

    // Receives a body of exactly length bytes from s into a new temporary
    // file, waiting at most timeout for each piece; what follows it on the
    // connection is left there (the next request). 1 when the whole body was
    // stored. 0 when the connection closed, failed or went silent first, -1
    // when the file could not be created or written: either way the body is
    // discarded, so no part of it stays on the disk.
    int Read(Socket* s, unsigned long timeout, uint64_t length);
    // Sends a file body from Offset, Limit bytes at most. 0 when the type is not a file
    // type or the file cannot be opened; otherwise 1, even if sending stopped
    // early (the caller's next socket operation learns of a broken connection).
    int WriteFile(Socket* s, unsigned long timeout);
    // Sends a memory body; 1 on success, 0 otherwise.
    int WriteBuffer(Socket* s, unsigned long timeout);
    // Sends the body whatever its type; 1 for no body.
    int Write(Socket* s, unsigned long timeout);

    // For the response writer: opens a file body (once) and tells the bytes
    // to send from Offset (at most Limit). False when it is not a file body or cannot be opened.
    bool OpenForSending(uint64_t* count);
    // The open file of a file body (after OpenForSending), shared so that
    // an answer still leaving keeps it open; and the whole file's bytes when
    // a cache holds them (null otherwise).
    const std::shared_ptr<const platform::File>& OpenFile() const { return file_; }
    const std::shared_ptr<const std::string>& FileBytes() const { return bytes_; }

private:
    // A file body is opened once, when first needed, and the same open file
    // answers the size, the date and the send.
    bool EnsureOpen();

    std::shared_ptr<const platform::File> file_;
    std::shared_ptr<const std::string> bytes_;
    platform::FileInfo known_;
    bool knownValid_ = false;
};
