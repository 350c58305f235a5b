#include "http/HeaderString.h"

#include <cstdint>
#include <cstring>

const char* const HeaderString[Hdr::Count] = {
#define VAREVAVO_HEADER_NAME(id, text) text,
    VAREVAVO_HEADER_TABLE(VAREVAVO_HEADER_NAME)
#undef VAREVAVO_HEADER_NAME
};

namespace {

// The names with their lengths, from the one table, so that a lookup
// compares only names of the right length.
constexpr std::string_view kNames[Hdr::Count] = {
#define VAREVAVO_HEADER_VIEW(id, text) text,
    VAREVAVO_HEADER_TABLE(VAREVAVO_HEADER_VIEW)
#undef VAREVAVO_HEADER_VIEW
};

// Each name as a lookup compares it: its letters in lower case, and a mask
// with 0x20 where a letter stands, so that (byte | mask) == lower accepts
// a letter in either case and anything else only as written. Both are
// padded to kLongest + 1 bytes so that a word load never reads past them.
struct FoldedName {
    char lower[32];
    char mask[32];
};

// The names by length and first letter, in table order, so that a lookup
// compares at most the few names that could match.
struct NameBuckets {
    static constexpr size_t kLongest = 31;
    static constexpr int kDepth = 4;
    signed char index[kLongest + 1][26][kDepth];
    FoldedName folded[Hdr::Count];

    constexpr NameBuckets() : index{}, folded{} {
        for (auto& byLength : index)
            for (auto& bucket : byLength)
                for (signed char& slot : bucket) slot = -1;
        for (int i = 0; i < Hdr::Count; ++i) {
            signed char* bucket = index[kNames[i].size()][Letter(kNames[i][0])];
            int depth = 0;
            while (bucket[depth] >= 0) ++depth;
            bucket[depth] = static_cast<signed char>(i);
            for (size_t k = 0; k < kNames[i].size(); ++k) {
                const char c = kNames[i][k];
                const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
                folded[i].lower[k] = letter ? static_cast<char>(c | 0x20) : c;
                folded[i].mask[k] = letter ? 0x20 : 0;
            }
        }
    }
    static constexpr int Letter(char c) { return (c | 0x20) - 'a'; }
};
constexpr NameBuckets kBuckets;

template <typename Word>
inline Word Load(const char* at) {
    Word word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Whether the bytes at at match the folded name over size bytes, a word at
// a time: the last word overlaps the one before it rather than reading
// past the name (the request buffer may end right after it).
template <typename Word>
inline bool MatchWords(const char* at, size_t size, const FoldedName& name) {
    const auto same = [&](size_t k) {
        return (Load<Word>(at + k) | Load<Word>(name.mask + k)) == Load<Word>(name.lower + k);
    };
    size_t k = 0;
    for (; k + sizeof(Word) < size; k += sizeof(Word))
        if (!same(k)) return false;
    return same(size - sizeof(Word));
}

inline bool Matches(std::string_view text, const FoldedName& name) {
    const size_t size = text.size();
    if (size >= 8) return MatchWords<uint64_t>(text.data(), size, name);
    if (size >= 4) return MatchWords<uint32_t>(text.data(), size, name);
    for (size_t k = 0; k < size; ++k)
        if ((text[k] | name.mask[k]) != name.lower[k]) return false;
    return true;
}

}  // namespace

int HeaderIndex(std::string_view name) {
    if (name.empty() || name.size() > NameBuckets::kLongest) return -1;
    const int letter = NameBuckets::Letter(name[0]);
    if (letter < 0 || letter >= 26) return -1;
    for (const signed char i : kBuckets.index[name.size()][letter]) {
        if (i < 0) break;
        if (Matches(name, kBuckets.folded[i])) return i;
    }
    return -1;
}
