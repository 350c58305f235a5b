#include "http/ContentCoding.h"

#include <algorithm>

#include "http/Characters.h"
#include "http/LetterCase.h"

namespace {

// A q-value in thousandths; an unreadable one counts as 1, as if absent.
int QValue(std::string_view params) {
    while (!params.empty()) {
        const size_t semicolon = params.find(';');
        const std::string_view param = TrimBlanks(params.substr(0, semicolon));
        params = semicolon == std::string_view::npos ? std::string_view() : params.substr(semicolon + 1);
        if (param.size() < 2 || (param[0] | 0x20) != 'q' || param[1] != '=') continue;
        const std::string_view value = TrimBlanks(param.substr(2));
        if (value.empty() || (value[0] != '0' && value[0] != '1')) return 1000;
        int thousandths = (value[0] - '0') * 1000;
        int scale = 100;
        for (size_t i = 2; value.size() > 1 && value[1] == '.' && i < value.size() && i < 5; ++i, scale /= 10) {
            if (value[i] < '0' || value[i] > '9') break;
            thousandths += (value[i] - '0') * scale;
        }
        return thousandths > 1000 ? 1000 : thousandths;
    }
    return 1000;
}

}  // namespace

std::string_view ContentCoding::Name(Coding coding) {
    switch (coding) {
        case Coding::Gzip: return "gzip";
        case Coding::Brotli: return "br";
        case Coding::Zstd: return "zstd";
        case Coding::Identity: break;
    }
    return {};
}

std::string_view ContentCoding::Suffix(Coding coding) {
    switch (coding) {
        case Coding::Gzip: return ".gz";
        case Coding::Brotli: return ".br";
        case Coding::Zstd: return ".zst";
        case Coding::Identity: break;
    }
    return {};
}

Coding ContentCoding::Choose(std::string_view acceptEncoding, unsigned offered) {
    // The q-value each coding got by name (-1: not named), and "*"'s.
    int named[4] = {-1, -1, -1, -1};
    int star = -1;
    while (!acceptEncoding.empty()) {
        const size_t comma = acceptEncoding.find(',');
        const std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding = comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const size_t semicolon = item.find(';');
        const std::string_view name = TrimBlanks(item.substr(0, semicolon));
        const int q = semicolon == std::string_view::npos ? 1000 : QValue(item.substr(semicolon + 1));
        if (name == "*") star = q;
        else if (EqualNoCase(name, "identity")) named[0] = q;
        else if (EqualNoCase(name, "x-gzip")) named[static_cast<int>(Coding::Gzip)] = q;
        for (const Coding coding : kPreference)
            if (EqualNoCase(name, Name(coding))) named[static_cast<int>(coding)] = q;
    }
    const auto qOf = [&](Coding coding) {
        const int q = named[static_cast<int>(coding)];
        if (q >= 0) return q;
        // Identity that no item names is acceptable, but as the last
        // choice: a client that lists codings wants one of them.
        if (star < 0) return coding == Coding::Identity ? 1 : 0;
        return star;
    };
    Coding best = Coding::Identity;
    int bestQ = qOf(Coding::Identity);
    for (const Coding coding : kPreference) {
        const int q = qOf(coding);
        if ((offered & Bit(coding)) && q > 0 && (q > bestQ || (q == bestQ && best == Coding::Identity))) {
            best = coding;
            bestQ = q;
        }
    }
    return best;
}

bool ContentCoding::IsCompressible(std::string_view contentType) {
    // Asked of every document a client may get compressed: one pass to
    // lower the type's letters, then plain searches.
    const std::string type = ToLower(TrimBlanks(contentType.substr(0, contentType.find(';'))));
    if (type.starts_with("text/")) return true;
    for (const std::string_view kind : {"javascript", "json", "+xml", "/xml", "/wasm"})
        if (type.find(kind) != std::string::npos) return true;
    return false;
}

std::string ContentCoding::EntityTag(const platform::FileInfo& facts, Coding coding) {
    // Made for every document answered: written by hand into one buffer,
    // as a formatting call would cost more than the rest of the answer's
    // headers.
    char text[80];
    char* at = text;
    *at++ = '"';
    const auto hex = [&at](uint64_t value) {
        char digits[16];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 15];
            value >>= 4;
        } while (value != 0);
        while (n > 0) *at++ = digits[--n];
    };
    hex(facts.identity);
    *at++ = '-';
    hex(facts.size);
    *at++ = '-';
    hex(platform::FileTimeTicks(facts.lastWrite));
    const std::string_view name = Name(coding);
    if (!name.empty()) {
        *at++ = '-';
        at = std::copy(name.begin(), name.end(), at);
    }
    *at++ = '"';
    return std::string(text, static_cast<size_t>(at - text));
}

bool ContentCoding::NoneMatchHolds(std::string_view ifNoneMatch, std::string_view tag) {
    const auto opaque = [](std::string_view t) { return t.starts_with("W/") ? t.substr(2) : t; };
    const std::string_view want = opaque(tag);
    while (!ifNoneMatch.empty()) {
        const size_t comma = ifNoneMatch.find(',');
        const std::string_view item = TrimBlanks(ifNoneMatch.substr(0, comma));
        ifNoneMatch = comma == std::string_view::npos ? std::string_view() : ifNoneMatch.substr(comma + 1);
        if (item == "*" || opaque(item) == want) return true;
    }
    return false;
}

bool ContentCoding::IsEntityTag(std::string_view value) {
    value = TrimBlanks(value);
    return value.starts_with('"') || value.starts_with("W/");
}
