// varevavo-passwd run as a real program against the registry store of the
// test's home, and realms and access lists carried through varevavo-reg's
// export and import.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "platform/PasswordHash.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TestHome;

namespace {

RunResult Passwd(std::vector<std::string> arguments, const std::string& input) {
    arguments.insert(arguments.begin(), VAREVAVO_PASSWD);
    return RunProgram(arguments, input);
}

HTTPConfiguration Stored(const std::string& setup = "Primary") {
    HTTPConfiguration c;
    EXPECT_TRUE(c.LoadConfiguration(setup));
    return c;
}

const AuthUser* User(const HTTPConfiguration& c, const std::string& realm, const std::string& user) {
    for (const AuthRealm& r : c.RealmList)
        if (r.Name == realm)
            for (const AuthUser& u : r.Users)
                if (u.Name == user) return &u;
    return nullptr;
}

// A setup with one realm holding a plain password, as older setups have.
void OldSetup(const std::string& setup = "Primary") {
    HTTPConfiguration c;
    c.DefaultConfiguration();
    AuthRealm staff;
    staff.SetName("Staff", "the team");
    staff.AddUser(AuthUser("carol", "plain"));
    c.RealmList.push_back(staff);
    ASSERT_TRUE(c.SaveConfiguration(setup));
}

}  // namespace

