#include "http/Base64.h"

namespace {

constexpr signed char Base64Value(unsigned c) {
    if (c >= 'A' && c <= 'Z') return static_cast<signed char>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<signed char>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<signed char>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 0;
    return 65;
}

}  // namespace

const signed char Base256Table[256] = {
#define VV_B64_ROW(base)                                                                                   \
    Base64Value(base + 0), Base64Value(base + 1), Base64Value(base + 2), Base64Value(base + 3),            \
        Base64Value(base + 4), Base64Value(base + 5), Base64Value(base + 6), Base64Value(base + 7),        \
        Base64Value(base + 8), Base64Value(base + 9), Base64Value(base + 10), Base64Value(base + 11),      \
        Base64Value(base + 12), Base64Value(base + 13), Base64Value(base + 14), Base64Value(base + 15)
    VV_B64_ROW(0),   VV_B64_ROW(16),  VV_B64_ROW(32),  VV_B64_ROW(48),  VV_B64_ROW(64),  VV_B64_ROW(80),
    VV_B64_ROW(96),  VV_B64_ROW(112), VV_B64_ROW(128), VV_B64_ROW(144), VV_B64_ROW(160), VV_B64_ROW(176),
    VV_B64_ROW(192), VV_B64_ROW(208), VV_B64_ROW(224), VV_B64_ROW(240),
#undef VV_B64_ROW
};

std::string DecodeBase64(const std::string& s) {
    std::string out;
    out.reserve(s.size() / 4 * 3 + 3);
    for (size_t i = 0; i < s.size(); i += 4) {
        unsigned char c[4];
        for (size_t k = 0; k < 4; ++k) c[k] = i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : '=';
        const uint32_t v = static_cast<uint32_t>(Base256Table[c[0]]) * (1u << 18) +
                           static_cast<uint32_t>(Base256Table[c[1]]) * (1u << 12) +
                           static_cast<uint32_t>(Base256Table[c[2]]) * (1u << 6) +
                           static_cast<uint32_t>(Base256Table[c[3]]);
        const int n = c[2] == '=' ? 1 : c[3] == '=' ? 2 : 3;
        const char bytes[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        out.append(bytes, static_cast<size_t>(n));
    }
    return out;
}
