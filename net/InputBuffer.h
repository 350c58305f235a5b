#pragma once
// The bytes a connection has received and not used yet. The socket only
// moves bytes into it; what they mean (where a request head ends, how long
// a body is) is for the server that reads them. Most heads fit its usual
// size, which comes from a per-thread pool: a kept-alive connection gives
// its storage back between requests, and a busy loop would otherwise
// allocate and free it once per request. A head that needs more room may
// grow it once, and the grown storage is freed when the connection idles.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class Socket;

class InputBuffer {
public:
    // The usual size: a request head of this many bytes is read at once.
    static constexpr size_t kUsualSize = 16384;

    InputBuffer() = default;
    ~InputBuffer();
    InputBuffer(const InputBuffer&) = delete;
    InputBuffer& operator=(const InputBuffer&) = delete;

    // What has arrived and is not used yet.
    std::string_view Bytes() const { return {storage_.get() + start_, end_ - start_}; }
    bool Empty() const { return start_ == end_; }
    // True when no receive fits before some bytes are used or it grows.
    bool Full() const { return end_ - start_ == capacity_ && capacity_ != 0; }
    size_t Capacity() const { return capacity_; }

    // The first n bytes are used (at most what is there).
    void Consume(size_t n);
    // Forgets every byte.
    void Clear() { start_ = end_ = 0; }
    // One receive from s appended to what is here (moving that to the
    // front first), without waiting. Bytes received; 0 when the peer has
    // closed; -1 when nothing came (s.LastError says why: 10035 when the
    // socket has nothing yet) or when the buffer is Full (no receive made).
    long ReceiveFrom(Socket& s);
    // Makes room for capacity bytes in all, keeping what is here. Never
    // shrinks.
    void Grow(size_t capacity);
    // Gives the storage back when nothing is left in it, so that an idle
    // connection holds none.
    void Release();
    // The calling thread (a loop, which calls DropSpare when quiet) keeps
    // the storage its connections give back for reuse; other threads keep
    // none.
    static void KeepSpare();
    // Frees the storage that connections of the calling thread gave back
    // for reuse (a quiet loop keeps none).
    static void DropSpare();

private:
    std::unique_ptr<char[]> storage_;
    size_t capacity_ = 0;
    size_t start_ = 0;
    size_t end_ = 0;
};