TEST(PasswdTool, StoresHashesForNewAndExistingUsersAndRealms) {
    TestHome home;
    OldSetup();
    RunResult r = Passwd({"Staff", "dave"}, "first pass\nfirst pass\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "User 'dave' added to realm 'Staff'.\n");
    r = Passwd({"Staff", "carol"}, "new/$pw\r\nnew/$pw\r\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Password of user 'carol' in realm 'Staff' changed.\n");
    r = Passwd({"Guests", "erin"}, "x\nx");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Realm 'Guests' created.\nUser 'erin' added to realm 'Guests'.\n");

    const HTTPConfiguration c = Stored();
    for (const auto& [realm, user, password] : {std::tuple{"Staff", "dave", "first pass"},
                                                std::tuple{"Staff", "carol", "new/$pw"},
                                                std::tuple{"Guests", "erin", "x"}}) {
        const AuthUser* u = User(c, realm, user);
        ASSERT_NE(u, nullptr) << user;
        EXPECT_EQ(u->Password.rfind("$y$", 0), 0u) << u->Password;
        EXPECT_TRUE(platform::PasswordMatches(u->Password, password)) << user;
        EXPECT_FALSE(platform::PasswordMatches(u->Password, "wrong")) << user;
    }
    EXPECT_EQ(c.RealmList.size(), 2u);
    for (const AuthRealm& realm : c.RealmList)
        EXPECT_EQ(realm.Description, realm.Name == "Staff" ? "the team" : "") << "the rest of the realm stays";
}

TEST(PasswdTool, MasterPasswordOfANamedSetup) {
    TestHome home;
    OldSetup("Other");
    OldSetup();
    const RunResult r = Passwd({"--setup", "Other", "--master"}, "open sesame\nopen sesame\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Master password of setup 'Other' set.\n");
    EXPECT_TRUE(platform::PasswordMatches(Stored("Other").MasterPassword, "open sesame"));
    EXPECT_EQ(Stored("Primary").MasterPassword, "") << "only the named setup changes";
}

TEST(PasswdTool, RefusalsChangeNothing) {
    TestHome home;
    OldSetup();
    const struct {
        std::vector<std::string> arguments;
        std::string input;
        int status;
        std::string problem;
    } cases[] = {
        {{"Staff", "carol"}, "one\ntwo\n", 1, "the two passwords differ"},
        {{"Staff", "carol"}, "\n\n", 1, "an empty password is refused"},
        {{"Staff", "carol"}, "only once\n", 1, "not given twice"},
        {{"--master"}, "", 1, "not given twice"},
        {{"--setup", "Nowhere", "Staff", "carol"}, "a\na\n", 1, "no setup named 'Nowhere'"},
        {{"Staff", "car:ol"}, "a\na\n", 1, "cannot hold a colon"},
        {{"Sta\\ff", "carol"}, "a\na\n", 1, "cannot hold a backslash"},
        {{"Staff"}, "a\na\n", 2, "Usage: varevavo-passwd"},
        {{"--master", "Staff", "carol"}, "a\na\n", 2, "Usage: varevavo-passwd"},
        {{"--setup"}, "", 2, "Usage: varevavo-passwd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        const RunResult r = Passwd(c.arguments, c.input);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
        const HTTPConfiguration stored = Stored();
        ASSERT_EQ(stored.RealmList.size(), 1u);
        ASSERT_EQ(stored.RealmList[0].Users.size(), 1u);
        EXPECT_EQ(stored.RealmList[0].Users[0].Password, "plain");
        EXPECT_EQ(stored.MasterPassword, "");
    }
    EXPECT_FALSE(HTTPConfiguration::SetupExists("Nowhere")) << "a misspelt setup is not made";
}

// Hashes hold '$', '/' and '.', which the REGEDIT4 text must carry as they
// are; realms and lists come back from an import exactly as exported.
TEST(PasswdTool, ExportAndImportCarryRealmsAndListsUnchanged) {
    std::string exported;
    HTTPConfiguration before;
    {
        TestHome home;
        OldSetup();
        ASSERT_EQ(Passwd({"Staff", "dave"}, "a/b$c\na/b$c\n").status, 0);
        before = Stored();
        AuthGroup editors;
        editors.SetName("Editors");
        editors.AddUsername("dave");
        editors.AddUsername("carol");
        before.RealmList[0].AddGroup(editors);
        AuthACL list;
        list.SetPath("/private/docs");
        list.Realm = "Staff";
        list.DisableAutoIndex = 1;
        list.AddAccess(AuthAccess("carol", 0, 0x0C));
        list.AddAccess(AuthAccess("Editors", 1, 0xFE));
        before.AccessControlList.push_back(list);
        ASSERT_TRUE(before.SaveConfiguration("Primary"));
        before = Stored();
        const std::string file = home.TempDir() + "/setup.reg";
        const RunResult r = RunProgram({VAREVAVO_REG, "export", "HKLM\\SOFTWARE\\Raziduzovo", file});
        ASSERT_EQ(r.status, 0) << r.err;
        exported = TestHome::ReadFile(file);
    }
    TestHome fresh;
    const std::string file = fresh.TempDir() + "/setup.reg";
    TestHome::WriteFile(file, exported);
    const RunResult r = RunProgram({VAREVAVO_REG, "import", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const HTTPConfiguration after = Stored();
    ASSERT_EQ(after.RealmList.size(), 1u);
    const AuthRealm& realm = after.RealmList[0];
    EXPECT_EQ(realm.Description, "the team");
    ASSERT_EQ(realm.Users.size(), 2u);
    for (size_t i = 0; i < realm.Users.size(); ++i) {
        EXPECT_EQ(realm.Users[i].Name, before.RealmList[0].Users[i].Name);
        EXPECT_EQ(realm.Users[i].Password, before.RealmList[0].Users[i].Password);
    }
    EXPECT_TRUE(platform::PasswordMatches(User(after, "Staff", "dave")->Password, "a/b$c"));
    ASSERT_EQ(realm.Groups.size(), 1u);
    EXPECT_EQ(realm.Groups[0].Members, (std::vector<std::string>{"dave", "carol"}));
    ASSERT_EQ(after.AccessControlList.size(), 1u);
    const AuthACL& list = after.AccessControlList[0];
    EXPECT_EQ(list.Path, "/private/docs");
    EXPECT_EQ(list.Realm, "Staff");
    EXPECT_EQ(list.DisableAutoIndex, 1);
    ASSERT_EQ(list.Access.size(), 2u);
    EXPECT_EQ(list.Access[0].Name, "carol");
    EXPECT_EQ(list.Access[0].EntryType, 0);
    EXPECT_EQ(list.Access[0].Mask, 0x0Cu);
    EXPECT_EQ(list.Access[1].Name, "Editors");
    EXPECT_EQ(list.Access[1].EntryType, 1);
    EXPECT_EQ(list.Access[1].Mask, 0xFEu);
}
