#pragma once
// A chunked request body as the bytes of its data: a ByteSource read from
// another (the connection) through a ChunkedDecoder. It never takes a byte
// past the end of the body, so that a request sent after it stays for the
// next read; it ends (0) once the body has, and fails (-1) when the
// coding is broken, the data passes a limit, or the connection closes or
// goes silent first; Fault says which.

#include <cstdint>

#include "http/ByteSource.h"
#include "http/ChunkedDecoder.h"

class ChunkedSource final : public ByteSource {
public:
    enum class Fault : uint8_t { None, Broken, TooLarge, Cut };

    // inner: where the coded bytes come from (not owned). limit: the most
    // data bytes taken (0: no limit).
    ChunkedSource(ByteSource& inner, uint64_t limit) : inner_(inner), limit_(limit) {}

    long ReceiveSome(char* buffer, size_t len, unsigned long timeout) override;
    // The go-ahead is the inner source's to send.
    bool Continue() override { return inner_.Continue(); }

    Fault Failure() const { return fault_; }
    // The data bytes received so far.
    uint64_t Decoded() const { return decoded_; }

private:
    long Fail(Fault fault) {
        fault_ = fault;
        return -1;
    }

    ByteSource& inner_;
    uint64_t limit_;
    ChunkedDecoder decoder_;
    uint64_t decoded_ = 0;
    Fault fault_ = Fault::None;
};
