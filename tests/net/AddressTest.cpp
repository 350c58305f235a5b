// Addresses of both families: how they read, are written and compare.
#include <gtest/gtest.h>

#include "platform/IPAddress.h"

using platform::net::IPAddress;

namespace {

std::string Written(const char* text) {
    IPAddress address;
    return IPAddress::Parse(text, &address) ? address.Text() : "<none>";
}

TEST(IPAddress, WrittenShortestAndIPv4Dotted) {
    EXPECT_EQ(Written("::1"), "::1");
    EXPECT_EQ(Written("0:0:0:0:0:0:0:0"), "::");
    EXPECT_EQ(Written("::ffff:192.0.2.7"), "192.0.2.7") << "an IPv4 client of a socket of both families";
    EXPECT_EQ(Written("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(Written("2001:DB8:0:0:0:0:0:01"), "2001:db8::1");
    EXPECT_EQ(Written("2001:db8:0:1:1:1:1:1"), "2001:db8:0:1:1:1:1:1") << "one zero group stays";
    EXPECT_EQ(Written("2001:0:0:1:0:0:0:1"), "2001:0:0:1::1") << "the longest run goes";
    EXPECT_EQ(Written("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1") << "of equal runs the first";
    EXPECT_EQ(Written("fe80::"), "fe80::");
    EXPECT_EQ(Written("::102:304"), "::102:304");
    for (const char* text : {"localhost", "[::1]", "1.2.3", "", "::1%lo", "1::2::3"})
        EXPECT_EQ(Written(text), "<none>") << text;
    IPAddress a, b;
    ASSERT_TRUE(IPAddress::Parse("127.8.0.1", &a) && IPAddress::Parse("::ffff:127.8.0.1", &b));
    EXPECT_TRUE(a == b && a.IsV4() && a.IsLoopback());
    for (const char* text : {"::1", "127.0.0.1"}) EXPECT_TRUE(IPAddress::Parse(text, &a) && a.IsLoopback()) << text;
    for (const char* text : {"::2", "128.0.0.1", "::127.0.0.1"})
        EXPECT_TRUE(IPAddress::Parse(text, &a) && !a.IsLoopback()) << text;
}

}  // namespace
