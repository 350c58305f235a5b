#pragma once
// An address of either family as one small value. An IPv4 address is kept
// in its IPv6 form (::ffff:a.b.c.d), the form a socket that takes both
// families reports it in, so that one peer has one value whichever kind of
// socket saw it, and two addresses compare equal exactly when they name
// the same host. The default value is the unspecified address "::".

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::net {

class IPAddress {
public:
    IPAddress() = default;
    // An IPv4 address in network byte order (as it appears on the wire).
    static IPAddress V4(uint32_t address);
    // An IPv6 address from its sixteen bytes in network order.
    static IPAddress V6(const unsigned char* bytes);
    // Reads a dotted IPv4 address or an IPv6 address in any form the
    // standard allows ("::1", "::ffff:1.2.3.4", "2001:DB8:0::1"); false, and
    // out untouched, for anything else (a name, brackets, a zone).
    static bool Parse(std::string_view text, IPAddress* out);

    // True for an IPv4 address (kept as ::ffff:a.b.c.d).
    bool IsV4() const;
    // The IPv4 address in network byte order; 0 for one that is not IPv4.
    uint32_t AsV4() const;
    const unsigned char* Bytes() const { return bytes_; }
    // True for "::" and for 0.0.0.0.
    bool IsUnspecified() const;
    // True for ::1 and for any of 127.0.0.0/8.
    bool IsLoopback() const;
    // The address as people and logs write it: dotted decimal for an IPv4
    // one, the shortest IPv6 form otherwise ("2001:db8::1"; lower case, the
    // longest run of two or more zero groups, the first of equals, as "::").
    std::string Text() const;

    bool operator==(const IPAddress&) const = default;

private:
    unsigned char bytes_[16] = {};
};

}  // namespace platform::net
