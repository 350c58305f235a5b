#include "zazezere/InputBuffer.h"

#include "platform/Signals.h"

InputBuffer::int_type InputBuffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const long count = platform::ReadStandardInput(buffer_, sizeof buffer_);
    if (count <= 0) return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + count);
    return traits_type::to_int_type(*gptr());
}
