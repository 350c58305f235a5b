#pragma once
// The one byte range a Range header asks of a document. Only a single range
// in one of the forms "bytes=a-b", "bytes=a-" and "bytes=-n" is answered;
// several ranges, another unit or a header that does not parse leave the
// whole document, which the standard allows a server to send instead.

#include <cstdint>
#include <string_view>

class ByteRange {
public:
    enum Outcome {
        Whole,          // ignore the header: the whole document with its usual status
        Part,           // First and Count name a satisfiable part
        Unsatisfiable,  // the range starts at or past the end (or asks for no byte at all)
    };

    Outcome Result = Whole;
    uint64_t First = 0;  // the first byte of the part
    uint64_t Count = 0;  // the number of bytes of the part, at least 1

    // Reads the value of a Range header against a document of size bytes.
    // The unit "bytes" is compared without case; blanks may follow the "="
    // and end the value. A last position past the end is taken as the end, a
    // suffix longer than the document as the whole document, and numbers too
    // large for 64 bits as that largest number. "bytes=-0", and any range of
    // an empty document, are unsatisfiable.
    static ByteRange Parse(std::string_view header, uint64_t size);
};
