#pragma once
// A message body: nothing, an existing file (not owned), a temporary file
// (owned: deleted when discarded; or one without a name, held open, which
// vanishes when its last user closes it) or a block of memory (owned). Offset skips
// leading bytes of a file that are not part of the body (a script's header
// lines). The type changes only through Discard and the setters, each of
// which discards first, so a temporary file or memory block is released
// exactly once. Bodies come in from a ByteSource in pieces; a file body
// leaves through the kernel's file-to-socket path.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/File.h"
#include "platform/FileTime.h"

class ByteSource;
class FileCache;
namespace platform {
class Reply;
}  // namespace platform

enum EntityType : int { EntityNone = 0, EntityFile = 1, EntityTemp = 2, EntityData = 3 };

class HTTPEntity {
public:
    // The most bytes of a file body that follow Offset (a byte range of the
    // file); kWholeFile sends everything from Offset to the end.
    static constexpr uint64_t kWholeFile = UINT64_MAX;

    HTTPEntity() = default;
    ~HTTPEntity();
    HTTPEntity(const HTTPEntity&) = delete;
    HTTPEntity& operator=(const HTTPEntity&) = delete;

    int Type() const { return type_; }
    // A body kept in a file: EntityFile or EntityTemp.
    bool IsFile() const { return type_ == EntityFile || type_ == EntityTemp; }
    // The file of EntityFile and EntityTemp; empty otherwise.
    const std::string& FileName() const { return fileName_; }
    // The bytes of EntityData.
    const std::string& Data() const { return shared_ ? *shared_ : data_; }
    // Leading file bytes that are not part of the body.
    uint64_t Offset() const { return offset_; }

    // Deletes a temporary file (errors ignored), frees memory, and leaves an
    // empty body: EntityNone, no name, Offset 0, no limit.
    void Discard();
    // Makes the body a fresh, empty temporary file and returns its name. When
    // no name can be made, shows "Unable to open temporary file" ("Critical
    // Error") and the name stays empty; the type is EntityTemp either way.
    std::string SetTemp();
    // Makes the body a fresh, empty temporary file without a name
    // (platform::CreateTempFile) and returns it open, for a script to write
    // through a descriptor; FileName() stays empty. Null, after the same
    // report as SetTemp, when none can be made; EntityTemp either way. Its
    // size is taken once, when first needed (its writer is done by then),
    // and stands, so the length announced and the bytes sent agree.
    const platform::File* SetNamelessTemp();
    // The open file of a file body, opened now when it is not yet (for a
    // temporary file written by name: as it is now). Null for other bodies
    // and for a file that cannot be opened.
    const platform::File* OpenedFile();
    // Makes the body the existing file name (not owned). known: what the
    // caller has just learned of the file, so it is not looked up again.
    // cache: the serving thread's document cache it is opened through, which
    // must outlive this body's use (null: opened directly). The name is
    // copied into the body's own (which it may be part of).
    void SetFile(std::string_view name, const platform::FileInfo* known = nullptr, FileCache* cache = nullptr);
    // Makes the body a copy of size bytes of data (or takes the text).
    void SetData(const char* data, unsigned long size);
    void SetData(std::string&& data);
    // Makes the body bytes shared with another owner (a cache), sent
    // without a copy: EntityData.
    void SetShared(std::shared_ptr<const std::string> data);
    // Narrows a file body to the bytes from offset on, limit of them at most:
    // what follows a script's header lines, or a byte range of a document.
    void SetOffset(uint64_t offset, uint64_t limit = kWholeFile);

    // The size of the body in bytes: file size less Offset (at most the
    // limit), or the memory size; 0 for no body (and when the file is
    // shorter than Offset). Files of 4 GiB and more keep their whole size.
    uint64_t GetSize();
    // For EntityFile only: the file's last-write time into *t; non-zero on
    // success, 0 for other types or a file that cannot be opened.
    int LastModified(FILETIME* t);
    // For EntityFile only: the file's size, time of last write and identity
    // as opened into *facts; false for other types or a file that cannot
    // be opened.
    bool FileFacts(platform::FileInfo* facts);
    // What the cache a file body was opened through knows of the file,
    // once FileFacts has succeeded: its entity tag (the one
    // ContentCoding::EntityTag makes of FileFacts), null when it was not
    // opened through a cache; and the codings of the precompressed copies
    // beside it (FileCache::Siblings), false when the cache did not look.
    const std::string* CachedTag() const { return tag_.get(); }
    bool KnownSiblings(unsigned* siblings) const {
        if (siblingsKnown_) *siblings = siblings_;
        return siblingsKnown_;
    }

    // Receives a body of exactly length bytes from source into a new
    // temporary file, waiting at most timeout for each piece; nothing after
    // it is taken (the next request). 1 when the whole body was
    // stored. 0 when the connection closed, failed or went silent first, -1
    // when the file could not be created or written: either way the body is
    // discarded, so no part of it stays on the disk. nameless: the file is
    // one without a name (SetNamelessTemp), left at its first byte so that
    // whoever is handed the open file reads it from the start.
    // A length of kToEnd takes everything until the source ends (returns 0):
    // a body whose source knows its end (ChunkedSource).
    int Read(ByteSource* source, unsigned long timeout, uint64_t length, bool nameless = false);
    static constexpr uint64_t kToEnd = UINT64_MAX;

    // Puts the body into reply after the head already there: a memory body
    // or a small file body as bytes (a file a cache holds is shared, not
    // copied), a larger file body as its open file, Offset and length, for
    // the kernel's file-to-socket path. False, with nothing added, when a
    // file body cannot be opened.
    bool ComposeAfterHead(platform::Reply* reply);

private:
    // A file body is opened once, when first needed, and the same open file
    // answers the size, the date and the send.
    bool EnsureOpen();
    // The whole file's size: as opened, or for a nameless file as measured.
    uint64_t FileBytes();

    int type_ = EntityNone;
    std::string fileName_;
    std::string data_;
    std::shared_ptr<const std::string> shared_;  // EntityData's bytes when shared (data_ unused)
    uint64_t offset_ = 0;
    uint64_t limit_ = kWholeFile;
    std::shared_ptr<const platform::File> file_;
    // The whole file's bytes when a cache holds them (null otherwise).
    std::shared_ptr<const std::string> bytes_;
    std::shared_ptr<const std::string> tag_;  // the file's entity tag when a cache made it
    unsigned siblings_ = 0;                   // its copies, when a cache looked for them
    bool siblingsKnown_ = false;
    platform::FileInfo known_;
    bool knownValid_ = false;
    FileCache* cache_ = nullptr;  // what an EntityFile opens through (null: directly)
    bool nameless_ = false;       // an EntityTemp without a name: file_ is all there is of it
    int64_t namelessSize_ = -1;   // its size once measured
};
