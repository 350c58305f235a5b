#include "http/HTTPEntity.h"

#include <algorithm>
#include <functional>

#include "http/ByteSource.h"
#include "http/FileCache.h"
#include "http/FileTests.h"
#include "platform/FileSystem.h"
#include "platform/OperatorReport.h"
#include "platform/Reply.h"

namespace {

// File bodies up to this size are read and sent with the head.
constexpr uint64_t kSmallBody = 16384;

}  // namespace

HTTPEntity::~HTTPEntity() { Discard(); }

void HTTPEntity::Discard() {
    file_.reset();
    bytes_.reset();
    tag_.reset();
    siblingsKnown_ = false;
    shared_.reset();
    if (type_ == EntityTemp && !fileName_.empty()) platform::DeleteFile(fileName_);
    type_ = EntityNone;
    knownValid_ = false;
    cache_ = nullptr;
    nameless_ = false;
    namelessSize_ = -1;
    data_.clear();
    offset_ = 0;
    limit_ = kWholeFile;
    fileName_.clear();
}

std::string HTTPEntity::SetTemp() {
    Discard();
    fileName_ = MakeTempFile();
    if (fileName_.empty())
        platform::ReportToOperator(platform::OperatorProblem::Critical, "Unable to open temporary file");
    type_ = EntityTemp;
    return fileName_;
}

const platform::File* HTTPEntity::SetNamelessTemp() {
    Discard();
    type_ = EntityTemp;
    nameless_ = true;
    auto file = std::make_shared<platform::File>();
    if (!platform::CreateTempFile(file.get())) {
        platform::ReportToOperator(platform::OperatorProblem::Critical, "Unable to open temporary file");
        return nullptr;
    }
    file_ = std::move(file);
    return file_.get();
}

const platform::File* HTTPEntity::OpenedFile() { return EnsureOpen() ? file_.get() : nullptr; }

void HTTPEntity::SetFile(std::string_view name, const platform::FileInfo* known, FileCache* cache) {
    // Discard forgets the old name; a new one taken from it is kept first.
    const std::less_equal<const char*> atOrBefore;
    if (!name.empty() && atOrBefore(fileName_.data(), name.data()) &&
        atOrBefore(name.data(), fileName_.data() + fileName_.size())) {
        SetFile(std::string(name), known, cache);
        return;
    }
    Discard();
    type_ = EntityFile;
    cache_ = cache;
    // Copied into the name's storage, which the body keeps from answer to
    // answer.
    fileName_.assign(name);
    knownValid_ = known != nullptr;
    if (known) known_ = *known;
}

void HTTPEntity::SetData(const char* data, unsigned long size) {
    Discard();
    if (data && size) data_.assign(data, size);
    type_ = EntityData;
}

void HTTPEntity::SetData(std::string&& data) {
    Discard();
    data_ = std::move(data);
    type_ = EntityData;
}

void HTTPEntity::SetShared(std::shared_ptr<const std::string> data) {
    Discard();
    shared_ = std::move(data);
    type_ = EntityData;
}

void HTTPEntity::SetOffset(uint64_t offset, uint64_t limit) {
    offset_ = offset;
    limit_ = limit;
}

bool HTTPEntity::EnsureOpen() {
    if (!IsFile()) return false;
    if (file_) return true;
    if (nameless_) return false;
    if (type_ == EntityFile) {
        FileCache::Document document;
        if (!OpenDocument(cache_, fileName_, knownValid_ ? &known_ : nullptr, &document)) return false;
        file_ = std::move(document.file);
        bytes_ = std::move(document.bytes);
        tag_ = std::move(document.tag);
        siblings_ = document.siblings;
        siblingsKnown_ = document.siblingsKnown;
        return true;
    }
    auto file = std::make_shared<platform::File>();
    if (!file->Open(fileName_, platform::File::Mode::Read)) return false;
    file_ = std::move(file);
    return true;
}

uint64_t HTTPEntity::GetSize() {
    switch (type_) {
        case EntityFile:
        case EntityTemp: {
            // An open document answers from what it was when opened, so its
            // size, date and sent bytes agree. A temporary body may still be
            // growing (a script writing it) until it is opened for sending.
            const uint64_t size = file_ ? FileBytes() : FileSize(fileName_);
            return size > offset_ ? std::min(size - offset_, limit_) : 0;
        }
        case EntityData: return Data().size();
        default: return 0;
    }
}

uint64_t HTTPEntity::FileBytes() {
    if (!nameless_) return static_cast<uint64_t>(std::max<int64_t>(file_->SizeAtOpen(), 0));
    if (namelessSize_ < 0) namelessSize_ = std::max<int64_t>(file_->Size(), 0);
    return static_cast<uint64_t>(namelessSize_);
}

int HTTPEntity::LastModified(FILETIME* t) {
    if (type_ != EntityFile || !t) return 0;
    if (!EnsureOpen()) return 0;
    *t = file_->LastWriteAtOpen();
    return 1;
}

bool HTTPEntity::FileFacts(platform::FileInfo* facts) {
    if (type_ != EntityFile || !EnsureOpen()) return false;
    facts->directory = false;
    facts->size = FileBytes();
    facts->lastWrite = file_->LastWriteAtOpen();
    facts->identity = file_->IdentityAtOpen();
    return true;
}

int HTTPEntity::Read(ByteSource* source, unsigned long timeout, uint64_t length, bool nameless) {
    int result = 1;
    auto out = std::make_shared<platform::File>();
    if (nameless) {
        Discard();
        type_ = EntityTemp;
        nameless_ = true;
        if (!platform::CreateTempFile(out.get())) {
            platform::ReportToOperator(platform::OperatorProblem::Critical, "Unable to open temporary file");
            result = -1;
        }
    } else {
        SetTemp();
        if (fileName_.empty() || !out->Open(fileName_, platform::File::Mode::CreateAlways)) result = -1;
    }
    char buffer[8192];
    for (uint64_t received = 0; result == 1 && received < length;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(length - received, sizeof buffer));
        const long got = source->ReceiveSome(buffer, want, timeout);
        if (got == 0 && length == kToEnd) break;
        if (got <= 0) result = 0;
        else if (!out->WriteAll(buffer, static_cast<size_t>(got))) result = -1;
        else received += static_cast<uint64_t>(got);
    }
    if (result == 1 && nameless) {
        if (out->Seek(0)) file_ = std::move(out);
        else result = -1;
    }
    if (result != 1) Discard();
    return result;
}

bool HTTPEntity::ComposeAfterHead(platform::Reply* reply) {
    if (type_ == EntityData) {
        if (shared_) reply->shared = shared_;
        else reply->text = data_;
        return true;
    }
    if (!IsFile()) return true;
    if (!EnsureOpen()) return false;
    const uint64_t size = FileBytes();
    const uint64_t count = size > offset_ ? std::min(size - offset_, limit_) : 0;
    if (count == 0) return true;
    // A small body leaves with its head in one send: from the cache's copy
    // when there is one, else read now; a larger one follows the head
    // through the kernel's file-to-socket path.
    if (bytes_ && offset_ + count <= bytes_->size()) {
        if (offset_ == 0 && count == bytes_->size()) reply->shared = bytes_;
        else reply->text.assign(*bytes_, offset_, count);
        return true;
    }
    if (count <= kSmallBody) {
        reply->text.resize(static_cast<size_t>(count));
        if (file_->ReadAt(offset_, reply->text.data(), reply->text.size()) == static_cast<long>(count)) return true;
        reply->text.clear();
    }
    reply->file = file_;
    reply->fileOffset = offset_;
    reply->fileCount = count;
    return true;
}
