#include "http/LetterCase.h"

#include <algorithm>

#include "http/Characters.h"

namespace {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // Most texts compared are equal as they stand (a client's "Keep-Alive",
    // a path's prefix): words that are equal pass at once, and the bytes
    // from the first word that is not are compared one by one.
    size_t i = 0;
    for (; i + 8 <= a.size(); i += 8)
        if (WordAt(a.data() + i) != WordAt(b.data() + i)) break;
    for (; i < a.size(); ++i) {
        // Most bytes are equal as they stand; only letters may differ in case.
        if (a[i] == b[i]) continue;
        const char lower = static_cast<char>(a[i] | 0x20);
        if (lower != (b[i] | 0x20) || lower < 'a' || lower > 'z') return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    for (size_t i = 0; i + part.size() <= text.size(); ++i)
        if (EqualNoCase(text.substr(i, part.size()), part)) return true;
    return false;
}

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

bool EqualSecret(std::string_view secret, std::string_view guess) {
    // Every byte of the longer text is visited and the differences are only
    // gathered, so the loop never ends early.
    unsigned difference = secret.size() == guess.size() ? 0u : 1u;
    const size_t length = std::max(secret.size(), guess.size());
    for (size_t i = 0; i < length; ++i) {
        const unsigned char a = i < secret.size() ? static_cast<unsigned char>(secret[i]) : 0;
        const unsigned char b = i < guess.size() ? static_cast<unsigned char>(guess[i]) : 0;
        difference |= a ^ b;
    }
    return difference == 0;
}

bool HasListToken(std::string_view list, std::string_view token) {
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        if (EqualNoCase(TrimBlanks(list.substr(start, comma - start)), token)) return true;
        start = comma + 1;
    }
    return false;
}
