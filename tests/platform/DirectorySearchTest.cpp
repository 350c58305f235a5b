// The directory search: "." and ".." first, then byte order, whatever order
// the file system keeps, with each entry's attributes.
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

TEST(DirectorySearch, EachEntryCarriesItsOwnAttributes) {
    TestHome home;
    const std::string directory = home.Path() + "/attributes";
    std::filesystem::create_directories(directory + "/folder");
    TestHome::WriteFile(directory + "/file", "12345");
    TestHome::WriteFile(directory + "/.secret", "x");
    std::filesystem::create_symlink(directory + "/gone", directory + "/link");
    platform::DirectorySearch search(directory);
    ASSERT_TRUE(search.IsOpen());
    platform::FindData entry;
    const struct {
        const char* name;
        bool directory;
        bool hidden;
        uint64_t size;
    } expected[] = {{".", true, false, 0},      {"..", true, false, 0},   {".secret", false, true, 1},
                    {"file", false, false, 5}, {"folder", true, false, 0}, {"link", false, false, 0}};
    for (const auto& e : expected) {
        ASSERT_TRUE(search.Next(&entry)) << e.name;
        EXPECT_EQ(entry.name, e.name);
        EXPECT_EQ(entry.directory, e.directory) << e.name;
        EXPECT_EQ(entry.hidden, e.hidden) << e.name;
        EXPECT_EQ(entry.size, e.size) << e.name;
    }
    EXPECT_FALSE(search.Next(&entry));
    EXPECT_FALSE(search.Next(&entry)) << "the end stays the end";

    platform::DirectorySearch missing(directory + "/none");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.Next(&entry));
}
