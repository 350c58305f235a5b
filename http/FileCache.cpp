#include "http/FileCache.h"

#include <algorithm>

#include "platform/Paths.h"

namespace {

// The components of an absolute host path; false for a path the cache
// does not take (relative, or with "." and ".." steps that a watch would
// see through differently).
bool Components(const std::string& host, std::vector<std::string_view>* parts) {
    if (host.empty() || host[0] != '/') return false;
    std::string_view rest(host);
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of('/');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find('/'), rest.size());
        const std::string_view part = rest.substr(0, end);
        if (part == "." || part == "..") return false;
        parts->push_back(part);
        rest.remove_prefix(end);
    }
    return true;
}

}  // namespace

FileCache::FileCache(uint64_t codedLimit) : codedLimit_(codedLimit) {}

FileCache::~FileCache() = default;

void FileCache::ApplyChanges(bool always) {
    mustCheck_ = false;
    if (!always && entries_.empty() && watchUses_.empty()) return;
    std::vector<platform::FileWatch::Change> changes;
    if (!watch_.Pending(&changes)) return;
    for (const auto& change : changes) {
        if (change.overflow) {
            Clear();
            continue;
        }
        const auto dependents = dependents_.find(change.id);
        if (dependents == dependents_.end()) continue;
        const std::vector<std::string> paths = dependents->second;
        for (const std::string& path : paths) {
            const auto entry = entries_.find(path);
            if (entry == entries_.end()) continue;
            const bool affected = std::any_of(entry->second.watches.begin(), entry->second.watches.end(),
                                              [&change](const auto& w) {
                                                  return w.first == change.id && (change.gone || w.second == change.name);
                                              });
            if (affected) Remove(path);
        }
        if (change.gone) {
            dependents_.erase(change.id);
            watchUses_.erase(change.id);
        }
    }
}

FileCache::Entry* FileCache::Find(const std::string& path) {
    if (mustCheck_) ApplyChanges();
    const auto found = entries_.find(path);
    if (found == entries_.end()) return nullptr;
    Entry& e = found->second;
    ages_.splice(ages_.begin(), ages_, e.age);
    return &e;
}

FileCache::Entry* FileCache::Add(const std::string& path, bool* missing) {
    const std::string host = platform::HostPath(path);
    platform::FileInfo info;
    // A path that does not exist is not kept (it would need watching for
    // its appearance); it costs one look.
    *missing = !platform::GetFileInfo(host, &info);
    if (*missing || !watch_.IsOpen()) return nullptr;
    std::vector<std::string_view> parts;
    if (!Components(host, &parts) || parts.empty()) return nullptr;

    // Watch first, look second: whatever changes after the look is reported.
    std::vector<std::pair<int, std::string>> watches;
    std::string folder = "/";
    bool watched = true;
    for (const std::string_view part : parts) {
        const int id = watch_.Watch(folder, platform::FileWatch::Kind::Folder);
        if (id < 0) {
            watched = false;
            break;
        }
        watches.emplace_back(id, std::string(part));
        if (folder.size() > 1) folder += '/';
        folder += part;
    }
    if (watched) {
        int id = watch_.Watch(host, platform::FileWatch::Kind::Folder);
        if (id < 0) id = watch_.Watch(host, platform::FileWatch::Kind::File);
        if (id >= 0) watches.emplace_back(id, std::string());
        else watched = false;
    }
    const bool exists = watched && platform::GetFileInfo(host, &info);
    for (const auto& w : watches) ++watchUses_[w.first];
    if (!exists) {
        for (const auto& w : watches) Unwatch(w.first);
        return nullptr;
    }
    while (entries_.size() >= kMaxEntries && !ages_.empty()) Remove(ages_.back());
    for (const auto& w : watches) dependents_[w.first].push_back(path);
    ages_.push_front(path);
    ++changes_;
    Entry& e = entries_[path];
    e.path = path;
    e.info = info;
    e.watches = std::move(watches);
    e.age = ages_.begin();
    return &e;
}

void FileCache::Unwatch(int id) {
    const auto uses = watchUses_.find(id);
    if (uses == watchUses_.end() || --uses->second > 0) return;
    watchUses_.erase(uses);
    watch_.Unwatch(id);
}

void FileCache::Remove(const std::string& path) {
    const auto found = entries_.find(path);
    if (found == entries_.end()) return;
    Entry& e = found->second;
    for (const auto& w : e.watches) {
        const auto dependents = dependents_.find(w.first);
        if (dependents != dependents_.end()) {
            auto& list = dependents->second;
            const auto at = std::find(list.begin(), list.end(), path);
            if (at != list.end()) list.erase(at);
            if (list.empty()) dependents_.erase(dependents);
        }
        Unwatch(w.first);
    }
    if (e.document.bytes) bytes_ -= e.document.bytes->size();
    DropCoded(e);
    ++changes_;
    ages_.erase(e.age);
    entries_.erase(found);
}

void FileCache::Clear() {
    while (!ages_.empty()) Remove(ages_.back());
}

bool FileCache::Info(const std::string& path, platform::FileInfo* info) {
    if (Entry* e = Find(path)) {
        *info = e->info;
        return true;
    }
    bool missing = false;
    if (Entry* e = Add(path, &missing)) {
        *info = e->info;
        return true;
    }
    // Not watchable (or gone in between): ask the file system, without keeping it.
    ++direct_;
    return !missing && platform::GetFileInfo(path, info);
}

