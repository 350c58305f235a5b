// Decoding of the Authorization header.
#include "auth/AuthDecode.h"

#include <gtest/gtest.h>

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

namespace {

TEST(AuthDecode, Schemes) {
    const struct {
        const char* name;
        std::string header;
        bool result;
        std::string type, user, password;
    } cases[] = {
        {"no header", "", true, "", "", ""},
        {"user and password", "Basic dXNlcjpwYXNz", true, "Basic", "user", "pass"},
        {"second colon stays in the password", "Basic dXNlcjpwYTpzcw==", true, "Basic", "user", "pa:ss"},
        {"no colon: all is the user", "Basic dXNlcg==", true, "Basic", "user", ""},
        {"two blanks before the credentials", "Basic  dXNlcjpwYXNz", true, "Basic", "user", "pass"},
        {"scheme word without letter case", "basic dXNlcjpwYXNz", true, "basic", "user", "pass"},
        {"the word alone", "Basic", true, "Basic", "", ""},
        {"digest accepted, not decoded", "Digest username=\"u\", realm=\"r\"", true, "Digest", "", ""},
        {"unknown scheme", "Bearer abc", false, "", "", ""},
    };
    for (const auto& c : cases) {
        HTTPRequest request;
        HTTPResponse response;
        request.User = "stale";
        request.RealmName = "stale";
        request.Header[Hdr::Authorization] = c.header;
        AuthDecode decoder;
        EXPECT_EQ(decoder.Decode(&request, &response), c.result) << c.name;
        EXPECT_EQ(request.AuthType, c.type) << c.name;
        EXPECT_EQ(request.User, c.user) << c.name;
        EXPECT_EQ(request.Password, c.password) << c.name;
        EXPECT_EQ(request.RealmName, "") << c.name;
    }
}

}  // namespace
