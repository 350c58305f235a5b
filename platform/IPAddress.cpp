#include "platform/IPAddress.h"

#include <arpa/inet.h>

#include <cstring>

#include "platform/NetCalls.h"

namespace platform::net {
namespace {

// The first twelve bytes of an IPv4 address in its IPv6 form.
constexpr unsigned char kV4Prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

}  // namespace

IPAddress IPAddress::V4(uint32_t address) {
    IPAddress a;
    std::memcpy(a.bytes_, kV4Prefix, sizeof kV4Prefix);
    std::memcpy(a.bytes_ + 12, &address, 4);
    return a;
}

IPAddress IPAddress::V6(const unsigned char* bytes) {
    IPAddress a;
    std::memcpy(a.bytes_, bytes, sizeof a.bytes_);
    return a;
}

bool IPAddress::Parse(std::string_view text, IPAddress* out) {
    // inet_pton wants a terminated string; anything longer than the longest
    // address is none.
    char buffer[48];
    if (text.empty() || text.size() >= sizeof buffer) return false;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    in_addr v4;
    if (::inet_pton(AF_INET, buffer, &v4) == 1) {
        *out = V4(v4.s_addr);
        return true;
    }
    in6_addr v6;
    if (::inet_pton(AF_INET6, buffer, &v6) != 1) return false;
    *out = V6(v6.s6_addr);
    return true;
}

bool IPAddress::IsV4() const { return std::memcmp(bytes_, kV4Prefix, sizeof kV4Prefix) == 0; }

uint32_t IPAddress::AsV4() const {
    uint32_t address = 0;
    if (IsV4()) std::memcpy(&address, bytes_ + 12, 4);
    return address;
}

bool IPAddress::IsUnspecified() const { return *this == IPAddress() || *this == V4(0); }

bool IPAddress::IsLoopback() const {
    static const unsigned char kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return IsV4() ? bytes_[12] == 127 : std::memcmp(bytes_, kLoopback6, 16) == 0;
}

std::string IPAddress::Text() const {
    if (IsV4()) return Dotted(AsV4());
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(bytes_[2 * i]) << 8 | bytes_[2 * i + 1];
    // The longest run of zero groups, the first of equal ones; a lone zero
    // group stays written out.
    int runStart = -1, runLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > runLength) {
            runStart = i;
            runLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static const char kHex[] = "0123456789abcdef";
    char text[40];
    size_t n = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            text[n++] = ':';
            if (i == 0) text[n++] = ':';
            i += runLength - 1;
            continue;
        }
        const unsigned g = groups[i];
        for (int shift = 12; shift > 0; shift -= 4)
            if (g >> shift) text[n++] = kHex[g >> shift & 0xf];
        text[n++] = kHex[g & 0xf];
        if (i < 7) text[n++] = ':';
    }
    return std::string(text, n);
}

}  // namespace platform::net
