#pragma once
// Reads a file, or a text held in memory, from front to back through one
// buffer, so that the gateways scan script output, form bodies and pages a
// block at a time (a memchr over the buffer) instead of a call per byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/File.h"

class BlockReader {
public:
    static constexpr size_t kBlockSize = 8192;

    // blockSize: the bytes fetched per refill, 1 to kBlockSize. Small blocks
    // put block edges everywhere, for tests and the fuzzer.
    explicit BlockReader(size_t blockSize = kBlockSize);
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // Reads the file at path (a server path) from offset on. False when it
    // cannot be opened or positioned.
    bool Open(std::string_view path, uint64_t offset = 0);
    // Reads a file the caller holds open (and keeps open while reading),
    // from offset on, by position: the file's own position is left alone.
    bool Open(const platform::File& file, uint64_t offset = 0);
    // Reads text instead of a file; the text must outlive the reader.
    void Assign(std::string_view text);
    // The size of the opened file when it was opened (the length of an
    // assigned text); -1 when there is neither.
    int64_t SizeAtOpen() const { return size_; }

    // The next byte (0 to 255), or -1 at the end.
    int Get() { return pos_ < end_ || Refill() ? static_cast<unsigned char>(buffer_[pos_++]) : -1; }
    // The next byte without taking it, or -1 at the end.
    int Peek() { return pos_ < end_ || Refill() ? static_cast<unsigned char>(buffer_[pos_]) : -1; }
    // Puts back the last byte taken (by Get, or the stop byte of CopyUntil),
    // also after a Peek in between. One byte only, and only after a take.
    void Unget() { --pos_; }

    // Appends the bytes before the next stop byte to *out and takes the stop
    // byte as well. False when the end came first: *out then has every byte
    // that was left.
    bool CopyUntil(char stop, std::string* out);
    // Reads a line the way a C stream reads into a buffer of max + 1 bytes:
    // at most max bytes, ending after a line feed, which stays in *line.
    // False at the end, when nothing was left to read.
    bool ReadLine(std::string* line, size_t max);
    // The offset of the next byte from the start of the file (or text).
    uint64_t Position() const { return base_ + pos_; }

private:
    // Fetches the next block; the last byte of the previous one stays in
    // front of it so that Unget always has a byte to put back.
    bool Refill();

    platform::File file_;
    const platform::File* held_ = nullptr;  // the caller's file, read at readAt_
    uint64_t readAt_ = 0;
    std::string_view memory_;  // what is left of an assigned text
    bool fromMemory_ = false;
    size_t blockSize_;
    size_t pos_ = 0;     // next byte in buffer_
    size_t end_ = 0;     // end of the bytes in buffer_
    uint64_t base_ = 0;  // offset of buffer_[0] in the file
    int64_t size_ = -1;
    char buffer_[kBlockSize + 1];
};
