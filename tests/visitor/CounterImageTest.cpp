// The counter's picture: the bitmap it draws, and a GIF that decodes back
// to exactly that bitmap.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "visitor/CounterImage.h"

namespace {

// A GIF decoder written from the format, independent of the encoder: the
// screen size, the two-colour table and the pixels of the one image.
struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::string palette;
    std::vector<uint8_t> pixels;
};

int Word(const std::string& g, size_t at) {
    return static_cast<uint8_t>(g[at]) | (static_cast<uint8_t>(g[at + 1]) << 8);
}

Decoded DecodeGif(const std::string& gif) {
    Decoded d;
    if (gif.size() < 13 + 6 + 10 + 2 || gif.compare(0, 6, "GIF87a") != 0) return d;
    d.width = Word(gif, 6);
    d.height = Word(gif, 8);
    if (static_cast<uint8_t>(gif[10]) != 0x80) return d;
    d.palette = gif.substr(13, 6);
    size_t at = 19;
    if (gif[at] != ',' || Word(gif, at + 5) != d.width || Word(gif, at + 7) != d.height || gif[at + 9] != 0) return d;
    at += 10;
    const int minCodeSize = gif[at++];
    std::string data;
    while (at < gif.size() && gif[at] != 0) {
        const size_t length = static_cast<uint8_t>(gif[at]);
        data.append(gif, at + 1, length);
        at += 1 + length;
    }
    if (at + 2 != gif.size() || gif[at + 1] != ';') return d;

    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    std::vector<std::vector<uint8_t>> table;
    auto reset = [&] {
        table.clear();
        for (unsigned i = 0; i < clear + 2; ++i) table.push_back({static_cast<uint8_t>(i)});
    };
    reset();
    int width = minCodeSize + 1;
    size_t bit = 0;
    int previous = -1;
    for (;;) {
        if (bit + static_cast<size_t>(width) > data.size() * 8) return d;
        unsigned code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((static_cast<uint8_t>(data[bit / 8]) >> (bit % 8)) & 1u) << i;
        if (code == clear) {
            reset();
            width = minCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == end) break;
        std::vector<uint8_t> entry;
        if (code < table.size()) {
            entry = table[code];
        } else if (code == table.size() && previous >= 0) {
            entry = table[static_cast<size_t>(previous)];
            entry.push_back(entry[0]);
        } else {
            return d;
        }
        d.pixels.insert(d.pixels.end(), entry.begin(), entry.end());
        if (previous >= 0 && table.size() < 4096) {
            std::vector<uint8_t> added = table[static_cast<size_t>(previous)];
            added.push_back(entry[0]);
            table.push_back(added);
        }
        if (table.size() == (1u << width) && width < 12) ++width;
        previous = static_cast<int>(code);
    }
    d.ok = d.pixels.size() == static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
    return d;
}

std::string Rows(const CounterImage::Bitmap& b, int scale) {
    std::string rows;
    for (int y = 0; y < b.height; y += scale) {
        for (int x = 0; x < b.width; x += scale)
            rows += b.pixels[static_cast<size_t>(y) * static_cast<size_t>(b.width) + static_cast<size_t>(x)] ? '#'
                                                                                                              : '.';
        rows += '\n';
    }
    return rows;
}

}  // namespace

TEST(CounterImage, SizeGrowsWithTheDigits) {
    struct Case {
        uint32_t count;
        int width;
    } const cases[] = {{0, 21}, {7, 21}, {42, 39}, {1002, 75}, {4294967295u, 183}};
    for (const Case& c : cases) {
        const CounterImage::Bitmap b = CounterImage::Draw(std::to_string(c.count));
        EXPECT_EQ(b.width, c.width) << c.count;
        EXPECT_EQ(b.height, 27) << c.count;
        const Decoded gif = DecodeGif(CounterImage::ForCount(c.count));
        ASSERT_TRUE(gif.ok) << c.count;
        EXPECT_EQ(gif.width, b.width) << c.count;
        EXPECT_EQ(gif.pixels, b.pixels) << c.count;
        EXPECT_EQ(gif.palette, std::string("\0\0\0\xff\xff\xff", 6)) << "white on black";
    }
}

TEST(CounterImage, GlyphsStandUprightWithAMargin) {
    EXPECT_EQ(Rows(CounterImage::Draw("17"), 3),
              ".............\n"
              "...#...#####.\n"
              "..##.......#.\n"
              "...#......#..\n"
              "...#.....#...\n"
              "...#....#....\n"
              "...#....#....\n"
              "..###...#....\n"
              ".............\n");
    // Every digit looks different from every other, and the error word from all.
    std::vector<std::string> seen;
    for (const char* text : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "Err"}) {
        const std::string rows = Rows(CounterImage::Draw(text), 3);
        for (const std::string& other : seen) EXPECT_NE(rows, other) << text;
        seen.push_back(rows);
    }
}

TEST(CounterImage, EncoderRestartsItsFullTable) {
    // Noise fills the 4096-code table several times over.
    CounterImage::Bitmap noise;
    noise.width = 300;
    noise.height = 200;
    uint32_t state = 12345;
    for (int i = 0; i < noise.width * noise.height; ++i) {
        state = state * 1103515245u + 12345u;
        noise.pixels.push_back(static_cast<uint8_t>((state >> 16) & 1));
    }
    const Decoded gif = DecodeGif(CounterImage::Encode(noise, {1, 2, 3}, {4, 5, 6}));
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.pixels, noise.pixels);
    EXPECT_EQ(gif.palette, std::string("\1\2\3\4\5\6", 6));

    const Decoded error = DecodeGif(CounterImage::ForError());
    ASSERT_TRUE(error.ok);
    EXPECT_EQ(error.pixels, CounterImage::Draw("Err").pixels);
}
