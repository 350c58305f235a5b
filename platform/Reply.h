#pragma once
// The bytes of one answer as a connection sends them: a head and a body
// that is held in memory, shared with a cache, or sent from an open file.
// It names bytes only, so the message model composes it and the socket layer
// sends it without either knowing the other.
// Sending it is resumable: a non-blocking send that stops part-way records
// how far it came, and the next call goes on from there.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class File;

class Reply {
public:
    std::string head;  // status line and headers; empty for an answer that is a body alone
    std::string text;  // a body held in memory
    std::shared_ptr<const std::string> shared;  // a body shared with another owner (not copied)
    std::shared_ptr<const File> file;  // a body sent from a file...
    uint64_t fileOffset = 0;                     // ...from this byte...
    uint64_t fileCount = 0;                      // ...this many bytes

    // Everything back to an empty answer.
    void Clear();
    // The bytes of the answer, and how many have left so far.
    uint64_t Size() const;
    uint64_t Sent() const { return sent_; }
    bool Done() const { return sent_ >= Size(); }

    // The body held in memory (text or shared).
    std::string_view Memory() const { return shared ? std::string_view(*shared) : std::string_view(text); }
    // Records that n more bytes left.
    void Advance(uint64_t n) { sent_ += n; }

private:
    uint64_t sent_ = 0;
};

}  // namespace platform
