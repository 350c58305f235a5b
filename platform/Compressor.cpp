#include "platform/Compressor.h"

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

namespace platform {

namespace {

// Levels near the top of each library's range, but short of those whose
// cost grows far faster than their gain: a 400 KiB script takes a few
// tens of milliseconds, once per change of the file.
constexpr int kGzipLevel = 9;
constexpr int kBrotliQuality = 9;
constexpr int kZstdLevel = 15;
// zlib's window bits plus 16: the gzip wrapper rather than the zlib one.
constexpr int kGzipWindow = 15 + 16;

bool Gzip(std::string_view input, std::string* output) {
    z_stream stream{};
    if (deflateInit2(&stream, kGzipLevel, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    output->resize(deflateBound(&stream, static_cast<uLong>(input.size())));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(output->data());
    stream.avail_out = static_cast<uInt>(output->size());
    const int result = deflate(&stream, Z_FINISH);
    output->resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

bool Brotli(std::string_view input, std::string* output) {
    size_t size = BrotliEncoderMaxCompressedSize(input.size());
    if (size == 0) return false;
    output->resize(size);
    const bool done = BrotliEncoderCompress(kBrotliQuality, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, input.size(),
                                            reinterpret_cast<const uint8_t*>(input.data()), &size,
                                            reinterpret_cast<uint8_t*>(output->data())) == BROTLI_TRUE;
    output->resize(done ? size : 0);
    return done;
}

bool Zstd(std::string_view input, std::string* output) {
    output->resize(ZSTD_compressBound(input.size()));
    const size_t size = ZSTD_compress(output->data(), output->size(), input.data(), input.size(), kZstdLevel);
    const bool done = !ZSTD_isError(size);
    output->resize(done ? size : 0);
    return done;
}

}  // namespace

bool Compress(Coding coding, std::string_view input, std::string* output) {
    output->clear();
    // zlib counts in 32 bits; documents this large are never compressed.
    if (input.size() > 0xffffffffu) return false;
    bool done = false;
    switch (coding) {
        case Coding::Gzip: done = Gzip(input, output); break;
        case Coding::Brotli: done = Brotli(input, output); break;
        case Coding::Zstd: done = Zstd(input, output); break;
        case Coding::Identity: break;
    }
    if (!done) output->clear();
    // The output was sized for the worst case; copies are kept (a cache
    // bounds them by their size), so they hold their bytes and no more.
    output->shrink_to_fit();
    return done;
}

}  // namespace platform
