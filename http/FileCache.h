#pragma once
// A loop thread's cache of documents: what the file system said of a path
// (its facts, an open descriptor, and the bytes of a small file), so that
// serving a document again costs no system call.
//
// It is exact: every path it holds is watched (the file and each folder on
// the way to it), and the changes the kernel reported are applied before
// the first lookup of each batch of requests (BeginBatch). A change made by
// any means before a request was sent (our PUT or DELETE, another program's
// write, a rename, a touch, a folder renamed above it) is seen by that very
// request. Paths that cannot be watched are not cached.
//
// A cache belongs to one thread, which alone uses it; the free functions
// below use the cache they are given, or the file system directly without
// one.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/ContentCoding.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/FileWatch.h"

class FileCache {
public:
    // Files up to this size keep their bytes in the cache.
    static constexpr uint64_t kSmallFile = 16384;
    static constexpr size_t kMaxEntries = 512;
    static constexpr uint64_t kMaxBytes = 8u << 20;
    // Compressed copies of documents are kept up to this many bytes in all;
    // those of the documents used least recently go first.
    static constexpr uint64_t kMaxCodedBytes = 32u << 20;

    // An open document as the cache hands it out; shared, so that an answer
    // still being sent keeps it when the cache lets go of it.
    struct Document {
        std::shared_ptr<const platform::File> file;
        std::shared_ptr<const std::string> bytes;  // the whole file, for a small one
        // Its entity tag (ContentCoding::EntityTag of the file as opened),
        // made once for the entry rather than for every answer; null when
        // opened without a cache.
        std::shared_ptr<const std::string> tag;
        // The codings of the copies beside it (as Siblings), looked for
        // once for the entry when it is opened; known is false when they
        // were not (opened without a cache, or a path the cache cannot
        // watch for them).
        unsigned siblings = 0;
        bool siblingsKnown = false;
    };

    // codedLimit: the bound of the compressed copies (kMaxCodedBytes).
    explicit FileCache(uint64_t codedLimit = kMaxCodedBytes);
    ~FileCache();
    FileCache(const FileCache&) = delete;
    FileCache& operator=(const FileCache&) = delete;

    // Every request served from now on was received before this call.
    void BeginBatch() { mustCheck_ = true; }
    // A descriptor that becomes readable when a change is reported, for a
    // thread that polls it instead of calling BeginBatch; -1 for none.
    int ChangeHandle() const { return watch_.Handle(); }
    // The poll found ChangeHandle readable: every change it reported is
    // taken in now (which leaves it unreadable again).
    void ChangesArrived() { ApplyChanges(true); }
    // As platform::GetFileInfo.
    bool Info(const std::string& path, platform::FileInfo* info);
    // Opens a document (not a folder) for reading. False when it cannot be
    // opened.
    bool Open(const std::string& path, Document* document);
    size_t Size() const { return entries_.size(); }

    // The codings (a set, ContentCoding::Bit) of which a precompressed copy
    // sits beside the document at path: the path with the coding's suffix
    // (ContentCoding::Suffix), a file. Whether each is fresh enough to
    // serve is its own entry's business (Info). Kept with the document's
    // entry and as exact as it: a copy made, removed or renamed is seen by
    // the next batch.
    unsigned Siblings(const std::string& path);
    // The bytes of the document at path compressed in coding, made the
    // first time they are asked for and kept until the file changes (the
    // entry goes) or the bound pushes them out. served: the file the answer
    // is sending, which must be the one the cache holds open for path, so
    // that the copy and the answer's validators describe the same bytes.
    // Null when the path is not held, served is another file, the file
    // cannot be read whole, or compressing saves nothing (not tried again
    // until the file changes).
    std::shared_ptr<const std::string> Coded(const std::string& path, Coding coding, const platform::File* served);
    // The bytes of the compressed copies kept now.
    uint64_t CodedBytes() const { return codedBytes_; }

    // Moves with every change to what the cache holds (an entry made,
    // filled or dropped, a compressed copy made or dropped), the changes the
    // kernel reported so far applied first. An answer made from the cache's
    // facts alone is the answer again while it stays put.
    uint64_t Version() {
        if (mustCheck_) ApplyChanges();
        return changes_;
    }
    // Counts the lookups the file system answered instead, of a path the
    // cache does not hold (one that does not exist or cannot be watched):
    // nothing would tell of their change.
    uint64_t DirectLooks() const { return direct_; }

private:
    struct Entry {
        std::string path;
        platform::FileInfo info;
        // Empty until the file is opened; its siblings are those of the
        // entry (Siblings), once looked for, even before.
        Document document;
        std::shared_ptr<const std::string> coded[4];  // by Coding: compressed copies of document
        unsigned codedTried = 0;     // the codings compressed into (or failed) since the file was opened
        // (watch, entry name) pairs it depends on; an empty name stands for
        // the watched object itself.
        std::vector<std::pair<int, std::string>> watches;
        std::list<std::string>::iterator age;
    };

    // always: even with nothing kept (the reports must be taken all the same).
    void ApplyChanges(bool always = false);
    Entry* Find(const std::string& path);
    // Looks the path up and keeps it. Null when it is not kept; *missing
    // then tells whether it does not exist.
    Entry* Add(const std::string& path, bool* missing);
    void Remove(const std::string& path);
    void Clear();
    void Unwatch(int id);
    // Drops the compressed copies of entry e.
    void DropCoded(Entry& e);
    // Looks for the copies beside e's document once, and watches for them.
    void FindSiblings(Entry& e);

    platform::FileWatch watch_;
    bool mustCheck_ = false;
    uint64_t bytes_ = 0;
    uint64_t codedLimit_;
    uint64_t codedBytes_ = 0;
    uint64_t changes_ = 0;
    uint64_t direct_ = 0;
    std::unordered_map<std::string, Entry> entries_;
    std::list<std::string> ages_;  // most recently used first
    std::unordered_map<int, std::vector<std::string>> dependents_;  // watch -> paths of entries
    std::unordered_map<int, int> watchUses_;                         // watch -> entries using it
};

// As platform::GetFileInfo, through cache when there is one.
bool LookupFileInfo(FileCache* cache, const std::string& path, platform::FileInfo* info);
// Opens a document through cache, or directly without one; known: its facts
// when the caller has just read them.
bool OpenDocument(FileCache* cache, const std::string& path, const platform::FileInfo* known,
                  FileCache::Document* document);
// FileCache::Siblings through cache, or looked up directly without one.
unsigned PrecompressedSiblings(FileCache* cache, const std::string& path);
