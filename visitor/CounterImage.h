#pragma once
// The picture a visitor counter answers with: a number (or the word "Err")
// drawn in a blocky 5 by 7 font, light on dark, three screen pixels to a
// font pixel, as a two-colour GIF that every browser shows in an <IMG> tag.
// Pure functions: the same text always gives the same bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CounterImage {
public:
    // A picture of width by height pixels, row by row from the top; each
    // pixel is 0 (background) or 1 (ink).
    struct Bitmap {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> pixels;
    };
    struct Colour {
        uint8_t red, green, blue;
    };

    // Draws text: digits, "E" and "r"; any other character is drawn as a
    // blank of the same width. A margin of one font pixel surrounds the text
    // and one font pixel separates the characters.
    static Bitmap Draw(std::string_view text);
    // A GIF of the bitmap with the two colours (background, ink).
    static std::string Encode(const Bitmap& bitmap, Colour background, Colour ink);

    // The counter's picture: the count in decimal, white on black.
    static std::string ForCount(uint32_t count);
    // The picture that says the counter could not be shown: "Err", red on black.
    static std::string ForError();
};
