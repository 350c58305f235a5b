// The Range header reader: what it answers, and what it ignores. (The edges
// of each form are tested end to end, through a server.)
#include <gtest/gtest.h>

#include "pipeline/ByteRange.h"

namespace {

struct Case {
    const char* name;
    const char* header;
    uint64_t size;
    ByteRange::Outcome result;
    uint64_t first;
    uint64_t count;
};

constexpr ByteRange::Outcome W = ByteRange::Whole;
constexpr ByteRange::Outcome P = ByteRange::Part;
constexpr ByteRange::Outcome U = ByteRange::Unsatisfiable;

const Case kCases[] = {
    {"from the start", "bytes=0-", 10, P, 0, 10},
    {"suffix", "bytes=-3", 10, P, 7, 3},
    {"empty suffix", "bytes=-0", 10, U, 0, 0},
    {"first past the end", "bytes=10-20", 10, U, 0, 0},
    {"suffix of an empty document", "bytes=-1", 0, U, 0, 0},
    {"unit without case", "Bytes=2-3", 10, P, 2, 2},
    {"blanks after = and at the end", "bytes= 2-3 ", 10, P, 2, 2},
    {"huge first", "bytes=99999999999999999999999-", 10, U, 0, 0},
    {"huge last", "bytes=1-99999999999999999999999", 10, P, 1, 9},
    {"huge suffix", "bytes=-99999999999999999999999", 10, P, 0, 10},
    {"last before first", "bytes=3-2", 10, W, 0, 0},
    {"several ranges", "bytes=0-1,3-4", 10, W, 0, 0},
    {"a trailing comma", "bytes=0-1,", 10, W, 0, 0},
    {"another unit", "items=0-1", 10, W, 0, 0},
    {"no equals sign", "bytes 0-1", 10, W, 0, 0},
    {"nothing after =", "bytes=", 10, W, 0, 0},
    {"a dash alone", "bytes=-", 10, W, 0, 0},
    {"no dash", "bytes=1", 10, W, 0, 0},
    {"letters", "bytes=a-b", 10, W, 0, 0},
    {"a sign", "bytes=+1-2", 10, W, 0, 0},
    {"negative last", "bytes=1--2", 10, W, 0, 0},
    {"junk after the last", "bytes=1-2x", 10, W, 0, 0},
    {"blank inside", "bytes=1 -2", 10, W, 0, 0},
};

TEST(ByteRange, FormsAndEdges) {
    for (const Case& c : kCases) {
        const ByteRange range = ByteRange::Parse(c.header, c.size);
        EXPECT_EQ(range.Result, c.result) << c.name;
        if (c.result == ByteRange::Part) {
            EXPECT_EQ(range.First, c.first) << c.name;
            EXPECT_EQ(range.Count, c.count) << c.name;
        }
    }
}

}  // namespace
