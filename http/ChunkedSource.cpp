#include "http/ChunkedSource.h"

#include <algorithm>

long ChunkedSource::ReceiveSome(char* buffer, size_t len, unsigned long timeout) {
    if (len == 0) return 0;
    for (;;) {
        if (fault_ != Fault::None) return -1;
        if (decoder_.Current() == ChunkedDecoder::Status::Done) return 0;
        if (decoder_.InData()) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(decoder_.Wanted(), len));
            const long got = inner_.ReceiveSome(buffer, want, timeout);
            if (got <= 0) return Fail(Fault::Cut);
            decoder_.TookData(static_cast<uint64_t>(got));
            decoded_ += static_cast<uint64_t>(got);
            if (limit_ != 0 && decoded_ > limit_) return Fail(Fault::TooLarge);
            return got;
        }
        // Framing bytes are taken one at a time: the end of the body is
        // known only once it has come, and nothing after it may be taken.
        char c;
        if (inner_.ReceiveSome(&c, 1, timeout) != 1) return Fail(Fault::Cut);
        if (decoder_.Step(c) == ChunkedDecoder::Status::Bad) return Fail(Fault::Broken);
    }
}
