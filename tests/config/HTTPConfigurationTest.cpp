// Setups: defaults, the first load, reading over fields, trimming, saving
// and loading back, the working records, and saves that fail or crash.
#include "config/HTTPConfiguration.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/RegistryKey.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

using namespace platform::reg;
using testing_support::RunProgram;
using testing_support::TestHome;

namespace {

const std::string kSetupPath = "SOFTWARE\\Raziduzovo\\Varevavo\\Test";

std::vector<std::string> SubkeyNames(RegistryKey& key) {
    std::vector<std::string> names;
    std::string name;
    for (unsigned long i = 0; key.GetEnumKey(i, &name); ++i) names.push_back(name);
    return names;
}

std::vector<std::pair<std::string, std::string>> Pairs(const std::vector<Mapping>& list) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const Mapping& entry : list) pairs.emplace_back(entry.first, entry.second);
    return pairs;
}

// A record with every setting away from its default, every list filled.
HTTPConfiguration Unusual() {
    HTTPConfiguration c;
    c.DefaultConfiguration();
    c.ResolveName = 1;
    c.ResolveLocal = 0;
    c.SendVersionInfo = 0;
    c.UseKeepAlive = 1;
    c.UseMasterKey = 1;
    c.CGIDebugMode = 1;
    c.CGISendPassword = 0;
    c.PerlCGI = 0;
    c.ProcessSSI = 0;
    c.AccessLogMask = 0;
    c.ErrorLogMask = 2;
    c.ReferrerLogMask = 0;
    c.TraceLogMask = 7;
    c.AutoIndex = 3;
    c.SendTimeOut = 1000;
    c.RecvTimeOut = 2000;
    c.KeepAlive = 3000;
    c.CGITimeOut = 4000;
    c.PriorityLevel = 0;
    c.NumThreads = 64;
    c.MaxBodySize = 0;
    c.Port = -8080;  // signed fields keep their bit pattern
    c.BouncePort = 8081;
    c.BounceSite = "bounce.example.org";
    c.SiteAddress = "www.example.org";
    c.AdminEmail = "root@example.org";
    c.MasterUser = "chief";
    c.MasterPassword = "s\"e\\cret";
    c.DocRoot = "D:\\WWW";
    c.DefaultIndex = "default.htm";
    c.DefaultCharset = "iso-8859-1";
    c.PerlCmdLine = "/usr/bin/perl";
    c.AccessLogFileName = "D:\\LOGS\\A.LOG";
    c.ErrorLogFileName = "D:\\LOGS\\E.LOG";
    c.ReferrerLogFileName = "D:\\LOGS\\R.LOG";
    c.TraceLogFileName = "D:\\LOGS\\T.LOG";
    c.BindAddress = "::1";
    c.Alias.emplace_back("/docs", "D:\\DOCS");
    c.Redir.emplace_back("/old", "http://example.org/new/");
    c.CgiBin.emplace_back("/scripts", "D:\\SCRIPTS");
    c.CgiWin.emplace_back("/win", "D:\\WIN");
    c.Types.emplace_back("text/markdown", ".md");

    AuthRealm realm;
    realm.SetName("Staff", "The staff");
    realm.AddUser(AuthUser("ann", "pw1"));
    realm.AddUser(AuthUser("bob", ""));
    AuthGroup editors;
    editors.SetName("editors");
    editors.AddUsername("ann");
    editors.AddUsername("bob");
    realm.AddGroup(editors);
    AuthGroup empty;
    empty.SetName("nobody");
    realm.AddGroup(empty);
    c.RealmList.push_back(realm);
    AuthRealm second;
    second.SetName("Visitors", "");
    c.RealmList.push_back(second);

    AuthACL list;
    list.SetPath("/private");
    list.Realm = "Staff";
    list.DisableAutoIndex = 1;
    list.User_Or_Class = 2;
    list.AddAccess(AuthAccess("ann", 0, 0x24));
    list.AddAccess(AuthAccess("editors", 1, 0xfe));
    c.AccessControlList.push_back(list);
    return c;
}