bool FileCache::Open(const std::string& path, Document* document) {
    Entry* e = Find(path);
    bool missing = false;
    if (!e) e = Add(path, &missing);
    if (!e) ++direct_;
    if (missing) return false;
    if (!e) {
        auto file = std::make_shared<platform::File>();
        if (!file->Open(path, platform::File::Mode::Read)) return false;
        *document = Document{};
        document->file = std::move(file);
        return true;
    }
    if (e->info.directory) return false;
    if (!e->document.file) {
        auto file = std::make_shared<platform::File>();
        if (!file->Open(path, platform::File::Mode::Read)) {
            Remove(path);
            return false;
        }
        // The open file is what will be served: its facts win.
        e->info.size = static_cast<uint64_t>(std::max<int64_t>(file->SizeAtOpen(), 0));
        e->info.lastWrite = file->LastWriteAtOpen();
        e->info.identity = file->IdentityAtOpen();
        if (e->info.size <= kSmallFile) {
            auto bytes = std::make_shared<std::string>(e->info.size, '\0');
            if (file->ReadAt(0, bytes->data(), bytes->size()) == static_cast<long>(bytes->size())) {
                bytes_ += bytes->size();
                e->document.bytes = std::move(bytes);
            }
        }
        e->document.tag = std::make_shared<const std::string>(ContentCoding::EntityTag(e->info));
        e->document.file = std::move(file);
        ++changes_;
        const std::string keep = path;
        while (bytes_ > kMaxBytes && ages_.size() > 1) Remove(ages_.back());
        e = Find(keep);
        if (!e) return false;
        FindSiblings(*e);
    }
    *document = e->document;
    return true;
}

bool LookupFileInfo(FileCache* cache, const std::string& path, platform::FileInfo* info) {
    if (cache) return cache->Info(path, info);
    return platform::GetFileInfo(path, info);
}

bool OpenDocument(FileCache* cache, const std::string& path, const platform::FileInfo* known,
                  FileCache::Document* document) {
    if (cache) return cache->Open(path, document);
    auto file = std::make_shared<platform::File>();
    if (!(known ? file->OpenKnown(path, *known) : file->Open(path, platform::File::Mode::Read))) return false;
    *document = FileCache::Document{};
    document->file = std::move(file);
    return true;
}

namespace {

// The codings of which a file path + suffix exists, looked up now.
unsigned SiblingsOnDisk(const std::string& path) {
    unsigned found = 0;
    platform::FileInfo info;
    for (const Coding coding : ContentCoding::kPreference) {
        const std::string sibling = path + std::string(ContentCoding::Suffix(coding));
        if (platform::GetFileInfo(sibling, &info) && !info.directory) found |= ContentCoding::Bit(coding);
    }
    return found;
}

}  // namespace

void FileCache::DropCoded(Entry& e) {
    ++changes_;
    for (auto& coded : e.coded) {
        if (coded) codedBytes_ -= coded->size();
        coded.reset();
    }
    e.codedTried = 0;
}

unsigned FileCache::Siblings(const std::string& path) {
    Entry* e = Find(path);
    bool missing = false;
    if (!e) e = Add(path, &missing);
    if (e) FindSiblings(*e);
    if (!e || !e->document.siblingsKnown) {
        ++direct_;
        return missing ? 0 : SiblingsOnDisk(path);
    }
    return e->document.siblings;
}

void FileCache::FindSiblings(Entry& e) {
    // The last two watches are the document's folder (with its name) and
    // the document itself; without them nothing could tell of a copy.
    if (e.document.siblingsKnown || e.watches.size() < 2) return;
    // The folder's watch reports the copies' names too: watched first,
    // looked for second, as every entry is.
    const std::pair<int, std::string> folder = e.watches[e.watches.size() - 2];
    for (const Coding coding : ContentCoding::kPreference) {
        e.watches.emplace_back(folder.first, folder.second + std::string(ContentCoding::Suffix(coding)));
        ++watchUses_[folder.first];
        dependents_[folder.first].push_back(e.path);
    }
    e.document.siblings = SiblingsOnDisk(e.path);
    e.document.siblingsKnown = true;
    ++changes_;
}

std::shared_ptr<const std::string> FileCache::Coded(const std::string& path, Coding coding,
                                                    const platform::File* served) {
    Entry* e = Find(path);
    const int index = static_cast<int>(coding);
    if (!e || !served || e->document.file.get() != served || coding == Coding::Identity) {
        ++direct_;
        return nullptr;
    }
    if (e->codedTried & ContentCoding::Bit(coding)) return e->coded[index];
    e->codedTried |= ContentCoding::Bit(coding);
    ++changes_;
    const uint64_t size = e->info.size;
    std::string read;
    std::string_view whole;
    if (e->document.bytes) {
        whole = *e->document.bytes;
    } else {
        read.resize(static_cast<size_t>(size));
        if (served->ReadAt(0, read.data(), read.size()) != static_cast<long>(size)) return nullptr;
        whole = read;
    }
    std::string out;
    if (!platform::Compress(coding, whole, &out) || out.size() >= whole.size()) return nullptr;
    auto coded = std::make_shared<const std::string>(std::move(out));
    // One copy larger than the whole bound is sent, but not kept.
    if (coded->size() > codedLimit_) {
        e->codedTried &= ~ContentCoding::Bit(coding);
        ++direct_;
        return coded;
    }
    codedBytes_ += coded->size();
    e->coded[index] = coded;
    for (auto older = ages_.rbegin(); codedBytes_ > codedLimit_ && older != ages_.rend(); ++older) {
        if (*older == path) continue;
        const auto found = entries_.find(*older);
        if (found != entries_.end()) DropCoded(found->second);
    }
    return coded;
}

unsigned PrecompressedSiblings(FileCache* cache, const std::string& path) {
    return cache ? cache->Siblings(path) : SiblingsOnDisk(path);
}
