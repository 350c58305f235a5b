// Realms and access-control lists, loaded from and saved to their keys.
#include <gtest/gtest.h>

#include "auth/AuthACL.h"
#include "auth/AuthRealm.h"
#include "platform/RegistryKey.h"
#include "tests/support/TestHome.h"

using platform::reg::HKEY_LOCAL_MACHINE;
using testing_support::TestHome;

namespace {

const std::string kBasic = "SOFTWARE\\AuthTest\\Basic";

}  // namespace

TEST(AuthRealm, ABareKeyLoadsEmptyAndGainsItsSubkeys) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\Bare");
    AuthRealm realm;
    realm.SetName("Bare", "kept");
    realm.AddUser(AuthUser("old", "x"));
    realm.AddGroup(AuthGroup());
    EXPECT_TRUE(realm.Load(&key));
    EXPECT_EQ(realm.Description, "kept");  // no Description stored
    EXPECT_TRUE(realm.Users.empty());
    EXPECT_TRUE(realm.Groups.empty());
    RegistryKey users(key, "Users"), groups(key, "Groups");
    EXPECT_FALSE(users.Created);
    EXPECT_FALSE(groups.Created);
    EXPECT_FALSE(realm.Load(nullptr));
}

TEST(AuthRealm, SaveThenLoadKeepsUsersGroupsAndMembers) {
    TestHome home;
    AuthRealm saved;
    saved.SetName("Staff", "Everyone paid");
    EXPECT_EQ(saved.AddUser(AuthUser("ann", "secret")), 1);
    EXPECT_EQ(saved.AddUser(AuthUser("bob", "")), 2);
    AuthGroup editors;
    editors.SetName("editors");
    EXPECT_EQ(editors.AddUsername("ann"), 1);
    EXPECT_EQ(editors.AddUsername("bob"), 2);
    EXPECT_EQ(saved.AddGroup(editors), 1);
    AuthGroup empty;
    empty.SetName("idle");
    EXPECT_EQ(saved.AddGroup(empty), 2);
    {
        RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\Staff");
        EXPECT_TRUE(saved.Save(&key));
    }
    RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\Staff");
    AuthRealm loaded;
    loaded.AddUser(AuthUser("stale", "x"));  // replaced, not kept
    loaded.SetName("Staff", "");
    EXPECT_TRUE(loaded.Load(&key));
    EXPECT_EQ(loaded.Description, "Everyone paid");
    ASSERT_EQ(loaded.Users.size(), 2u);
    EXPECT_EQ(loaded.Users[0].Name, "ann");
    EXPECT_EQ(loaded.Users[0].Password, "secret");
    EXPECT_EQ(loaded.Users[1].Name, "bob");
    EXPECT_EQ(loaded.Users[1].Password, "");
    ASSERT_EQ(loaded.Groups.size(), 2u);
    EXPECT_EQ(loaded.Groups[0].Name, "editors");
    EXPECT_EQ(loaded.Groups[0].Members, (std::vector<std::string>{"ann", "bob"}));
    EXPECT_EQ(loaded.Groups[1].Name, "idle");
    EXPECT_TRUE(loaded.Groups[1].Members.empty());
}

TEST(AuthRealm, UnreadableEntriesAreSkipped) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\R");
    RegistryKey users(key, "Users");
    users.SaveString("first", "1");
    users.SaveString("long", std::string(1024, 'p'));  // a password too long to read
    users.SaveString("last", "3");
    AuthRealm realm;
    realm.Load(&key);
    ASSERT_EQ(realm.Users.size(), 2u);
    EXPECT_EQ(realm.Users[1].Name, "last");
}

TEST(AuthACL, AKeyWithOnlyARealm) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\/private");
    key.SaveString("Realm", "Staff");
    AuthACL list;
    list.SetPath("/private");
    list.AddAccess(AuthAccess("old", 0, 1));
    EXPECT_TRUE(list.Load(&key));
    EXPECT_EQ(list.Path, "/private");
    EXPECT_EQ(list.Realm, "Staff");
    EXPECT_EQ(list.DisableAutoIndex, 0);
    EXPECT_EQ(list.User_Or_Class, 0);
    EXPECT_TRUE(list.Access.empty());
    for (const char* sub : {"Users", "Groups", "Allow", "Deny"}) {
        RegistryKey child(key, sub);
        EXPECT_FALSE(child.Created) << sub;
    }
}

TEST(AuthACL, SaveThenLoadKeepsEntriesMasksAndTypes) {
    TestHome home;
    AuthACL saved;
    saved.SetPath("/docs");
    saved.Realm = "Staff";
    saved.DisableAutoIndex = 1;
    saved.User_Or_Class = -1;
    saved.AddAccess(AuthAccess("editors", 1, 0x7e));
    saved.AddAccess(AuthAccess("ann", 0, 0x04));
    saved.AddAccess(AuthAccess("ann", 1, 0x02));  // a group of the same name
    EXPECT_EQ(saved.AddAccess(AuthAccess("bob", 0, 0xffffffff)), 4);
    {
        RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\/docs");
        EXPECT_TRUE(saved.Save(&key));
    }
    RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\/docs");
    AuthACL loaded;
    EXPECT_TRUE(loaded.Load(&key));
    EXPECT_EQ(loaded.Realm, "Staff");
    EXPECT_EQ(loaded.DisableAutoIndex, 1);
    EXPECT_EQ(loaded.User_Or_Class, -1);
    struct Expected {
        const char* name;
        int type;
        uint32_t mask;
    };
    // Users first, then groups, each in the order written.
    const Expected expected[] = {{"ann", 0, 0x04}, {"bob", 0, 0xffffffff}, {"editors", 1, 0x7e}, {"ann", 1, 0x02}};
    ASSERT_EQ(loaded.Access.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(loaded.Access[i].Name, expected[i].name) << i;
        EXPECT_EQ(loaded.Access[i].EntryType, expected[i].type) << i;
        EXPECT_EQ(loaded.Access[i].Mask, expected[i].mask) << i;
    }
    loaded.FlushLists();
    EXPECT_TRUE(loaded.Access.empty());
    EXPECT_EQ(loaded.Realm, "Staff");
}

TEST(AuthACL, EntriesWhoseDataAreNotANumberAreSkipped) {
    TestHome home;
    RegistryKey key(HKEY_LOCAL_MACHINE, kBasic + "\\/x");
    RegistryKey users(key, "Users");
    users.SaveString("text", "longer than four bytes");
    users.SaveDWORD("ann", 6);
    AuthACL list;
    list.Load(&key);
    ASSERT_EQ(list.Access.size(), 1u);
    EXPECT_EQ(list.Access[0].Name, "ann");
}
