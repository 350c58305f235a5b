// The registry store: keys, values, their order and letter case, the fixed
// frame, buffers, transactions, homes, and several processes at once.
#include "platform/RegistryStore.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

using namespace platform::reg;
using testing_support::ChildProcess;
using testing_support::RunProgram;
using testing_support::TestHome;

namespace {

ScopedKey Create(HKEY parent, const std::string& path, bool* created = nullptr) {
    ScopedKey key;
    EXPECT_EQ(RegCreateKeyEx(parent, path, key.Receive(), created), ERROR_SUCCESS) << path;
    return key;
}

void SetNumber(HKEY key, const std::string& name, uint32_t value) {
    EXPECT_EQ(RegSetValueEx(key, name, REG_DWORD, &value, 4), ERROR_SUCCESS) << name;
}

uint32_t Number(HKEY key, const std::string& name) {
    uint32_t value = 0, size = 4;
    EXPECT_EQ(RegQueryValueEx(key, name, nullptr, &value, &size), ERROR_SUCCESS) << name;
    return value;
}

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    std::string name;
    for (uint32_t i = 0; RegEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i) names.push_back(name);
    return names;
}

std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    std::string name;
    std::vector<uint8_t> data;
    for (uint32_t i = 0; RegEnumValue(key, i, &name, nullptr, &data) == ERROR_SUCCESS; ++i) names.push_back(name);
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(RegistryStore, NewStoreHasSoftwareBelowTheRoot) {
    TestHome home;
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), Names{"SOFTWARE"});
    ScopedKey software;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", software.Receive()), ERROR_SUCCESS);
    EXPECT_TRUE(TestHome::FileExists(home.Path() + "/registry.db"));
}

TEST(RegistryStore, CreateMakesMissingKeysAndTellsWhetherTheLastWasNew) {
    TestHome home;
    bool created = false;
    Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C", &created);
    EXPECT_TRUE(created);
    Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C", &created);
    EXPECT_FALSE(created);
    ScopedKey a = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(SubkeyNames(a.get()), Names{"B"});
    ScopedKey same;
    EXPECT_EQ(RegOpenKeyEx(a.get(), "", same.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(same.get()), Names{"B"});

    ScopedKey missing;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\X\\C", missing.Receive()), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\\\B", missing.Receive()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\", missing.Receive(), nullptr), ERROR_INVALID_PARAMETER);
}

TEST(RegistryStore, NamesIgnoreCaseAndKeepTheirSpelling) {
    TestHome home;
    ScopedKey visitor = Create(HKEY_LOCAL_MACHINE, "Software\\Visitor");
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), Names{"SOFTWARE"});
    ScopedKey again = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\VISITOR");
    SetNumber(visitor.get(), "Hits", 1);
    SetNumber(again.get(), "HITS", 2);
    EXPECT_EQ(Number(visitor.get(), "hits"), 2u);
    EXPECT_EQ(ValueNames(visitor.get()), Names{"Hits"});
    ScopedKey software = Create(HKEY_LOCAL_MACHINE, "software");
    EXPECT_EQ(SubkeyNames(software.get()), Names{"Visitor"});
}

