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

}  // namespace

int HeaderIndex(std::string_view name) {
    for (int i = 0; i < Hdr::Count; ++i)
        if (kNames[i].size() == name.size() && EqualNoCase(name, kNames[i])) return i;
    return -1;
}
