// Where the counter looks for the server's store.
#include <gtest/gtest.h>

#include "visitor/StoreLocation.h"

TEST(StoreLocation, TheFolderThatHoldsTheDrive) {
    struct Case {
        const char* program;
        const char* home;
    } const cases[] = {
        {"/home/u/.local/share/varevavo/drive_c/HTTPD/CGI-BIN/visitor", "/home/u/.local/share/varevavo"},
        {"/srv/vv/drive_d/WWW/scripts/visitor.exe", "/srv/vv"},
        {"/srv/vv/drive_c/a/drive_d/visitor", "/srv/vv/drive_c/a"},  // the nearest drive
        {"/srv/vv/drive_c/HTTPD/./CGI-BIN/../CGI-BIN/visitor", "/srv/vv"},
        {"/drive_c/visitor", "/"},
        {"/srv/vv/drive_c", ""},             // the program's own name is no folder
        {"/srv/vv/drive_cd/x/visitor", ""},  // one letter only
        {"/srv/vv/drive_1/x/visitor", ""},
        {"/usr/lib/varevavo/visitor", ""},
        {"vv/drive_c/HTTPD/CGI-BIN/visitor", ""},  // relative: no telling where from
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(StoreLocation::HomeOf(c.program), c.home) << c.program;
}
