// The one normalisation of URL paths, shared by the request pipeline and the
// gateways: what passes begins with a slash and cannot climb.
#include <gtest/gtest.h>

#include "server/URLMapping.h"

namespace {

TEST(URLMapping, NormalisedPathsStayInsideOrAreRefused) {
    const struct {
        const char* in;
        URLFault fault;
        const char* out;  // when not refused
    } cases[] = {
        {"/a/./b/../c", URLFault::None, "/a/c"},
        {"\\a\\..\\b", URLFault::None, "/b"},
        {"/ICONS/../x", URLFault::None, "/x"},
        {"/../x", URLFault::NotAbsolute, ""},
        {"/..\\x", URLFault::NotAbsolute, ""},
        {"/ICONS/../../x", URLFault::NotAbsolute, ""},
        {"/./../x", URLFault::NotAbsolute, ""},
        {"x", URLFault::NotAbsolute, ""},
        {"/..", URLFault::Empty, ""},
        {"", URLFault::Empty, ""},
        {"/a/.../b", URLFault::Traversal, ""},
    };
    for (const auto& c : cases) {
        std::string url = c.in;
        EXPECT_EQ(NormaliseURL(&url), c.fault) << c.in;
        if (c.fault == URLFault::None) {
            EXPECT_EQ(url, c.out) << c.in;
        }
    }
    std::string withNul("/a\0/b", 5);
    EXPECT_EQ(NormaliseURL(&withNul), URLFault::BadByte);
}

}  // namespace
