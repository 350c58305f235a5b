#include "net/InputBuffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/Socket.h"

namespace {

// Storage of the usual size given back by idle connections, kept for the
// next connection of the same thread that needs some. Every kept-alive
// connection gives its storage back after each answer, so a loop serving a
// batch of many connections frees that many at its end. Too few kept there,
// and the rest went back to the allocator, whose heap top was handed back to
// the system and faulted in afresh by the next batch: half a page fault per
// request at 64 connections. A loop keeps up to kLoopSpare and drops them
// all when it goes quiet; any other thread (a worker, whose connections end
// there now and then) keeps none, as it never drops them.
constexpr size_t kLoopSpare = 256;
thread_local size_t mostSpare = 0;
thread_local std::vector<std::unique_ptr<char[]>> spare;

std::unique_ptr<char[]> TakeUsual() {
    if (spare.empty()) return std::unique_ptr<char[]>(new char[InputBuffer::kUsualSize]);
    std::unique_ptr<char[]> storage = std::move(spare.back());
    spare.pop_back();
    return storage;
}

}  // namespace

InputBuffer::~InputBuffer() {
    Clear();
    Release();
}

void InputBuffer::Consume(size_t n) {
    start_ += std::min(n, end_ - start_);
    if (start_ == end_) start_ = end_ = 0;
}

long InputBuffer::ReceiveFrom(Socket& s) {
    if (!storage_) {
        storage_ = TakeUsual();
        capacity_ = kUsualSize;
    }
    if (start_ > 0) {
        std::memmove(storage_.get(), storage_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (end_ == capacity_) return -1;
    const long n = s.ReceiveNow(storage_.get() + end_, capacity_ - end_);
    if (n > 0) end_ += static_cast<size_t>(n);
    return n;
}

void InputBuffer::Grow(size_t capacity) {
    if (capacity <= capacity_) return;
    std::unique_ptr<char[]> larger(new char[capacity]);
    const size_t count = end_ - start_;
    if (count > 0) std::memcpy(larger.get(), storage_.get() + start_, count);
    if (storage_ && capacity_ == kUsualSize && spare.size() < mostSpare) spare.push_back(std::move(storage_));
    storage_ = std::move(larger);
    capacity_ = capacity;
    start_ = 0;
    end_ = count;
}

void InputBuffer::Release() {
    if (!storage_ || start_ != end_) return;
    if (capacity_ == kUsualSize && spare.size() < mostSpare) spare.push_back(std::move(storage_));
    storage_.reset();
    capacity_ = 0;
    start_ = end_ = 0;
}

void InputBuffer::KeepSpare() { mostSpare = kLoopSpare; }

void InputBuffer::DropSpare() {
    spare.clear();
    spare.shrink_to_fit();
}
