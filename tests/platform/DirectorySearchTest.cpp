// The directory search: "." and ".." first, then byte order, whatever order
// the file system keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/TestHome.h"

using testing_support::TestHome;

namespace {

std::vector<std::string> Listed(const std::string& directory) {
    platform::DirectorySearch search(directory);
    std::vector<std::string> names;
    platform::FindData entry;
    while (search.Next(&entry)) names.push_back(entry.name);
    return names;
}

}  // namespace

TEST(DirectorySearch, DotsFirstThenByteOrder) {
    const struct {
        const char* name;
        std::vector<std::string> names;  // created in this order; a trailing slash makes a folder
        std::vector<std::string> listed;
    } cases[] = {
        {"capitals before small letters, digits before both",
         {"b", "B", "a", "A", "_x", "~t", "10", "9"},
         {".", "..", "10", "9", "A", "B", "_x", "a", "b", "~t"}},
        {"names that sort before a dot still follow the dots",
         {".hidden", "-dash", "!bang", " blank"},
         {".", "..", " blank", "!bang", "-dash", ".hidden"}},
        {"UTF-8 after ASCII, by code point",
         {"\xE6\xBC\xA2", "\xCE\xA9", "\xC3\xA9", "z"},
         {".", "..", "z", "\xC3\xA9", "\xCE\xA9", "\xE6\xBC\xA2"}},
        {"folders among files, not first",
         {"c/", "a", "b/", "B"},
         {".", "..", "B", "a", "b", "c"}},
        {"an empty folder", {}, {".", ".."}},
    };
    for (const auto& c : cases) {
        TestHome home;
        const std::string directory = home.Path() + "/list";
        std::filesystem::create_directories(directory);
        for (const std::string& name : c.names) {
            if (name.ends_with('/')) std::filesystem::create_directories(directory + "/" + name);
            else TestHome::WriteFile(directory + "/" + name, name);
        }
        EXPECT_EQ(Listed(directory), c.listed) << c.name;
    }
}
