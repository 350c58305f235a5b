// RegistryKey over the real store: flags, getters that never touch their
// target on failure, the 1024-byte buffers, enumeration and DeleteTree.
#include "platform/RegistryKey.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/TestHome.h"

using namespace platform::reg;
using testing_support::MessageCapture;
using testing_support::TestHome;

namespace {

const std::string kBase = "SOFTWARE\\KeyTest";

void SetRaw(RegistryKey& key, const std::string& name, uint32_t type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueEx(key.KeyHandle, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())), ERROR_SUCCESS);
}

}  // namespace

TEST(RegistryKey, CreatedOnlyWhenTheKeyWasNew) {
    TestHome home;
    {
        RegistryKey key(HKEY_LOCAL_MACHINE, kBase + "\\Access\\Basic");
        EXPECT_TRUE(key.Opened);
        EXPECT_TRUE(key.Created);
        EXPECT_EQ(key.KeyName, kBase + "\\Access\\Basic");
    }
    RegistryKey again(HKEY_LOCAL_MACHINE, kBase + "\\Access\\Basic");
    EXPECT_TRUE(again.Opened);
    EXPECT_FALSE(again.Created);
    RegistryKey parent(HKEY_LOCAL_MACHINE, kBase);
    EXPECT_FALSE(parent.Created);
    RegistryKey child(parent, "Access");
    EXPECT_TRUE(child.Opened);
    EXPECT_FALSE(child.Created);
}

TEST(RegistryKey, AKeyThatCannotOpenFailsEverything) {
    TestHome home;
    RegistryKey bad(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Empty level");
    EXPECT_FALSE(bad.Opened);
    EXPECT_FALSE(bad.Created);
    uint32_t number = 7;
    std::string text = "kept";
    EXPECT_FALSE(bad.GetDWORD("x", &number));
    EXPECT_FALSE(bad.GetString("x", &text));
    EXPECT_FALSE(bad.SaveDWORD("x", 1));
    EXPECT_FALSE(bad.SaveString("x", "y"));
    EXPECT_EQ(bad.NumKeys(), 0u);
    EXPECT_EQ(bad.NumValues(), 0u);
    EXPECT_FALSE(bad.DeleteTree());
    RegistryKey child(bad, "Child");
    EXPECT_FALSE(child.Opened);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(text, "kept");
}

// Every getter, on a value that is missing or cannot be read, returns false
// and leaves its target exactly as it was.
TEST(RegistryKey, FailedReadsLeaveTheirTargetsAlone) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBase);
    SetRaw(key, "Long", REG_BINARY, "12345");                   // too long for a number
    key.SaveString("Huge", std::string(1024, 'h'));             // too long for a string
    struct Case {
        const char* name;
        std::function<bool(RegistryKey&)> read;  // true when it returned false and kept its target
    };
    const Case cases[] = {
        {"GetDWORD unsigned, missing",
         [](RegistryKey& k) { uint32_t v = 0xdeadbeef; return !k.GetDWORD("Missing", &v) && v == 0xdeadbeef; }},
        {"GetDWORD signed, missing", [](RegistryKey& k) { int v = -42; return !k.GetDWORD("Missing", &v) && v == -42; }},
        {"GetDWORD unsigned, 5 bytes",
         [](RegistryKey& k) { uint32_t v = 9; return !k.GetDWORD("Long", &v) && v == 9; }},
        {"GetDWORD signed, 5 bytes", [](RegistryKey& k) { int v = -9; return !k.GetDWORD("Long", &v) && v == -9; }},
        {"GetDWORD null target", [](RegistryKey& k) { return !k.GetDWORD("Long", static_cast<uint32_t*>(nullptr)); }},
        {"GetString, missing",
         [](RegistryKey& k) { std::string v = "old"; return !k.GetString("Missing", &v) && v == "old"; }},
        {"GetString, 1024 characters",
         [](RegistryKey& k) { std::string v = "old"; return !k.GetString("Huge", &v) && v == "old"; }},
        {"GetString null target", [](RegistryKey& k) { return !k.GetString("Huge", nullptr); }},
        {"GetEnumKey past the end",
         [](RegistryKey& k) { std::string v = "old"; return !k.GetEnumKey(0, &v) && v == "old"; }},
        {"GetEnumString past the end",
         [](RegistryKey& k) {
             std::string n = "n", v = "v";
             return !k.GetEnumString(5, &n, &v) && n == "n" && v == "v";
         }},
        {"GetEnumString, 1024 characters of data",
         [](RegistryKey& k) {
             std::string n = "n", v = "v";
             return !k.GetEnumString(1, &n, &v) && n == "n" && v == "v";
         }},
        {"GetEnumDWORD, 5 bytes of data",
         [](RegistryKey& k) {
             std::string n = "n";
             uint32_t v = 3;
             return !k.GetEnumDWORD(0, &n, &v) && n == "n" && v == 3;
         }},
    };
    for (const Case& c : cases) EXPECT_TRUE(c.read(key)) << c.name;
}

