// Addresses of both families: how they read and are written, and sockets
// that carry them over the loopback of each family.
#include <gtest/gtest.h>

#include "net/Socket.h"
#include "platform/IPAddress.h"
#include "tests/support/Loopback.h"

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

// A socket bound to the IPv6 loopback takes that family alone, and both
// ends name each other in its form.
TEST(SocketFamilies, AnIPv6ListenerAndItsPeer) {
    if (!testing_support::HasIPv6Loopback()) GTEST_SKIP() << "no ::1 here";
    Socket listener(0, 1, "::1");
    ASSERT_EQ(listener.Listen(5), 0);
    SocketAddress name;
    ASSERT_EQ(listener.GetName(&name), 0);
    EXPECT_EQ(name.address.Text(), "::1");
    Socket outbound(0, 1);
    ASSERT_EQ(outbound.Connect("::1", static_cast<short>(name.port)), 0);
    auto accepted = listener.Accept();
    ASSERT_TRUE(accepted);
    SocketAddress peer;
    ASSERT_EQ(accepted->GetPeer(&peer), 0);
    EXPECT_EQ(peer.address.Text(), "::1");
    EXPECT_FALSE(testing_support::RawClient("127.0.0.1", name.port).IsOpen());
}

}  // namespace
