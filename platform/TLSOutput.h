#pragma once
// The write side of a TLS session whose records are encrypted here (no
// kernel TLS): the library writes its records into this object, which
// sends them on the socket, so that the session decides when bytes leave.
//
// Bytes that wait here always leave before, and in the same system call
// as, whatever is written next. While gathering, records wait until one
// more would not fit, or until Flush; the library's own flush requests are
// ignored, so a session ticket made at the end of a handshake can wait for
// the first answer instead of taking a send and a segment of its own.
//
// Owned by its session; used by one thread at a time, as the session is.

#include <cstddef>
#include <string>

namespace platform {

class TLSOutput {
public:
    // For the non-blocking socket descriptor fd, which it does not own.
    explicit TLSOutput(int fd) : fd_(fd) {}
    TLSOutput(const TLSOutput&) = delete;
    TLSOutput& operator=(const TLSOutput&) = delete;

    // A new BIO of the library that writes through this object, or null
    // (memory). Whoever takes it must free it before this object goes.
    void* MakeBio();

    // What waits leaves before each read of the library's BIO readBio (the
    // socket's read side), which must not outlive this object. While
    // awaiting (the session's word: what it sends now is a flight the peer
    // must answer before it can send anything), a read that follows such a
    // send is not made: it reports that the socket must become readable.
    void FlushBeforeReads(void* readBio, bool (*awaiting)(const void*), const void* session);
    bool AwaitingAnswer() const { return awaiting_ && awaiting_(session_); }

    // Records wait from now on while they fit in capacity bytes in all.
    // A capacity above kSmall is taken from memory at once.
    static constexpr size_t kSmall = 16384;
    void Gather(size_t capacity);
    // Records leave as they are written again (what waits goes with the
    // next one); the buffer is let go once nothing waits.
    void StopGathering();
    // Bytes written and not sent yet.
    size_t Waiting() const { return pending_.size() - sent_; }

    // Takes up to len bytes: what it took (> 0), 0 when the socket is full
    // and nothing was taken, -1 for a broken connection.
    long Put(const char* data, size_t len);
    // Sends what waits: 1 when all has left, 0 when the socket is full, -1
    // for a broken connection.
    long Flush();

private:
    void Sent(size_t n);
    int fd_;
    bool (*awaiting_)(const void*) = nullptr;
    const void* session_ = nullptr;
    bool gathering_ = false;
    size_t capacity_ = 0;
    std::string pending_;  // bytes waiting; the first sent_ of them have left
    size_t sent_ = 0;
};

}  // namespace platform
