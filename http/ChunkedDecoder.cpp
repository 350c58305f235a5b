#include "http/ChunkedDecoder.h"

#include <algorithm>

#include "http/Characters.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
}

bool IsTokenChar(char c) { return IsToken(std::string_view(&c, 1)); }

// A byte a line of the coding may hold: printable, a tab, or any byte with
// the high bit set (text in a quoted extension value).
bool IsLineByte(char c) { return c == '\t' || !IsControlByte(static_cast<unsigned char>(c)); }

}  // namespace

ChunkedDecoder::Status ChunkedDecoder::Feed(std::string_view in, size_t* used, std::string* data) {
    size_t at = 0;
    while (at < in.size() && status_ == Status::More) {
        if (state_ == State::Data) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, in.size() - at));
            data->append(in.data() + at, take);
            TookData(take);
            at += take;
        } else {
            Step(in[at++]);
        }
    }
    *used = at;
    return status_;
}

void ChunkedDecoder::TookData(uint64_t count) {
    remaining_ -= std::min(count, remaining_);
    if (remaining_ == 0) state_ = State::DataCR;
}

ChunkedDecoder::Status ChunkedDecoder::Step(char c) {
    switch (state_) {
        case State::Size:
        case State::SizeBlank:
        case State::Extension:
            if (++lineBytes_ > kLongestSizeLine) return Fail();
            if (c == '\r') {
                if (digits_ == 0) return Fail();
                state_ = State::SizeLF;
            } else if (state_ == State::Size && HexValue(c) >= 0) {
                // A size that would pass 63 bits is no size this server can count.
                if (size_ > (static_cast<uint64_t>(INT64_MAX) >> 4)) return Fail();
                size_ = size_ << 4 | static_cast<uint64_t>(HexValue(c));
                ++digits_;
            } else if (digits_ == 0) {
                return Fail();
            } else if (state_ != State::Extension && (c == ' ' || c == '\t')) {
                state_ = State::SizeBlank;
            } else if (state_ != State::Extension && c == ';') {
                state_ = State::Extension;
            } else if (state_ != State::Extension || !IsLineByte(c)) {
                return Fail();
            }
            return status_;
        case State::SizeLF:
            if (c != '\n') return Fail();
            if (size_ == 0) {
                state_ = State::TrailerStart;
            } else {
                remaining_ = size_;
                state_ = State::Data;
            }
            size_ = 0;
            digits_ = lineBytes_ = 0;
            return status_;
        case State::Data: return Fail();  // data goes through Feed or TookData
        case State::DataCR:
            if (c != '\r') return Fail();
            state_ = State::DataLF;
            return status_;
        case State::DataLF:
            if (c != '\n') return Fail();
            state_ = State::Size;
            return status_;
        case State::TrailerStart:
            if (c == '\r') {
                state_ = State::FinalLF;
                return status_;
            }
            if (!IsTokenChar(c)) return Fail();
            state_ = State::TrailerName;
            break;
        case State::TrailerName:
            if (c == ':') state_ = State::TrailerValue;
            else if (!IsTokenChar(c)) return Fail();
            break;
        case State::TrailerValue:
            if (c == '\r') state_ = State::TrailerLF;
            else if (!IsLineByte(c)) return Fail();
            break;
        case State::TrailerLF:
            if (c != '\n') return Fail();
            state_ = State::TrailerStart;
            return status_;
        case State::FinalLF:
            if (c != '\n') return Fail();
            state_ = State::Over;
            return status_ = Status::Done;
        case State::Over: return status_;
    }
    if (++trailerBytes_ > kLargestTrailers) return Fail();
    return status_;
}
