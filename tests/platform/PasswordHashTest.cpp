#include "platform/PasswordHash.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

// Hashes of "s3cret" as other tools (htpasswd -B, mkpasswd) store them.
const char kBcrypt[] = "$2b$05$KBCwKxOzLha2MUDgW0PjXe0H9Chfmrxsx9UTgyUTnwgQwdRivWwWu";
const char kSha512[] =
    "$6$k2XAnEHBqQ1Ct2aM$jrRJEAWz4ZcURLhKjmfGg1wXXF4m79X7SMvOgJ7wlQdrazz7I50UpeRhn9FIe3Z00Hj5y/3Yg6rDcz0v0omQ..";
const char kYescrypt[] = "$y$j9T$k2XAnEHBqQ1Ct2aMXFKNa/$p2XKDO4VfgDzjw7O1psVYNJKImBm/WXSIF.edLF3DWA";

TEST(PasswordHash, StoredHashesOfEachMethodMatchOnlyTheirPassword) {
    for (const char* stored : {kBcrypt, kSha512, kYescrypt}) {
        EXPECT_TRUE(platform::IsPasswordHash(stored)) << stored;
        EXPECT_TRUE(platform::PasswordMatches(stored, "s3cret")) << stored;
        EXPECT_FALSE(platform::PasswordMatches(stored, "s3cre")) << stored;
        EXPECT_FALSE(platform::PasswordMatches(stored, "s3cret ")) << stored;
        EXPECT_FALSE(platform::PasswordMatches(stored, "")) << stored;
        // The hash itself is not a password that opens it.
        EXPECT_FALSE(platform::PasswordMatches(stored, stored)) << stored;
        // Nor is a guess cut short by a zero byte.
        EXPECT_FALSE(platform::PasswordMatches(stored, "s3cret\0x"s)) << stored;
    }
}

TEST(PasswordHash, PlainPasswordsOfEarlierSetupsStillMatchExactly) {
    for (const char* stored : {"s3cret", "", "$", "$x", "$zz$abc", "dollar$6$"}) {
        EXPECT_FALSE(platform::IsPasswordHash(stored)) << stored;
        EXPECT_TRUE(platform::PasswordMatches(stored, stored)) << stored;
        EXPECT_FALSE(platform::PasswordMatches(stored, std::string(stored) + "x")) << stored;
    }
    EXPECT_FALSE(platform::PasswordMatches("s3cret", "S3cret"));
    EXPECT_FALSE(platform::PasswordMatches("", "anything"));
}

TEST(PasswordHash, NewHashesAreSaltedYescryptThatMatch) {
    const std::string first = platform::HashPassword("pass word");
    const std::string second = platform::HashPassword("pass word");
    ASSERT_EQ(first.rfind("$y$", 0), 0u) << first;
    EXPECT_NE(first, second);
    EXPECT_TRUE(platform::PasswordMatches(first, "pass word"));
    EXPECT_TRUE(platform::PasswordMatches(second, "pass word"));
    EXPECT_FALSE(platform::PasswordMatches(first, "password"));
    EXPECT_TRUE(platform::HashPassword("a\0b"s).empty());
}

}  // namespace