void ExpectSameNumbers(const HTTPConfiguration& a, const HTTPConfiguration& b) {
    EXPECT_EQ(a.ResolveName, b.ResolveName);
    EXPECT_EQ(a.ResolveLocal, b.ResolveLocal);
    EXPECT_EQ(a.SendVersionInfo, b.SendVersionInfo);
    EXPECT_EQ(a.UseKeepAlive, b.UseKeepAlive);
    EXPECT_EQ(a.UseMasterKey, b.UseMasterKey);
    EXPECT_EQ(a.CGIDebugMode, b.CGIDebugMode);
    EXPECT_EQ(a.CGISendPassword, b.CGISendPassword);
    EXPECT_EQ(a.PerlCGI, b.PerlCGI);
    EXPECT_EQ(a.ProcessSSI, b.ProcessSSI);
    EXPECT_EQ(a.UseHTTP11, b.UseHTTP11);
    EXPECT_EQ(a.AccessLogMask, b.AccessLogMask);
    EXPECT_EQ(a.ErrorLogMask, b.ErrorLogMask);
    EXPECT_EQ(a.ReferrerLogMask, b.ReferrerLogMask);
    EXPECT_EQ(a.TraceLogMask, b.TraceLogMask);
    EXPECT_EQ(a.AutoIndex, b.AutoIndex);
    EXPECT_EQ(a.SendTimeOut, b.SendTimeOut);
    EXPECT_EQ(a.RecvTimeOut, b.RecvTimeOut);
    EXPECT_EQ(a.KeepAlive, b.KeepAlive);
    EXPECT_EQ(a.CGITimeOut, b.CGITimeOut);
    EXPECT_EQ(a.PriorityLevel, b.PriorityLevel);
    EXPECT_EQ(a.NumThreads, b.NumThreads);
    EXPECT_EQ(a.MaxBodySize, b.MaxBodySize);
    EXPECT_EQ(a.Port, b.Port);
    EXPECT_EQ(a.BouncePort, b.BouncePort);
}

void ExpectSameSettings(const HTTPConfiguration& a, const HTTPConfiguration& b) {
    ExpectSameNumbers(a, b);
    EXPECT_EQ(a.BounceSite, b.BounceSite);
    EXPECT_EQ(a.SiteAddress, b.SiteAddress);
    EXPECT_EQ(a.AdminEmail, b.AdminEmail);
    EXPECT_EQ(a.MasterUser, b.MasterUser);
    EXPECT_EQ(a.MasterPassword, b.MasterPassword);
    EXPECT_EQ(a.DocRoot, b.DocRoot);
    EXPECT_EQ(a.DefaultIndex, b.DefaultIndex);
    EXPECT_EQ(a.DefaultCharset, b.DefaultCharset);
    EXPECT_EQ(a.PerlCmdLine, b.PerlCmdLine);
    EXPECT_EQ(a.AccessLogFileName, b.AccessLogFileName);
    EXPECT_EQ(a.ErrorLogFileName, b.ErrorLogFileName);
    EXPECT_EQ(a.ReferrerLogFileName, b.ReferrerLogFileName);
    EXPECT_EQ(a.TraceLogFileName, b.TraceLogFileName);
    EXPECT_EQ(a.BindAddress, b.BindAddress);
    EXPECT_EQ(Pairs(a.Alias), Pairs(b.Alias));
    EXPECT_EQ(Pairs(a.Redir), Pairs(b.Redir));
    EXPECT_EQ(Pairs(a.CgiBin), Pairs(b.CgiBin));
    EXPECT_EQ(Pairs(a.CgiDos), Pairs(b.CgiDos));
    EXPECT_EQ(Pairs(a.CgiWin), Pairs(b.CgiWin));
    EXPECT_EQ(Pairs(a.Types), Pairs(b.Types));
}

// Saves the defaults of a new setup as "Test", for a test to change in the store.
void SaveDefaults() {
    HTTPConfiguration c;
    c.DefaultConfiguration();
    ASSERT_TRUE(c.SaveConfiguration("Test"));
}

