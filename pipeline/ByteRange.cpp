#include "pipeline/ByteRange.h"

#include "http/Characters.h"
#include "http/LetterCase.h"

namespace {

// Reads the decimal digits at the front of text into *number (saturating),
// and removes them. False when text does not begin with a digit.
bool TakeNumber(std::string_view* text, uint64_t* number) {
    size_t i = 0;
    uint64_t value = 0;
    for (; i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>((*text)[i] - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    if (i == 0) return false;
    text->remove_prefix(i);
    *number = value;
    return true;
}

}  // namespace

ByteRange ByteRange::Parse(std::string_view header, uint64_t size) {
    ByteRange range;
    constexpr std::string_view kUnit = "bytes=";
    if (!StartsWithNoCase(header, kUnit)) return range;
    std::string_view text = TrimBlanks(header.substr(kUnit.size()));
    if (text.empty()) return range;

    uint64_t first = 0;
    uint64_t last = UINT64_MAX;
    if (text.front() == '-') {
        // The last n bytes.
        text.remove_prefix(1);
        uint64_t suffix = 0;
        if (!TakeNumber(&text, &suffix) || !text.empty()) return range;
        if (suffix == 0 || size == 0) {
            range.Result = Unsatisfiable;
            return range;
        }
        first = suffix < size ? size - suffix : 0;
    } else {
        if (!TakeNumber(&text, &first) || text.empty() || text.front() != '-') return range;
        text.remove_prefix(1);
        if (!text.empty() && (!TakeNumber(&text, &last) || !text.empty() || last < first)) return range;
        if (first >= size) {
            range.Result = Unsatisfiable;
            return range;
        }
    }
    range.Result = Part;
    range.First = first;
    range.Count = (last < size - 1 ? last : size - 1) - first + 1;
    return range;
}