TEST(RegistryStore, SubkeysInNameOrderValuesInFirstWrittenOrder) {
    TestHome home;
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order");
    for (const char* name : {"delta", "Bravo", "alpha", "Charlie"}) Create(key.get(), name);
    EXPECT_EQ(SubkeyNames(key.get()), (Names{"alpha", "Bravo", "Charlie", "delta"}));

    for (const char* name : {".zip", ".AI", ".gz", ".html"}) SetNumber(key.get(), name, 1);
    SetNumber(key.get(), ".ai", 7);  // a rewrite keeps its place and spelling
    EXPECT_EQ(ValueNames(key.get()), (Names{".zip", ".AI", ".gz", ".html"}));
    EXPECT_EQ(RegDeleteValue(key.get(), ".zip"), ERROR_SUCCESS);
    SetNumber(key.get(), ".zip", 1);  // written anew: last
    EXPECT_EQ(ValueNames(key.get()), (Names{".AI", ".gz", ".html", ".zip"}));

    uint32_t subKeys = 0, values = 0;
    EXPECT_EQ(RegQueryInfoKey(key.get(), &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 4u);
    EXPECT_EQ(values, 4u);
    std::string name;
    EXPECT_EQ(RegEnumKeyEx(key.get(), 4, &name), ERROR_NO_MORE_ITEMS);
    std::vector<uint8_t> data;
    EXPECT_EQ(RegEnumValue(key.get(), 4, &name, nullptr, &data), ERROR_NO_MORE_ITEMS);
}

TEST(RegistryStore, ValuesKeepTheirExactBytesAndType) {
    TestHome home;
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bytes");
    const std::string bytes("a\0b\n\xff", 5);
    EXPECT_EQ(RegSetValueEx(key.get(), "", REG_BINARY, bytes.data(), 5), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(key.get(), "Empty", REG_SZ, nullptr, 0), ERROR_SUCCESS);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_EQ(RegQueryValueEx(key.get(), "", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::string(data.begin(), data.end()), bytes);
    EXPECT_EQ(RegQueryValueEx(key.get(), "Empty", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(RegQueryValueEx(key.get(), "Missing", &type, &data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueEx(key.get(), std::string("a\0b", 3), REG_SZ, "", 1), ERROR_INVALID_PARAMETER);
}

TEST(RegistryStore, CallerBuffersFollowTheSizeRules) {
    TestHome home;
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Buffers");
    EXPECT_EQ(RegSetValueEx(key.get(), "Text", REG_SZ, "hello", 6), ERROR_SUCCESS);
    uint32_t size = 0;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Text", nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    char small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Text", nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(small[0], 'x');
    char fits[6];
    size = sizeof fits;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Text", nullptr, fits, &size), ERROR_SUCCESS);
    EXPECT_STREQ(fits, "hello");

    Create(key.get(), "Sub12");
    char name[6];
    uint32_t nameSize = sizeof name;  // "Sub12" and its zero need 6
    EXPECT_EQ(RegEnumKeyEx(key.get(), 0, name, &nameSize), ERROR_SUCCESS);
    EXPECT_EQ(nameSize, 5u);
    nameSize = 5;
    EXPECT_EQ(RegEnumKeyEx(key.get(), 0, name, &nameSize), ERROR_MORE_DATA);
    nameSize = 4;
    uint32_t type = 0, dataSize = 0;
    EXPECT_EQ(RegEnumValue(key.get(), 0, name, &nameSize, &type, nullptr, &dataSize), ERROR_MORE_DATA);
    nameSize = 5;
    EXPECT_EQ(RegEnumValue(key.get(), 0, name, &nameSize, &type, nullptr, &dataSize), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Text");
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(dataSize, 6u);
}

TEST(RegistryStore, TheRootAndTheKeysBelowItAreFixed) {
    TestHome home;
    ScopedKey key;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWAR\\Typo", key.Receive(), nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
    const uint32_t one = 1;
    EXPECT_EQ(RegSetValueEx(HKEY_LOCAL_MACHINE, "x", REG_DWORD, &one, 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), Names{"SOFTWARE"});
}

TEST(RegistryStore, DeletingKeys) {
    TestHome home;
    ScopedKey top = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top");
    SetNumber(top.get(), "Kept", 1);
    ScopedKey leaf = Create(top.get(), "Middle\\Leaf");
    SetNumber(leaf.get(), "Gone", 1);
    EXPECT_EQ(RegDeleteKey(top.get(), "Middle"), ERROR_ACCESS_DENIED);  // it has a subkey
    EXPECT_EQ(RegDeleteKey(top.get(), "Middle\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueEx(leaf.get(), "Gone", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKey(top.get(), "Middle\\Leaf"), ERROR_FILE_NOT_FOUND);

    Create(top.get(), "Middle\\Leaf\\Deeper");
    EXPECT_EQ(RegDeleteTree(top.get(), "Middle"), ERROR_SUCCESS);
    EXPECT_TRUE(SubkeyNames(top.get()).empty());
    EXPECT_EQ(Number(top.get(), "Kept"), 1u);

    Create(top.get(), "A\\B");
    EXPECT_EQ(RegDeleteTree(top.get(), ""), ERROR_SUCCESS);  // empties the key, keeps it
    EXPECT_TRUE(SubkeyNames(top.get()).empty());
    EXPECT_TRUE(ValueNames(top.get()).empty());
    ScopedKey still;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top", still.Receive()), ERROR_SUCCESS);
}

TEST(RegistryStore, HandlesAreCheckedAndReleased) {
    TestHome home;
    HKEY raw = kNoKey;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\H", &raw, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryInfoKey(raw, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueEx(HKEY{12345}, "x", REG_SZ, "", 1), ERROR_INVALID_HANDLE);
}

TEST(RegistryStore, ANewHomeOpensItsOwnStore) {
    HKEY first = kNoKey;
    {
        TestHome home;
        ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\OnlyHere");
        EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", &first, nullptr), ERROR_SUCCESS);
    }
    TestHome other;
    EXPECT_EQ(RegQueryInfoKey(first, nullptr, nullptr), ERROR_INVALID_HANDLE);
    ScopedKey key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\OnlyHere", key.Receive()), ERROR_FILE_NOT_FOUND);
}

// The store holds the master password in plain text: whatever the umask,
// no other user may read it or what SQLite keeps beside it.
TEST(RegistryStore, TheStoreAndANewHomeAreTheOwnersAlone) {
    namespace fs = std::filesystem;
    const auto modeOf = [](const std::string& path) { return fs::status(path).permissions() & fs::perms::all; };
    const mode_t oldMask = ::umask(022);
    TestHome home;
    const std::string fresh = home.Path() + "/new/home";
    ::setenv("VAREVAVO_HOME", fresh.c_str(), 1);
    {
        ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Secret");
        SetNumber(key.get(), "MasterPassword", 7);  // the write-ahead log and shared memory are open now
        EXPECT_EQ(modeOf(fresh), fs::perms::owner_all) << "a home the store makes";
        for (const char* file : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) {
            ASSERT_TRUE(TestHome::FileExists(fresh + file)) << file;
            EXPECT_EQ(modeOf(fresh + file), fs::perms::owner_read | fs::perms::owner_write) << file;
        }
    }
    // A store an earlier version left readable is made private when opened.
    TestHome older;
    TestHome::WriteFile(older.Path() + "/registry.db", "");
    fs::permissions(older.Path() + "/registry.db", fs::perms(0644));
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\X");
    EXPECT_EQ(modeOf(older.Path() + "/registry.db"), fs::perms::owner_read | fs::perms::owner_write);
    ::umask(oldMask);
}

TEST(RegistryStore, AHomeThatCannotHoldAStoreFailsEveryOperation) {
    TestHome home;
    TestHome::WriteFile(home.Path() + "/file", "not a folder");
    ::setenv("VAREVAVO_HOME", (home.Path() + "/file/home").c_str(), 1);
    ScopedKey key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", key.Receive()), ERROR_CANTOPEN);
    Transaction transaction;
    EXPECT_EQ(transaction.Status(), ERROR_CANTOPEN);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", key.Receive(), nullptr), ERROR_CANTOPEN);
    EXPECT_EQ(transaction.Commit(), ERROR_CANTOPEN);

    TestHome::WriteFile(home.Path() + "/bad/registry.db", std::string(4096, 'x'));
    ::setenv("VAREVAVO_HOME", (home.Path() + "/bad").c_str(), 1);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", key.Receive()), ERROR_REGISTRY_CORRUPT);
}

TEST(RegistryStoreTransaction, CommitKeepsAndDestructionRollsBack) {
    TestHome home;
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\T");
    {
        Transaction transaction;
        SetNumber(key.get(), "Committed", 1);
        EXPECT_EQ(transaction.Commit(), ERROR_SUCCESS);
        EXPECT_EQ(transaction.Commit(), ERROR_SUCCESS);
    }
    {
        Transaction transaction;
        SetNumber(key.get(), "RolledBack", 1);
        Create(key.get(), "NewKey");
        EXPECT_EQ(RegDeleteValue(key.get(), "Committed"), ERROR_SUCCESS);
    }
    EXPECT_EQ(ValueNames(key.get()), Names{"Committed"});
    EXPECT_TRUE(SubkeyNames(key.get()).empty());
}

TEST(RegistryStoreTransaction, AnInnerTransactionJoinsTheOuterOne) {
    TestHome home;
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\T");
    {
        Transaction outer;
        {
            Transaction inner;
            SetNumber(key.get(), "Inner", 1);
            EXPECT_EQ(inner.Commit(), ERROR_SUCCESS);
        }
        SetNumber(key.get(), "Outer", 1);
        EXPECT_EQ(outer.Commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(ValueNames(key.get()), (Names{"Inner", "Outer"}));
    {
        Transaction outer;
        SetNumber(key.get(), "Lost", 1);
        { Transaction abandoned; }
        // The outer transaction is spoiled: nothing more goes in, and its end rolls back.
        EXPECT_EQ(RegSetValueEx(key.get(), "AlsoLost", REG_SZ, "", 1), ERROR_CANCELLED);
        EXPECT_EQ(outer.Commit(), ERROR_CANCELLED);
    }
    EXPECT_EQ(ValueNames(key.get()), (Names{"Inner", "Outer"}));
}

// A read transaction sees one state of the store while another process
// writes; afterwards the write is visible.
TEST(RegistryStoreTransaction, AReadSeesOneStateWhileAnotherProcessWrites) {
    TestHome home;
    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared");
    SetNumber(key.get(), "Value", 1);
    {
        Transaction read(Transaction::Read);
        EXPECT_EQ(Number(key.get(), "Value"), 1u);
        const auto writer = RunProgram({STORE_WRITER, "set", "SOFTWARE\\Shared", "Value", "2"});
        EXPECT_EQ(writer.status, 0) << writer.err;
        EXPECT_EQ(Number(key.get(), "Value"), 1u);
        // Writing now would be based on a stale state: it fails, and so does the commit.
        EXPECT_EQ(RegSetValueEx(key.get(), "Other", REG_SZ, "", 1), ERROR_BUSY);
        EXPECT_EQ(read.Commit(), ERROR_BUSY);
    }
    EXPECT_EQ(Number(key.get(), "Value"), 2u);
    EXPECT_EQ(ValueNames(key.get()), Names{"Value"});
}

// Two writer processes at once, adding values to one key and incrementing
// one counter in read-modify-write transactions: nothing is lost.
TEST(RegistryStoreConcurrency, TwoProcessesWritingTheSameKeyLoseNothing) {
    TestHome home;
    constexpr int kAdds = 300;
    constexpr int kIncrements = 150;
    ChildProcess adders[2], incrementers[2];
    ASSERT_TRUE(adders[0].Start({STORE_WRITER, "add", "SOFTWARE\\Busy", "a", std::to_string(kAdds)}));
    ASSERT_TRUE(adders[1].Start({STORE_WRITER, "add", "SOFTWARE\\Busy", "b", std::to_string(kAdds)}));
    ASSERT_TRUE(incrementers[0].Start({STORE_WRITER, "increment", "SOFTWARE\\Busy", "Count", std::to_string(kIncrements)}));
    ASSERT_TRUE(incrementers[1].Start({STORE_WRITER, "increment", "SOFTWARE\\Busy", "Count", std::to_string(kIncrements)}));
    for (ChildProcess* child : {&adders[0], &adders[1], &incrementers[0], &incrementers[1]})
        EXPECT_EQ(child->Wait(), 0) << child->Errors();

    ScopedKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy");
    EXPECT_EQ(Number(key.get(), "Count"), 2u * kIncrements);
    const Names names = ValueNames(key.get());
    EXPECT_EQ(names.size(), 2u * kAdds + 1);
    // Each writer's values appear in the order it wrote them.
    int nextA = 0, nextB = 0;
    for (const std::string& name : names) {
        if (name[0] == 'a') {
            EXPECT_EQ(name, "a" + std::to_string(nextA++));
        } else if (name[0] == 'b') {
            EXPECT_EQ(name, "b" + std::to_string(nextB++));
        }
    }
    EXPECT_EQ(nextA, kAdds);
    EXPECT_EQ(nextB, kAdds);
}