// Loads the setup "Test" into a fresh record and compares it with expected,
// realms and access lists counted.
void ExpectStoredSetup(const HTTPConfiguration& expected) {
    HTTPConfiguration loaded;
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    ExpectSameSettings(loaded, expected);
    EXPECT_EQ(loaded.RealmList.size(), expected.RealmList.size());
    EXPECT_EQ(loaded.AccessControlList.size(), expected.AccessControlList.size());
}

}  // namespace

// A fresh record already has a new setup's numbers and index file, so a
// setup made by hand without them works as a new one would; its other texts
// and its lists wait for DefaultConfiguration or a load.
TEST(HTTPConfigurationModel, AFreshRecordHasTheNumbersOfANewSetup) {
    HTTPConfiguration fresh, defaults;
    defaults.DefaultConfiguration();
    ExpectSameNumbers(fresh, defaults);
    EXPECT_EQ(fresh.DefaultIndex, defaults.DefaultIndex);
    EXPECT_EQ(fresh.DefaultCharset, "utf-8");
    EXPECT_EQ(fresh.DefaultCharset, defaults.DefaultCharset);
    EXPECT_TRUE(fresh.DocRoot.empty());
    EXPECT_TRUE(fresh.Alias.empty());
    EXPECT_TRUE(fresh.Types.empty());
}

// Whatever a record held, DefaultConfiguration makes it a new setup: one
// entry in each path list but Redir, no realms or access lists.
TEST(HTTPConfigurationModel, DefaultConfigurationReplacesEverything) {
    HTTPConfiguration defaults, c = Unusual();
    defaults.DefaultConfiguration();
    c.DefaultConfiguration();
    ExpectSameSettings(c, defaults);
    EXPECT_TRUE(c.Redir.empty());
    for (const auto* list : {&c.Alias, &c.CgiBin, &c.CgiDos, &c.CgiWin}) EXPECT_EQ(list->size(), 1u);
    EXPECT_TRUE(c.RealmList.empty());
    EXPECT_TRUE(c.AccessControlList.empty());
    c.FlushAllLists();
    EXPECT_EQ(c.DocRoot, defaults.DocRoot) << "a flush leaves the scalars";
    EXPECT_TRUE(c.Alias.empty());
    EXPECT_TRUE(c.Types.empty());
}

// The built-in MIME table: 43 types, each extension once, searched first
// match first and without regard to case, and put back whole by
// UpdateMIMETypes whatever Types held.
TEST(HTTPConfigurationModel, TheFortyThreeBuiltInTypes) {
    HTTPConfiguration c;
    c.Types.emplace_back("text/x-mine", ".txt");
    c.UpdateMIMETypes();
    ASSERT_EQ(c.Types.size(), 43u);
    std::set<std::string> extensions;
    for (const Mapping& type : c.Types) EXPECT_TRUE(extensions.insert(type.second).second) << type.second;
    EXPECT_EQ(MIMELookup("notes.txt", &c.Types), "text/plain");
    EXPECT_EQ(MIMELookup("page.shtml", &c.Types), "text/x-server-parsed-html");
    EXPECT_EQ(MIMELookup("photo.JPG", &c.Types), "image/jpeg");
}

