#pragma once
// What counts as a control byte, a printable byte and a blank in text that
// comes from a client or a script, for every place that checks it.

#include <cstdint>
#include <cstring>
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

// The text without the blanks (spaces and tabs) at its ends: HTTP's
// optional white space around values and parameters.
inline std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// True when text is an HTTP token: one or more letters, digits or
// !#$%&'*+-.^_`|~ (so it can stand in a header unquoted).
inline bool IsToken(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool alnum = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
        if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) return false;
    }
    return true;
}

// Text searched eight bytes at a time: the word at at (any alignment), and
// the high bit of each byte of word that may be zero. Only a byte above a
// zero one can be marked wrongly (by the borrow), so no mark means no zero
// byte, and the lowest mark is exact.
inline uint64_t WordAt(const char* at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}
constexpr uint64_t kByteOnes = 0x0101010101010101ULL;
constexpr uint64_t kByteHighs = 0x8080808080808080ULL;
constexpr uint64_t ZeroBytes(uint64_t word) { return (word - kByteOnes) & ~word & kByteHighs; }
