// The choice of a content coding and of what is worth compressing: tables of
// named cases.
#include <gtest/gtest.h>

#include <string>

#include "http/ContentCoding.h"

namespace {

constexpr unsigned kAll = ContentCoding::Bit(Coding::Gzip) | ContentCoding::Bit(Coding::Brotli) |
                          ContentCoding::Bit(Coding::Zstd);
constexpr unsigned kGzipOnly = ContentCoding::Bit(Coding::Gzip);

struct ChoiceCase {
    const char* what;
    const char* accept;
    unsigned offered;
    Coding expected;
};

}  // namespace

TEST(ContentCoding, ChoiceFollowsQValuesThenZstdBrotliGzip) {
    const ChoiceCase cases[] = {
        {"a browser's list: a tie, zstd first", "gzip, deflate, br, zstd", kAll, Coding::Zstd},
        {"a tie without zstd: brotli", "gzip, br", kAll, Coding::Brotli},
        {"the higher q wins over the order", "zstd;q=0.5, br;q=0.8, gzip;q=0.9", kAll, Coding::Gzip},
        {"q with three decimals", "gzip;q=0.501, br;q=0.5", kAll, Coding::Gzip},
        {"blanks and letter case", " GZIP ; Q=1 ,BR;q=0.2", kAll, Coding::Gzip},
        {"only what is offered", "br, zstd, gzip;q=0.1", kGzipOnly, Coding::Gzip},
        {"nothing offered", "gzip", 0, Coding::Identity},
        {"q=0 refuses", "gzip;q=0, br;q=0", kAll, Coding::Identity},
        {"x-gzip is gzip", "x-gzip", kAll, Coding::Gzip},
        {"* offers every coding not named", "*, br;q=0", kAll, Coding::Zstd},
        {"* at a lower q loses to a named one", "*;q=0.1, gzip", kAll, Coding::Gzip},
        {"identity preferred over a coding", "identity, gzip;q=0.5", kAll, Coding::Identity},
        {"a coding at identity's q wins", "identity;q=0.5, gzip;q=0.5", kAll, Coding::Gzip},
        {"identity;q=0 with something to offer", "identity;q=0, gzip;q=0.1", kGzipOnly, Coding::Gzip},
        {"identity refused, nothing acceptable: identity still", "identity;q=0, br", kGzipOnly, Coding::Identity},
        {"unknown codings only", "deflate, compress", kAll, Coding::Identity},
        {"an unreadable q counts as 1", "gzip;q=x, br;q=0.9", kAll, Coding::Gzip},
    };
    for (const ChoiceCase& c : cases)
        EXPECT_EQ(ContentCoding::Choose(c.accept, c.offered), c.expected) << c.what << ": " << c.accept;
}

TEST(ContentCoding, CompressibleTypes) {
    for (const char* type : {"text/css", "text/html; charset=UTF-8", "application/javascript", "text/javascript",
                             "application/json", "application/ld+json", "application/xml", "image/svg+xml",
                             "application/wasm"})
        EXPECT_TRUE(ContentCoding::IsCompressible(type)) << type;
    for (const char* type : {"image/png", "application/zip", "application/octet-stream", "video/mp4", ""})
        EXPECT_FALSE(ContentCoding::IsCompressible(type)) << type;
}