TEST(RegistryKey, NumbersAndTexts) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBase);
    EXPECT_TRUE(key.SaveDWORD("Negative", static_cast<uint32_t>(-5)));
    EXPECT_TRUE(key.SaveString("Empty", ""));
    SetRaw(key, "Short", REG_BINARY, std::string("\x34\x12", 2));
    SetRaw(key, "Text80", REG_SZ, std::string("80\0", 3));  // the type is not examined
    SetRaw(key, "NoZero", REG_SZ, "abc");
    SetRaw(key, "Inner", REG_SZ, std::string("ab\0cd\0", 6));

    int signedValue = 0;
    uint32_t number = 0;
    EXPECT_TRUE(key.GetDWORD("Negative", &signedValue));
    EXPECT_EQ(signedValue, -5);
    EXPECT_TRUE(key.GetDWORD("Negative", &number));
    EXPECT_EQ(number, 0xfffffffbu);
    EXPECT_TRUE(key.GetDWORD("Short", &number));
    EXPECT_EQ(number, 0x1234u);
    EXPECT_TRUE(key.GetDWORD("Text80", &number));
    EXPECT_EQ(number, 0x3038u);

    std::vector<uint8_t> stored;
    EXPECT_EQ(RegQueryValueEx(key.KeyHandle, "Empty", nullptr, &stored), ERROR_SUCCESS);
    EXPECT_EQ(stored, std::vector<uint8_t>{0});  // just the terminating zero
    std::string text = "old";
    EXPECT_TRUE(key.GetString("Empty", &text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(key.GetString("NoZero", &text));
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(key.GetString("Inner", &text));
    EXPECT_EQ(text, "ab");
    EXPECT_EQ(key.NumValues(), 6u);
}

TEST(RegistryKey, TheLimitsOfTheReadBuffers) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBase);
    const std::string longest(1023, 's');
    key.SaveString("Longest", longest);
    std::string text;
    EXPECT_TRUE(key.GetString("Longest", &text));
    EXPECT_EQ(text, longest);

    // A value name passed to a read is cut to 1023 characters.
    const std::string name1023(1023, 'n');
    key.SaveDWORD(name1023, 77);
    uint32_t number = 0;
    EXPECT_TRUE(key.GetDWORD(name1023 + "ignored tail", &number));
    EXPECT_EQ(number, 77u);

    // Enumerated names of 1023 characters are read; of 1024 they are not.
    RegistryKey names(HKEY_LOCAL_MACHINE, kBase + "\\Names");
    names.SaveString(std::string(1023, 'a'), "fits");
    names.SaveString(std::string(1024, 'b'), "too long a name");
    std::string name, value;
    EXPECT_TRUE(names.GetEnumString(0, &name, &value));
    EXPECT_EQ(name.size(), 1023u);
    EXPECT_FALSE(names.GetEnumString(1, &name, &value));
    RegistryKey a(names, std::string(1023, 'a'));
    RegistryKey b(names, std::string(1024, 'b'));
    EXPECT_TRUE(names.GetEnumKey(0, &name));
    EXPECT_EQ(name, std::string(1023, 'a'));
    EXPECT_FALSE(names.GetEnumKey(1, &name));
}

TEST(RegistryKey, Enumeration) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBase);
    for (const char* sub : {"groups", "Allow", "Users", "deny"}) RegistryKey child(key, sub);
    key.SaveDWORD("Zeta", 1);
    key.SaveString("alpha", "A");
    key.SaveDWORD("ZETA", 2);  // same value, same place
    EXPECT_EQ(key.NumKeys(), 4u);
    std::string name, text;
    std::vector<std::string> keys;
    for (unsigned long i = 0; key.GetEnumKey(i, &name); ++i) keys.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::string>{"Allow", "deny", "groups", "Users"}));
    uint32_t number = 0;
    EXPECT_TRUE(key.GetEnumDWORD(0, &name, &number));
    EXPECT_EQ(name, "Zeta");
    EXPECT_EQ(number, 2u);
    EXPECT_TRUE(key.GetEnumString(1, &name, &text));
    EXPECT_EQ(name, "alpha");
    EXPECT_EQ(text, "A");
}

TEST(RegistryKey, DeleteTreeRemovesEverythingBelowTheKey) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBase);
    key.SaveString("Own", "stays");
    {
        RegistryKey deep(key, "A\\B\\C");
        deep.SaveDWORD("x", 1);
        RegistryKey other(key, "Z");
        other.SaveString("y", "z");
    }
    MessageCapture messages;
    EXPECT_TRUE(key.DeleteTree());
    EXPECT_EQ(key.NumKeys(), 0u);
    EXPECT_EQ(key.NumValues(), 1u);
    EXPECT_TRUE(messages.Messages().empty());
    // Nothing below: nothing deleted, and it says so.
    EXPECT_FALSE(key.DeleteTree());
    EXPECT_EQ(key.NumValues(), 1u);
    RegistryKey a(key, "A");
    EXPECT_TRUE(a.Created);
}

// A subkey that cannot be deleted is reported and the deletion goes on: the
// frame key SOFTWARE cannot go, everything below it can.
TEST(RegistryKey, DeleteTreeReportsAKeyItCannotDelete) {
    TestHome home;
    { RegistryKey deep(HKEY_LOCAL_MACHINE, kBase + "\\Deep"); }
    MessageCapture messages;
    RegistryKey root(HKEY_LOCAL_MACHINE, "");
    root.DeleteTree();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].caption, "RegistryKey::DeleteTree()");
    EXPECT_EQ(messages.Messages()[0].text, "Error with key #0; code 5");
    RegistryKey software(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_FALSE(software.Created);
    EXPECT_EQ(software.NumKeys(), 0u);
}