TEST(HTTPConfigurationPersistence, TheFirstLoadCreatesAWholeSetup) {
    TestHome home;
    HTTPConfiguration c;
    EXPECT_TRUE(c.LoadConfiguration("Test"));
    HTTPConfiguration defaults;
    defaults.DefaultConfiguration();
    ExpectSameSettings(c, defaults);

    RegistryKey setup(HKEY_LOCAL_MACHINE, kSetupPath);
    EXPECT_FALSE(setup.Created);
    EXPECT_EQ(setup.NumValues(), 0u);
    EXPECT_EQ(SubkeyNames(setup), (std::vector<std::string>{"Access", "Alias", "Authentication", "CgiBin", "CgiDos",
                                                            "CgiWin", "External", "Index", "Log", "Network", "Redir",
                                                            "Server", "TLS", "Types"}));
    const std::pair<const char*, unsigned long> counts[] = {
        {"Network", 8}, {"Server", 17}, {"Index", 1}, {"Log", 8}, {"External", 5}, {"Alias", 1}, {"Redir", 0},
        {"CgiBin", 1}, {"CgiDos", 1}, {"CgiWin", 1}, {"Types", 43}, {"Access\\Basic", 0}, {"Authentication\\Basic", 0},
        {"TLS", 10}};
    for (const auto& [name, count] : counts) {
        RegistryKey key(setup, name);
        EXPECT_FALSE(key.Created) << name;
        EXPECT_EQ(key.NumValues(), count) << name;
    }
    // Spot checks of the stored form: numbers as REG_DWORD, texts as REG_SZ.
    RegistryKey network(setup, "Network");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_EQ(RegQueryValueEx(network.KeyHandle, "Port", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, (std::vector<uint8_t>{80, 0, 0, 0}));
    RegistryKey server(setup, "Server");
    EXPECT_EQ(RegQueryValueEx(server.KeyHandle, "MasterPassword", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, std::vector<uint8_t>{0});
    RegistryKey types(setup, "Types");
    std::string name, mime;
    EXPECT_TRUE(types.GetEnumString(36, &name, &mime));
    EXPECT_EQ(name, ".shtml");
    EXPECT_EQ(mime, "text/x-server-parsed-html");
}

TEST(HTTPConfigurationPersistence, SaveThenLoadKeepsEverything) {
    TestHome home;
    HTTPConfiguration saved = Unusual();
    ASSERT_TRUE(saved.SaveConfiguration("Test"));
    HTTPConfiguration loaded;
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    ExpectSameSettings(loaded, saved);

    ASSERT_EQ(loaded.RealmList.size(), 2u);
    const AuthRealm& staff = loaded.RealmList[0];
    EXPECT_EQ(staff.Name, "Staff");
    EXPECT_EQ(staff.Description, "The staff");
    ASSERT_EQ(staff.Users.size(), 2u);
    EXPECT_EQ(staff.Users[0].Name, "ann");
    EXPECT_EQ(staff.Users[0].Password, "pw1");
    EXPECT_EQ(staff.Users[1].Name, "bob");
    EXPECT_EQ(staff.Users[1].Password, "");
    ASSERT_EQ(staff.Groups.size(), 2u);
    EXPECT_EQ(staff.Groups[0].Name, "editors");
    EXPECT_EQ(staff.Groups[0].Members, (std::vector<std::string>{"ann", "bob"}));
    EXPECT_EQ(staff.Groups[1].Name, "nobody");
    EXPECT_TRUE(staff.Groups[1].Members.empty());
    EXPECT_EQ(loaded.RealmList[1].Name, "Visitors");
    EXPECT_TRUE(loaded.RealmList[1].Users.empty());

    ASSERT_EQ(loaded.AccessControlList.size(), 1u);
    const AuthACL& list = loaded.AccessControlList[0];
    EXPECT_EQ(list.Path, "/private");
    EXPECT_EQ(list.Realm, "Staff");
    EXPECT_EQ(list.DisableAutoIndex, 1);
    EXPECT_EQ(list.User_Or_Class, 2);
    ASSERT_EQ(list.Access.size(), 2u);
    EXPECT_EQ(list.Access[0].Name, "ann");
    EXPECT_EQ(list.Access[0].EntryType, 0);
    EXPECT_EQ(list.Access[0].Mask, 0x24u);
    EXPECT_EQ(list.Access[1].Name, "editors");
    EXPECT_EQ(list.Access[1].EntryType, 1);
    EXPECT_EQ(list.Access[1].Mask, 0xfeu);

    // Saving again what was loaded changes nothing.
    ASSERT_TRUE(loaded.SaveConfiguration("Test"));
    ExpectStoredSetup(saved);
}

TEST(HTTPConfigurationPersistence, AMissingValueKeepsTheFieldsEarlierValue) {
    TestHome home;
    HTTPConfiguration c;
    c.DefaultConfiguration();
    c.DocRoot = "D:\\SITE";
    ASSERT_TRUE(c.SaveConfiguration("Test"));
    {
        RegistryKey network(HKEY_LOCAL_MACHINE, kSetupPath + "\\Network");
        ASSERT_EQ(RegDeleteValue(network.KeyHandle, "Port"), ERROR_SUCCESS);
    }
    HTTPConfiguration loaded;
    loaded.Port = 1234;
    loaded.Alias.emplace_back("/stale", "X");
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    EXPECT_EQ(loaded.Port, 1234);
    EXPECT_EQ(loaded.DocRoot, "D:\\SITE");
    EXPECT_EQ(loaded.Alias.size(), 1u);  // lists are emptied before reading
    EXPECT_EQ(loaded.Alias[0].first, "/ICONS");
}

// A new setup answers HTTP/1.1 as such; one saved before the setting
// existed goes on answering it as HTTP/1.0 until the operator turns it on.
TEST(HTTPConfigurationPersistence, HTTP11IsOnInNewSetupsOnly) {
    TestHome home;
    HTTPConfiguration fresh;
    ASSERT_TRUE(fresh.LoadConfiguration("Test"));
    EXPECT_EQ(fresh.UseHTTP11, 1);
    {
        RegistryKey network(HKEY_LOCAL_MACHINE, kSetupPath + "\\Network");
        ASSERT_EQ(RegDeleteValue(network.KeyHandle, "UseHTTP11"), ERROR_SUCCESS);
    }
    HTTPConfiguration earlier;
    ASSERT_TRUE(earlier.LoadConfiguration("Test"));
    EXPECT_EQ(earlier.UseHTTP11, 0);
}

// A setup saved before DefaultCharset existed serves plain text as a new
// one does; one that empties it names no charset.
TEST(HTTPConfigurationPersistence, AnEmptyCharsetIsKeptAndAMissingOneIsTheDefault) {
    TestHome home;
    HTTPConfiguration c;
    c.DefaultConfiguration();
    c.DefaultCharset = "";
    ASSERT_TRUE(c.SaveConfiguration("Test"));
    HTTPConfiguration emptied;
    ASSERT_TRUE(emptied.LoadConfiguration("Test"));
    EXPECT_EQ(emptied.DefaultCharset, "");
    {
        RegistryKey server(HKEY_LOCAL_MACHINE, kSetupPath + "\\Server");
        ASSERT_EQ(RegDeleteValue(server.KeyHandle, "DefaultCharset"), ERROR_SUCCESS);
    }
    HTTPConfiguration older;
    ASSERT_TRUE(older.LoadConfiguration("Test"));
    EXPECT_EQ(older.DefaultCharset, "utf-8");
}

TEST(HTTPConfigurationPersistence, TrailingSeparatorsAreTrimmedOnLoading) {
    TestHome home;
    SaveDefaults();
    {
        RegistryKey server(HKEY_LOCAL_MACHINE, kSetupPath + "\\Server");
        server.SaveString("DocRoot", "C:\\WWW\\\\\\");
        RegistryKey alias(HKEY_LOCAL_MACHINE, kSetupPath + "\\Alias");
        alias.SaveString("/docs//", "C:\\DOCS\\\\");
        alias.SaveString("/mixed", "C:\\MIXED\\/");
        alias.SaveString("/", "C:\\ROOT");
        RegistryKey cgi(HKEY_LOCAL_MACHINE, kSetupPath + "\\CgiBin");
        cgi.SaveString("/tools/", "/srv/tools/");
        RegistryKey redir(HKEY_LOCAL_MACHINE, kSetupPath + "\\Redir");
        redir.SaveString("/old/", "http://example.org/new/");
    }
    HTTPConfiguration loaded;
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    EXPECT_EQ(loaded.DocRoot, "C:\\WWW");
    EXPECT_EQ(Pairs(loaded.Alias), (std::vector<std::pair<std::string, std::string>>{{"/ICONS", "C:\\HTTPD\\ICONS"},
                                                                                     {"/docs", "C:\\DOCS"},
                                                                                     {"/mixed", "C:\\MIXED\\"},
                                                                                     {"", "C:\\ROOT"}}));
    EXPECT_EQ(Pairs(loaded.CgiBin), (std::vector<std::pair<std::string, std::string>>{{"/CGI-BIN", "C:\\HTTPD\\CGI-BIN"},
                                                                                      {"/tools", "/srv/tools"}}));
    EXPECT_EQ(Pairs(loaded.Redir), (std::vector<std::pair<std::string, std::string>>{{"/old", "http://example.org/new/"}}));
}

TEST(HTTPConfigurationPersistence, EntriesWithEqualNamesCollapseOnSaving) {
    TestHome home;
    HTTPConfiguration c;
    c.DefaultConfiguration();
    c.Types.emplace_back("text/x-first", ".htm");  // .htm is in the table already
    c.Alias.emplace_back("/Pics", "C:\\ONE");
    c.Alias.emplace_back("/PICS", "C:\\TWO");
    EXPECT_EQ(c.Types.size(), 44u);
    ASSERT_TRUE(c.SaveConfiguration("Test"));
    HTTPConfiguration loaded;
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    EXPECT_EQ(loaded.Types.size(), 43u);
    EXPECT_EQ(MIMELookup("a.htm", &loaded.Types), "text/x-first");
    EXPECT_EQ(loaded.Types[33].second, ".htm");  // in the place of the first writing
    EXPECT_EQ(Pairs(loaded.Alias), (std::vector<std::pair<std::string, std::string>>{{"/ICONS", "C:\\HTTPD\\ICONS"},
                                                                                     {"/Pics", "C:\\TWO"}}));
}

// Realms and access lists are read through one working record each: a list
// key that lacks a value takes it from the list read before, but for its
// realm: borrowing another list's realm would let that realm's users in.
TEST(HTTPConfigurationPersistence, TheWorkingRecordsCarryOverMissingValues) {
    TestHome home;
    SaveDefaults();
    {
        RegistryKey first(HKEY_LOCAL_MACHINE, kSetupPath + "\\Access\\Basic\\/a");
        first.SaveString("Realm", "Staff");
        first.SaveDWORD("DisableAutoIndex", 1);
        first.SaveDWORD("User_Or_Class", 3);
        RegistryKey users(first, "Users");
        users.SaveDWORD("ann", 4);
        RegistryKey second(HKEY_LOCAL_MACHINE, kSetupPath + "\\Access\\Basic\\/b");
        RegistryKey realmA(HKEY_LOCAL_MACHINE, kSetupPath + "\\Authentication\\Basic\\A");
        realmA.SaveString("Description", "first");
        RegistryKey realmB(HKEY_LOCAL_MACHINE, kSetupPath + "\\Authentication\\Basic\\B");
    }
    HTTPConfiguration loaded;
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    ASSERT_EQ(loaded.AccessControlList.size(), 2u);
    const AuthACL& b = loaded.AccessControlList[1];
    EXPECT_EQ(b.Path, "/b");
    EXPECT_EQ(b.Realm, "");
    EXPECT_EQ(b.DisableAutoIndex, 1);
    EXPECT_EQ(b.User_Or_Class, 3);
    EXPECT_TRUE(b.Access.empty());  // entries never carry over
    ASSERT_EQ(loaded.RealmList.size(), 2u);
    EXPECT_EQ(loaded.RealmList[1].Description, "");  // SetName starts each realm anew
    // Loading made the empty subkeys of both lists.
    RegistryKey allow(HKEY_LOCAL_MACHINE, kSetupPath + "\\Access\\Basic\\/b\\Allow");
    EXPECT_FALSE(allow.Created);
}

TEST(HTTPConfigurationPersistence, RealmsAndListsWithoutANameAreNotWritten) {
    TestHome home;
    HTTPConfiguration c = Unusual();
    c.RealmList.emplace_back();
    c.AccessControlList.emplace_back();
    ASSERT_TRUE(c.SaveConfiguration("Test"));
    RegistryKey basic(HKEY_LOCAL_MACHINE, kSetupPath + "\\Authentication\\Basic");
    EXPECT_EQ(basic.NumValues(), 0u);
    EXPECT_EQ(SubkeyNames(basic), (std::vector<std::string>{"Staff", "Visitors"}));
}

TEST(HTTPConfigurationPersistence, DeleteConfigurationKeepsTheSetupKey) {
    TestHome home;
    HTTPConfiguration c = Unusual();
    ASSERT_TRUE(c.SaveConfiguration("Test"));
    EXPECT_TRUE(c.DeleteConfiguration("Test"));
    RegistryKey setup(HKEY_LOCAL_MACHINE, kSetupPath);
    EXPECT_FALSE(setup.Created);
    EXPECT_EQ(setup.NumKeys(), 0u);
    EXPECT_TRUE(c.DeleteConfiguration("Other"));
    RegistryKey other(HKEY_LOCAL_MACHINE, "SOFTWARE\\Raziduzovo\\Varevavo\\Other");
    EXPECT_FALSE(other.Created);
}

TEST(HTTPConfigurationPersistence, AFailureAfterTheDeleteLeavesTheOldSetupWhole) {
    TestHome home;
    HTTPConfiguration old = Unusual();
    ASSERT_TRUE(old.SaveConfiguration("Test"));
    HTTPConfiguration changed;
    changed.DefaultConfiguration();
    // The first commit of a save is the end of the old setup's deletion.
    CommitSeam = [] { return false; };
    EXPECT_FALSE(changed.SaveConfiguration("Test"));
    CommitSeam = nullptr;
    ExpectStoredSetup(old);
}

// The same with a real crash: another process dies in the middle of a save.
TEST(HTTPConfigurationPersistence, ACrashDuringASaveLeavesTheOldSetupWhole) {
    TestHome home;
    HTTPConfiguration old = Unusual();
    ASSERT_TRUE(old.SaveConfiguration("Test"));
    const auto crashed = RunProgram({SAVE_CRASHER, "Test"});
    EXPECT_NE(crashed.status, 0);
    EXPECT_NE(crashed.out.find("deleted"), std::string::npos) << crashed.out << crashed.err;
    ExpectStoredSetup(old);
}

// A new setup and its port arrive together or not at all: stopped (as a
// crash would stop it) at any of its commits, making a setup leaves none,
// never one with the default port.
TEST(HTTPConfigurationPersistence, ANewSetupGetsItsPortInOneTransaction) {
    TestHome home;
    static int commits;
    static int stop;
    for (stop = 1;; ++stop) {
        SCOPED_TRACE(stop);
        ASSERT_LT(stop, 50) << "making a setup never got through";
        commits = 0;
        CommitSeam = [] { return ++commits != stop; };
        HTTPConfiguration c;
        const bool made = c.PrepareSetup("Test", 8080);
        CommitSeam = nullptr;
        if (commits < stop) {  // no commit was stopped
            EXPECT_TRUE(made);
            break;
        }
        EXPECT_FALSE(made);
        HKEY key = kNoKey;
        EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSetupPath, &key), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_GT(stop, 2) << "a new setup is loaded, defaulted and saved again with its port";
    HTTPConfiguration created;
    ASSERT_TRUE(created.PrepareSetup("Test", 8080));
    EXPECT_EQ(created.Port, 8080);
    HTTPConfiguration expected;
    expected.DefaultConfiguration();
    expected.Port = 8080;
    ExpectStoredSetup(expected);
    HTTPConfiguration again;
    ASSERT_TRUE(again.PrepareSetup("Test", 0));
    EXPECT_EQ(again.Port, 8080) << "without a port the setup stays as it is";
}

// A setup made for a person differs from a new setup in four settings, and
// only when it is new: one that exists keeps its own, but for the port.
TEST(HTTPConfigurationPersistence, APersonalSetupGetsItsSettingsOnlyWhenNew) {
    TestHome home;
    HTTPConfiguration made;
    ASSERT_TRUE(made.PrepareSetup("Test", 8080, true));
    HTTPConfiguration expected;
    expected.DefaultConfiguration();
    expected.Port = 8080;
    expected.UseKeepAlive = 1;
    expected.NumThreads = 64;
    expected.ResolveLocal = 0;
    expected.PerlCmdLine = "/usr/bin/perl";
    ExpectSameSettings(made, expected);
    ExpectStoredSetup(expected);

    HTTPConfiguration changed = made;
    changed.UseKeepAlive = 0;
    changed.ResolveLocal = 1;
    changed.NumThreads = 16;
    changed.PerlCmdLine = "perl -T";
    ASSERT_TRUE(changed.SaveConfiguration("Test"));
    HTTPConfiguration again;
    ASSERT_TRUE(again.PrepareSetup("Test", 8081, true));
    changed.Port = 8081;
    ExpectStoredSetup(changed);
}

// Where no store can be opened, loading only empties the lists.
TEST(HTTPConfigurationPersistence, LoadingWithoutAStoreEmptiesOnlyTheLists) {
    TestHome home;
    TestHome::WriteFile(home.Path() + "/file", "");
    ::setenv("VAREVAVO_HOME", (home.Path() + "/file/home").c_str(), 1);
    HTTPConfiguration c;
    c.DefaultConfiguration();
    c.Port = 81;
    EXPECT_FALSE(c.LoadConfiguration("Test"));
    EXPECT_EQ(c.Port, 81);
    EXPECT_EQ(c.DocRoot, "C:\\HTTPD\\HTDOCS");
    EXPECT_TRUE(c.Types.empty());
    EXPECT_FALSE(c.SaveConfiguration("Test"));
}

// A new setup compresses; one saved before the setting existed does not,
// even when the record it is loaded into did.
TEST(HTTPConfigurationPersistence, CompressionIsOnInNewSetupsOnlyAndOffWhereMissing) {
    TestHome home;
    HTTPConfiguration fresh;
    ASSERT_TRUE(fresh.LoadConfiguration("Test"));
    EXPECT_EQ(fresh.Compression, 1);
    {
        RegistryKey server(HKEY_LOCAL_MACHINE, kSetupPath + "\\Server");
        ASSERT_EQ(RegDeleteValue(server.KeyHandle, "Compression"), ERROR_SUCCESS);
    }
    ASSERT_TRUE(fresh.LoadConfiguration("Test"));
    EXPECT_EQ(fresh.Compression, 0);
}

// The automatic-certificate settings: a new setup has them off with the
// public authority's directory, they survive a save, and a setup that lacks
// the switch never starts fetching certificates.
TEST(HTTPConfigurationPersistence, AutomaticCertificateSettingsRoundTrip) {
    TestHome home;
    using Settings = std::tuple<int, std::string, std::string, std::string>;
    const auto acme = [](const HTTPConfiguration& c) {
        return Settings(c.AutoCertificate, c.ACMEDirectory, c.ACMEEmail, c.ACMENames);
    };
    HTTPConfiguration c;
    ASSERT_TRUE(c.LoadConfiguration("Test"));
    EXPECT_EQ(acme(c), Settings(0, "https://acme-v02.api.letsencrypt.org/directory", "", ""));
    c.AutoCertificate = 1;
    c.ACMEDirectory = "https://127.0.0.1:14000/dir";
    c.ACMEEmail = "ops@site.test";
    c.ACMENames = "site.test,www.site.test";
    ASSERT_TRUE(c.SaveConfiguration("Test"));
    HTTPConfiguration loaded;
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    EXPECT_EQ(acme(loaded), acme(c));
    {
        RegistryKey tls(HKEY_LOCAL_MACHINE, kSetupPath + "\\TLS");
        ASSERT_EQ(RegDeleteValue(tls.KeyHandle, "AutoCertificate"), ERROR_SUCCESS);
    }
    ASSERT_TRUE(loaded.LoadConfiguration("Test"));
    EXPECT_EQ(loaded.AutoCertificate, 0);
}
