#include "http/HTTPEntity.h"

#include <algorithm>

#include "http/FileCache.h"
#include "http/FileTests.h"
#include "net/OperatorReport.h"
#include "net/Socket.h"
#include "platform/FileSystem.h"

HTTPEntity::~HTTPEntity() { Discard(); }

void HTTPEntity::Discard() {
    file_.reset();
    bytes_.reset();
    if (Type == EntityTemp && !FileName.empty()) platform::DeleteFile(FileName);
    Type = EntityNone;
    knownValid_ = false;
    Data.clear();
    Offset = 0;
    Limit = kWholeFile;
    FileName.clear();
}

std::string HTTPEntity::SetTemp() {
    Discard();
    FileName = MakeTempFile();
    if (FileName.empty()) ReportToOperator(OperatorProblem::Critical, "Unable to open temporary file");
    Type = EntityTemp;
    return FileName;
}

void HTTPEntity::SetFile(std::string name, const platform::FileInfo* known) {
    Discard();
    Type = EntityFile;
    FileName = std::move(name);
    knownValid_ = known != nullptr;
    if (known) known_ = *known;
}

void HTTPEntity::SetData(const char* data, unsigned long size) {
    Discard();
    if (data && size) Data.assign(data, size);
    Type = EntityData;
}

void HTTPEntity::SetData(std::string&& data) {
    Discard();
    Data = std::move(data);
    Type = EntityData;
}

bool HTTPEntity::EnsureOpen() {
    if (Type != EntityFile && Type != EntityTemp) return false;
    if (file_) return true;
    if (Type == EntityFile) {
        FileCache::Document document;
        if (!OpenDocument(FileName, knownValid_ ? &known_ : nullptr, &document)) return false;
        file_ = std::move(document.file);
        bytes_ = std::move(document.bytes);
        return true;
    }
    auto file = std::make_shared<platform::File>();
    if (!file->Open(FileName, platform::File::Mode::Read)) return false;
    file_ = std::move(file);
    return true;
}

uint32_t HTTPEntity::GetSize() {
    switch (Type) {
        case EntityFile:
        case EntityTemp: {
            // An open document answers from what it was when opened, so its
            // size, date and sent bytes agree. A temporary body may still be
            // growing (a script writing it) until it is opened for sending.
            const uint32_t size = file_ ? static_cast<uint32_t>(std::max<int64_t>(file_->SizeAtOpen(), 0))
                                        : FileSize(FileName);
            return size > Offset ? static_cast<uint32_t>(std::min<uint64_t>(size - Offset, Limit)) : 0;
        }
        case EntityData: return static_cast<uint32_t>(Data.size());
        default: return 0;
    }
}

int HTTPEntity::LastModified(FILETIME* t) {
    if (Type != EntityFile || !t) return 0;
    if (!EnsureOpen()) return 0;
    *t = file_->LastWriteAtOpen();
    return 1;
}

int HTTPEntity::Read(Socket* s, unsigned long timeout, uint64_t length) {
    SetTemp();
    int result = 1;
    {
        platform::File out;
        if (FileName.empty() || !out.Open(FileName, platform::File::Mode::CreateAlways)) result = -1;
        char buffer[8192];
        for (uint64_t received = 0; result == 1 && received < length;) {
            const int want = static_cast<int>(std::min<uint64_t>(length - received, sizeof buffer));
            int got = 0;
            const int r = s->RecvSome(buffer, want, timeout, &got);
            if (got > 0 && !out.WriteAll(buffer, static_cast<size_t>(got))) result = -1;
            received += static_cast<uint64_t>(std::max(got, 0));
            if (r < 0 && result == 1) result = 0;
        }
    }
    if (result != 1) Discard();
    return result;
}

bool HTTPEntity::OpenForSending(uint64_t* count) {
    if (!EnsureOpen()) return false;
    const int64_t size = file_->SizeAtOpen();
    *count = size > static_cast<int64_t>(Offset) ? std::min<uint64_t>(static_cast<uint64_t>(size) - Offset, Limit) : 0;
    return true;
}

int HTTPEntity::WriteFile(Socket* s, unsigned long timeout) {
    uint64_t count = 0;
    if (!OpenForSending(&count)) return 0;
    if (count) s->SendFile(*file_, Offset, count, timeout);
    return 1;
}

int HTTPEntity::WriteBuffer(Socket* s, unsigned long timeout) {
    if (Type != EntityData) return 0;
    return s->Send(Data.data(), static_cast<int>(Data.size()), timeout) >= 0 ? 1 : 0;
}

int HTTPEntity::Write(Socket* s, unsigned long timeout) {
    switch (Type) {
        case EntityNone: return 1;
        case EntityFile:
        case EntityTemp: return WriteFile(s, timeout);
        case EntityData: return WriteBuffer(s, timeout);
        default: return 0;
    }
}
