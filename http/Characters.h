#pragma once
// What counts as a control byte, a printable byte and a blank in text that
// comes from a client or a script, for every place that checks it.

#include <string_view>

// A byte below 0x20, or DEL.
constexpr bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7f; }

// A byte outside printable ASCII (0x20..0x7E): a control byte, DEL, or
// any byte with the high bit set.
constexpr bool OutsidePrintable(unsigned char c) { return c < 0x20 || c > 0x7e; }

// The text without the spaces at its ends. Only spaces: the words of
// directives, credentials and Accept headers keep their tabs and line breaks.
inline std::string_view TrimSpaces(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}
