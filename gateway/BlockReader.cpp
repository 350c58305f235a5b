#include "gateway/BlockReader.h"

#include <algorithm>
#include <cstring>

BlockReader::BlockReader(size_t blockSize) : blockSize_(std::clamp<size_t>(blockSize, 1, kBlockSize)) {}

bool BlockReader::Open(std::string_view path, uint64_t offset) {
    held_ = nullptr;
    if (!file_.Open(path, platform::File::Mode::Read)) return false;
    if (offset && !file_.Seek(offset)) return false;
    file_.AdviseSequential();
    size_ = file_.SizeAtOpen();
    base_ = offset;
    pos_ = end_ = 0;
    return true;
}

bool BlockReader::Open(const platform::File& file, uint64_t offset) {
    file_.Close();
    fromMemory_ = false;
    if (!file.IsOpen()) return false;
    held_ = &file;
    readAt_ = offset;
    size_ = file.Size();
    base_ = offset;
    pos_ = end_ = 0;
    return true;
}

void BlockReader::Assign(std::string_view text) {
    file_.Close();
    held_ = nullptr;
    memory_ = text;
    fromMemory_ = true;
    size_ = static_cast<int64_t>(text.size());
    base_ = pos_ = end_ = 0;
}

bool BlockReader::Refill() {
    const size_t keep = end_ > 0 ? 1 : 0;
    if (keep) buffer_[0] = buffer_[end_ - 1];
    base_ += end_ - keep;
    pos_ = end_ = keep;
    long n = 0;
    if (fromMemory_) {
        n = static_cast<long>(std::min(blockSize_, memory_.size()));
        std::memcpy(buffer_ + keep, memory_.data(), static_cast<size_t>(n));
        memory_.remove_prefix(static_cast<size_t>(n));
    } else if (held_) {
        n = held_->ReadAt(readAt_, buffer_ + keep, blockSize_);
        if (n > 0) readAt_ += static_cast<uint64_t>(n);
    } else if (file_.IsOpen()) {
        n = file_.Read(buffer_ + keep, blockSize_);
    }
    if (n <= 0) return false;
    end_ += static_cast<size_t>(n);
    return true;
}

bool BlockReader::CopyUntil(char stop, std::string* out) {
    for (;;) {
        if (pos_ == end_ && !Refill()) return false;
        const char* start = buffer_ + pos_;
        const size_t available = end_ - pos_;
        if (const void* hit = std::memchr(start, stop, available)) {
            const size_t length = static_cast<size_t>(static_cast<const char*>(hit) - start);
            out->append(start, length);
            pos_ += length + 1;
            return true;
        }
        out->append(start, available);
        pos_ = end_;
    }
}

bool BlockReader::ReadLine(std::string* line, size_t max) {
    line->clear();
    while (line->size() < max) {
        if (pos_ == end_ && !Refill()) break;
        const char* start = buffer_ + pos_;
        const size_t available = std::min(end_ - pos_, max - line->size());
        const void* feed = std::memchr(start, '\n', available);
        const size_t take = feed ? static_cast<size_t>(static_cast<const char*>(feed) - start) + 1 : available;
        line->append(start, take);
        pos_ += take;
        if (feed) break;
    }
    return !line->empty();
}
