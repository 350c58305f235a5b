#pragma once
// Decodes a request body sent in the chunked transfer coding, as its bytes
// arrive: chunk-size lines (hexadecimal, extensions read and dropped), the
// data of each chunk, the last chunk of size 0 and the trailer lines after
// it, which are read and dropped. The grammar is kept strictly, since a
// front proxy that reads a body otherwise than this server could slip a
// request past itself: every line ends in CR LF, a size has hexadecimal
// digits only and fits in 63 bits, data is followed by CR LF, and a line
// holds no control byte but a tab.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ChunkedDecoder {
public:
    enum class Status : uint8_t {
        More,  // the body goes on
        Done,  // the empty line after the last chunk (and its trailers) came
        Bad,   // the bytes break the grammar or its bounds
    };

    // The longest chunk-size line (extensions included) and the most bytes
    // of trailer lines, each without its CR LF.
    static constexpr size_t kLongestSizeLine = 4096;
    static constexpr size_t kLargestTrailers = 65536;

    Status Current() const { return status_; }
    // True while the next bytes are chunk data (Wanted of them at most).
    bool InData() const { return state_ == State::Data; }
    // How many bytes may be fed next without passing the end of the body:
    // what is left of the chunk's data, else 1 (a framing byte).
    uint64_t Wanted() const { return state_ == State::Data ? remaining_ : 1; }

    // Decodes bytes from the start of in, up to the end of the body or the
    // first byte that breaks it: *used says how many were taken, and the
    // data among them is appended to *data.
    Status Feed(std::string_view in, size_t* used, std::string* data);
    // count bytes of chunk data have been taken by the caller itself (at
    // most Wanted, while InData).
    void TookData(uint64_t count);
    // One framing byte (not InData).
    Status Step(char c);

private:
    enum class State : uint8_t {
        Size,        // hexadecimal digits of a chunk size
        SizeBlank,   // blanks after the size, before a ';'
        Extension,   // a chunk extension, up to the CR
        SizeLF,      // the LF of the size line
        Data,        // chunk data
        DataCR,      // the CR after chunk data
        DataLF,      // its LF
        TrailerStart,  // the start of a trailer line, or of the final CR LF
        TrailerName,   // a trailer field's name
        TrailerValue,  // its value
        TrailerLF,     // the LF of a trailer line
        FinalLF,       // the LF of the empty line that ends the body
        Over,
    };
    Status Fail() {
        state_ = State::Over;
        return status_ = Status::Bad;
    }

    State state_ = State::Size;
    Status status_ = Status::More;
    uint64_t size_ = 0;       // the chunk size being read
    size_t digits_ = 0;       // its digits so far
    size_t lineBytes_ = 0;    // bytes of the size line so far
    size_t trailerBytes_ = 0;  // bytes of trailer lines so far
    uint64_t remaining_ = 0;  // data bytes left of the chunk
};
