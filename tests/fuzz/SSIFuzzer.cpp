// Feeds arbitrary pages to the SSI directive reader the way the engine scans
// them, read in blocks of a size the input chooses (its first byte), so that
// statements straddle block edges at every point. Every byte of the page must
// come back, in order, from the copied text and the statements, and the
// tags of a directive must come from inside its body.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/BlockReader.h"
#include "gateway/SSIEngine.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckDirective(const std::string& text) {
    Require(text.starts_with("<!--#") && text.ends_with("-->") && text.size() >= 8);
    const std::string_view whole = SSIDirectiveBody(text);
    std::string_view body = whole;
    Require(Inside(TakeSSICommand(&body), whole));
    std::string_view name, value;
    size_t tags = 0;
    while (TakeSSITag(&body, &name, &value)) {
        Require(Inside(name, whole) && Inside(value, whole) && Inside(body, whole));
        Require(++tags <= whole.size());  // every tag takes at least one character
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t block = data[0] & 0x80 ? BlockReader::kBlockSize : 1 + data[0] % 16;
    const std::string_view page(reinterpret_cast<const char*>(data + 1), size - 1);

    BlockReader reader(block);
    reader.Assign(page);
    std::string copy;
    std::string text;
    while (reader.CopyUntil('<', &copy)) {
        if (reader.Peek() != '!') {
            copy += '<';
            continue;
        }
        reader.Unget();
        const SSIStatement kind = ReadSSIStatement(&reader, &text);
        Require(text.starts_with("<!"));
        if (kind == SSIStatement::Comment) Require(text.starts_with("<!--") && text.ends_with("-->"));
        if (kind == SSIStatement::Directive) CheckDirective(text);
        copy += text;
    }
    Require(copy == page);
    Require(reader.Position() == page.size());
    return 0;
}
