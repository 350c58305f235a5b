#include "http/HeaderString.h"

#include "http/LetterCase.h"

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

// The names by length and first letter, in table order, so that a lookup
// compares at most the few names that could match.
struct NameBuckets {
    static constexpr size_t kLongest = 31;
    static constexpr int kDepth = 4;
    signed char index[kLongest + 1][26][kDepth];

    constexpr NameBuckets() : index{} {
        for (auto& byLength : index)
            for (auto& bucket : byLength)
                for (signed char& slot : bucket) slot = -1;
        for (int i = 0; i < Hdr::Count; ++i) {
            signed char* bucket = index[kNames[i].size()][Letter(kNames[i][0])];
            int depth = 0;
            while (bucket[depth] >= 0) ++depth;
            bucket[depth] = static_cast<signed char>(i);
        }
    }
    static constexpr int Letter(char c) { return (c | 0x20) - 'a'; }
};
constexpr NameBuckets kBuckets;

}  // namespace

int HeaderIndex(std::string_view name) {
    if (name.empty() || name.size() > NameBuckets::kLongest) return -1;
    const int letter = NameBuckets::Letter(name[0]);
    if (letter < 0 || letter >= 26) return -1;
    for (const signed char i : kBuckets.index[name.size()][letter]) {
        if (i < 0) break;
        if (EqualNoCase(name, kNames[i])) return i;
    }
    return -1;
}
