#include "visitor/CounterImage.h"

#include <array>

namespace {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kScale = 3;

struct Glyph {
    char character;
    const char* rows[kGlyphHeight];
};

// '#' is ink.
constexpr Glyph kFont[] = {
    {'0', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont)
        if (g.character == c) return &g;
    return nullptr;
}

// Codes go out least significant bit first, packed into bytes.
class BitWriter {
public:
    void Put(unsigned code, int width) {
        pending_ |= static_cast<uint32_t>(code) << pendingBits_;
        pendingBits_ += width;
        while (pendingBits_ >= 8) {
            bytes_.push_back(static_cast<char>(pending_ & 0xff));
            pending_ >>= 8;
            pendingBits_ -= 8;
        }
    }
    std::string Finish() {
        if (pendingBits_ > 0) bytes_.push_back(static_cast<char>(pending_ & 0xff));
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    uint32_t pending_ = 0;
    int pendingBits_ = 0;
};

// Variable-width LZW as GIF decoders expect it: a clear code first, the
// code width growing with the table, a clear code and a fresh table when the
// table is full at 4096 codes, and the end code last.
std::string CompressPixels(const std::vector<uint8_t>& pixels, int minCodeSize) {
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    constexpr unsigned kMaxCodes = 4096;
    // children[code][pixel]: the code of the string code followed by pixel, 0 for none.
    std::vector<std::array<uint16_t, 4>> children(kMaxCodes);
    BitWriter out;
    int width = minCodeSize + 1;
    unsigned next = end + 1;
    out.Put(clear, width);
    if (pixels.empty()) {
        out.Put(end, width);
        return out.Finish();
    }
    unsigned prefix = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        const uint8_t pixel = pixels[i];
        if (const uint16_t child = children[prefix][pixel]) {
            prefix = child;
            continue;
        }
        out.Put(prefix, width);
        if (next < kMaxCodes) {
            if (next == (1u << width)) ++width;
            children[prefix][pixel] = static_cast<uint16_t>(next++);
        } else {
            out.Put(clear, width);
            for (auto& c : children) c.fill(0);
            width = minCodeSize + 1;
            next = end + 1;
        }
        prefix = pixel;
    }
    out.Put(prefix, width);
    out.Put(end, width);
    return out.Finish();
}

void PutWord(std::string* out, int value) {
    out->push_back(static_cast<char>(value & 0xff));
    out->push_back(static_cast<char>((value >> 8) & 0xff));
}

void PutColour(std::string* out, CounterImage::Colour c) {
    out->push_back(static_cast<char>(c.red));
    out->push_back(static_cast<char>(c.green));
    out->push_back(static_cast<char>(c.blue));
}

}  // namespace

CounterImage::Bitmap CounterImage::Draw(std::string_view text) {
    const int columns = static_cast<int>(text.size()) * (kGlyphWidth + 1) + 1;
    const int rows = kGlyphHeight + 2;
    Bitmap bitmap;
    bitmap.width = columns * kScale;
    bitmap.height = rows * kScale;
    bitmap.pixels.assign(static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height), 0);
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = FindGlyph(text[i]);
        if (!glyph) continue;
        const int left = 1 + static_cast<int>(i) * (kGlyphWidth + 1);
        for (int y = 0; y < kGlyphHeight; ++y)
            for (int x = 0; x < kGlyphWidth; ++x) {
                if (glyph->rows[y][x] != '#') continue;
                for (int dy = 0; dy < kScale; ++dy)
                    for (int dx = 0; dx < kScale; ++dx) {
                        const int px = (left + x) * kScale + dx;
                        const int py = (1 + y) * kScale + dy;
                        bitmap.pixels[static_cast<size_t>(py) * static_cast<size_t>(bitmap.width) +
                                      static_cast<size_t>(px)] = 1;
                    }
            }
    }
    return bitmap;
}

std::string CounterImage::Encode(const Bitmap& bitmap, Colour background, Colour ink) {
    // Two colours need the smallest code size GIF allows.
    constexpr int kMinCodeSize = 2;
    std::string gif = "GIF87a";
    PutWord(&gif, bitmap.width);
    PutWord(&gif, bitmap.height);
    gif.push_back(static_cast<char>(0x80));  // a global table of two colours
    gif.push_back(0);                        // background: colour 0
    gif.push_back(0);                        // square pixels
    PutColour(&gif, background);
    PutColour(&gif, ink);
    gif.push_back(',');  // the image, covering the whole screen, not interlaced
    PutWord(&gif, 0);
    PutWord(&gif, 0);
    PutWord(&gif, bitmap.width);
    PutWord(&gif, bitmap.height);
    gif.push_back(0);
    gif.push_back(static_cast<char>(kMinCodeSize));
    const std::string data = CompressPixels(bitmap.pixels, kMinCodeSize);
    for (size_t at = 0; at < data.size(); at += 255) {
        const size_t length = std::min<size_t>(255, data.size() - at);
        gif.push_back(static_cast<char>(length));
        gif.append(data, at, length);
    }
    gif.push_back(0);    // the end of the image data
    gif.push_back(';');  // the end of the file
    return gif;
}

std::string CounterImage::ForCount(uint32_t count) {
    return Encode(Draw(std::to_string(count)), {0, 0, 0}, {255, 255, 255});
}

std::string CounterImage::ForError() { return Encode(Draw("Err"), {0, 0, 0}, {255, 64, 64}); }
