// The property sheet against real widgets: every control loads its setting
// and stores it back through the registry store, the enabling and priority
// rules, numeric parsing, the mapping pages, and pages never opened.
#include "shell/desktop/PropertySheet.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QValidator>
#include <functional>
#include <memory>

#include "platform/MessageDisplay.h"
#include "platform/PasswordHash.h"
#include "shell/desktop/MappingDialog.h"
#include "shell/desktop/PropertyPage.h"
#include "tests/desktop/DesktopTestSupport.h"

using desktop_testing::DesktopSite;
using desktop_testing::MessageRecorder;

namespace {

enum PageIndex {
    kNetwork, kServer, kSecurity, kLogging, kAlias, kRedirection, kStdCGI, kWinCGI, kMIME, kIndexing, kUsers, kAccess,
    kAdvanced, kHTTPS
};

// A sheet over a copy of the setup "Primary" (the defaults, then tweak),
// as the server's EditProperties makes it.
struct Sheet {
    explicit Sheet(const std::function<void(HTTPConfiguration&)>& tweak = {}) {
        HTTPConfiguration setup;
        setup.DefaultConfiguration();
        if (tweak) tweak(setup);
        setup.SaveConfiguration("Primary");
        copy.LoadConfiguration("Primary");
        sheet = std::make_unique<PropertySheet>(nullptr, "Varevavo", &copy);
    }

    template <class T = QWidget>
    T* Control(int page, int id) {
        sheet->ShowPage(page);
        return sheet->Page(page)->findChild<T*>(QString("id%1").arg(id));
    }

    // Closes the sheet (the pages write back), saves the copy as an
    // accepted sheet's caller does, and reads the setup back from the store.
    HTTPConfiguration SaveAndReload() {
        sheet.reset();
        copy.SaveConfiguration("Primary");
        return DesktopSite::Stored();
    }

    testing_support::TestHome home;
    HTTPConfiguration copy;
    std::unique_ptr<PropertySheet> sheet;
};

QString LabelOf(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
    for (QLabel* label : control->parentWidget()->findChildren<QLabel*>())
        if (label->buddy() == control) return label->text();
    return "<no label>";
}

QString Shown(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
    return qobject_cast<QAbstractButton*>(control)->isChecked() ? "1" : "0";
}

void Enter(QWidget* control, const QString& value) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(value);
    else qobject_cast<QAbstractButton*>(control)->setChecked(value == "1");
}

enum class Kind { Edit, Box, Radio };

bool IsKind(QWidget* control, Kind kind) {
    switch (kind) {
        case Kind::Edit: return qobject_cast<QLineEdit*>(control) != nullptr;
        case Kind::Box: return qobject_cast<QCheckBox*>(control) != nullptr;
        case Kind::Radio: return qobject_cast<QRadioButton*>(control) != nullptr;
    }
    return false;
}

void LoadedSetup(HTTPConfiguration& c) {
    c.Port = 8081;
    c.NumThreads = 20;
    c.RecvTimeOut = 1111;
    c.SendTimeOut = 2222;
    c.UseKeepAlive = 1;
    c.KeepAlive = 3333;
    c.CGITimeOut = 4444;
    c.SiteAddress = "site.test";
    c.ResolveLocal = 0;
    c.DocRoot = "D:\\WWW";
    c.DefaultIndex = "home.htm";
    c.DefaultCharset = "iso-8859-1";
    c.AdminEmail = "admin@site.test";
    c.ResolveName = 1;
    c.SendVersionInfo = 0;
    c.PriorityLevel = 3;
    c.UseMasterKey = 1;
    c.MasterUser = "boss";
    c.MasterPassword = "secret";
    c.AccessLogMask = 1;
    c.ErrorLogMask = 0;
    c.ReferrerLogMask = 1;
    c.TraceLogMask = 0;
    c.AccessLogFileName = "C:\\L\\A.LOG";
    c.ErrorLogFileName = "C:\\L\\E.LOG";
    c.ReferrerLogFileName = "C:\\L\\R.LOG";
    c.TraceLogFileName = "C:\\L\\T.LOG";
    c.AutoIndex = 1;
    c.ProcessSSI = 0;
    c.PerlCGI = 1;
    c.CGIDebugMode = 0;
    c.CGISendPassword = 1;
    c.PerlCmdLine = "perl -T";
    c.MaxBodySize = 1000;
    c.BounceSite = "bounce.test";
    c.BouncePort = 8888;
    c.BindAddress = "127.0.0.1";
    c.UseHTTP11 = 1;
    c.UseTLS = 1;
    c.TLSPort = 8443;
    c.CertificateFile = "C:\\T\\S.CRT";
    c.KeyFile = "C:\\T\\S.KEY";
    c.RedirectToTLS = 0;
    c.AllowPlainCredentials = 1;
    c.AutoCertificate = 0;
    c.ACMEDirectory = "https://ca.test/dir";
    c.ACMEEmail = "ops@site.test";
    c.ACMENames = "site.test,www.site.test";
}

// Every control of the non-list pages: id, kind and label, the value it
// shows for LoadedSetup, the value entered, and the setting that results.
struct ControlCase {
    const char* name;
    int page;
    int id;
    Kind kind;
    const char* label;
    const char* shown;
    const char* entered;
    std::function<bool(const HTTPConfiguration&)> stored;
};

const std::vector<ControlCase>& ControlCases() {
    using C = const HTTPConfiguration&;
    static const std::vector<ControlCase> cases = {
        {"Port", kNetwork, 10, Kind::Edit, "Port", "8081", "9090", [](C c) { return c.Port == 9090; }},
        {"NumThreads", kNetwork, 17, Kind::Edit, "Number of Simultaneous Connections:", "20", "64",
         [](C c) { return c.NumThreads == 64; }},
        {"RecvTimeOut", kNetwork, 11, Kind::Edit, "Receive", "1111", "5000", [](C c) { return c.RecvTimeOut == 5000; }},
        {"SendTimeOut", kNetwork, 12, Kind::Edit, "Send", "2222", "6000", [](C c) { return c.SendTimeOut == 6000; }},
        {"UseKeepAlive", kNetwork, 15, Kind::Box, "Use Keep-Alives", "1", "0", [](C c) { return c.UseKeepAlive == 0; }},
        // Typed while disabled by the box above: the value is stored all the same.
        {"KeepAlive", kNetwork, 13, Kind::Edit, "Keep-Alive", "3333", "7000", [](C c) { return c.KeepAlive == 7000; }},
        {"CGITimeOut", kNetwork, 16, Kind::Edit, "CGI Script", "4444", "0", [](C c) { return c.CGITimeOut == 0; }},
        {"SiteAddress", kServer, 101, Kind::Edit, "Site Address", "site.test", "www.test",
         [](C c) { return c.SiteAddress == "www.test"; }},
        {"ResolveLocal", kServer, 112, Kind::Box, "Lookup Site Address (Dynamic)", "0", "1",
         [](C c) { return c.ResolveLocal == 1; }},
        {"DocRoot", kServer, 102, Kind::Edit, "Server Root", "D:\\WWW", "/srv/www",
         [](C c) { return c.DocRoot == "/srv/www"; }},
        {"DefaultIndex", kServer, 103, Kind::Edit, "Default Index", "home.htm", "index.htm",
         [](C c) { return c.DefaultIndex == "index.htm"; }},
        // Emptied, the setting names no charset; it must not come back as the default.
        {"DefaultCharset", kServer, 113, Kind::Edit, "Default Charset (plain text)", "iso-8859-1", "",
         [](C c) { return c.DefaultCharset.empty(); }},
        {"AdminEmail", kServer, 111, Kind::Edit, "Admin Email", "admin@site.test", "web@www.test",
         [](C c) { return c.AdminEmail == "web@www.test"; }},
        {"ResolveName", kServer, 104, Kind::Box, "Enable DNS Name Resolution", "1", "0",
         [](C c) { return c.ResolveName == 0; }},
        {"SendVersionInfo", kServer, 105, Kind::Box, "Send Version Information", "0", "1",
         [](C c) { return c.SendVersionInfo == 1; }},
        {"PriorityMedium", kServer, 108, Kind::Radio, "&Medium", "0", "0", nullptr},
        {"PriorityHigh", kServer, 107, Kind::Radio, "&High", "0", "0", nullptr},
        {"PriorityCritical", kServer, 106, Kind::Radio, "&Critical", "1", "0", nullptr},
        {"PriorityLow", kServer, 109, Kind::Radio, "&Low", "0", "1", [](C c) { return c.PriorityLevel == 0; }},
        {"UseMasterKey", kSecurity, 101, Kind::Box, "Enable Master Key", "1", "0",
         [](C c) { return c.UseMasterKey == 0; }},
        {"MasterUser", kSecurity, 102, Kind::Edit, "Name", "boss", "chief", [](C c) { return c.MasterUser == "chief"; }},
        {"MasterPassword", kSecurity, 103, Kind::Edit, "Password", "", "hidden",
         [](C c) { return c.MasterPassword.rfind("$y$", 0) == 0 && platform::PasswordMatches(c.MasterPassword, "hidden"); }},
        {"AccessLogMask", kLogging, 104, Kind::Box, "Use", "1", "0", [](C c) { return c.AccessLogMask == 0; }},
        {"AccessLogFileName", kLogging, 101, Kind::Edit, "Access Log", "C:\\L\\A.LOG", "C:\\L\\A2.LOG",
         [](C c) { return c.AccessLogFileName == "C:\\L\\A2.LOG"; }},
        {"ErrorLogMask", kLogging, 105, Kind::Box, "Use", "0", "1", [](C c) { return c.ErrorLogMask == 1; }},
        {"ErrorLogFileName", kLogging, 102, Kind::Edit, "Error Log", "C:\\L\\E.LOG", "C:\\L\\E2.LOG",
         [](C c) { return c.ErrorLogFileName == "C:\\L\\E2.LOG"; }},
        {"ReferrerLogMask", kLogging, 106, Kind::Box, "Use", "1", "0", [](C c) { return c.ReferrerLogMask == 0; }},
        {"ReferrerLogFileName", kLogging, 103, Kind::Edit, "Referrer Log", "C:\\L\\R.LOG", "C:\\L\\R2.LOG",
         [](C c) { return c.ReferrerLogFileName == "C:\\L\\R2.LOG"; }},
        {"TraceLogMask", kLogging, 108, Kind::Box, "Use", "0", "1", [](C c) { return c.TraceLogMask == 1; }},
        {"TraceLogFileName", kLogging, 107, Kind::Edit, "Trace Log", "C:\\L\\T.LOG", "C:\\L\\T2.LOG",
         [](C c) { return c.TraceLogFileName == "C:\\L\\T2.LOG"; }},
        {"AutoIndexBit0", kIndexing, 105, Kind::Box, "Use &Auto-Indexing", "1", "0", nullptr},
        {"AutoIndexBit1", kIndexing, 104, Kind::Box, "Use &Table Indexing", "0", "1",
         [](C c) { return c.AutoIndex == 2; }},
        {"ProcessSSI", kAdvanced, 105, Kind::Box, "Process &Server Side Includes", "0", "1",
         [](C c) { return c.ProcessSSI == 1; }},
        {"PerlCGI", kAdvanced, 104, Kind::Box, "Enable &Perl CGI Support", "1", "0", [](C c) { return c.PerlCGI == 0; }},
        {"CGIDebugMode", kAdvanced, 107, Kind::Box, "CGI &Debug Mode", "0", "1",
         [](C c) { return c.CGIDebugMode == 1; }},
        {"CGISendPassword", kAdvanced, 108, Kind::Box, "Send WinCGI &Password", "1", "0",
         [](C c) { return c.CGISendPassword == 0; }},
        {"PerlCmdLine", kAdvanced, 106, Kind::Edit, "Perl CGI &Command Line", "perl -T", "perl",
         [](C c) { return c.PerlCmdLine == "perl"; }},
        {"MaxBodySize", kAdvanced, 109, Kind::Edit, "Largest Request &Body (bytes, 0: no limit)", "1000", "0",
         [](C c) { return c.MaxBodySize == 0; }},
        {"BounceSite", kAdvanced, 101, Kind::Edit, "IP Address", "bounce.test", "other.test",
         [](C c) { return c.BounceSite == "other.test"; }},
        {"BouncePort", kAdvanced, 102, Kind::Edit, "Port", "8888", "8080", [](C c) { return c.BouncePort == 8080; }},
        {"BindAddress", kNetwork, 18, Kind::Edit, "Bind Address", "127.0.0.1", "::1",
         [](C c) { return c.BindAddress == "::1"; }},
        {"UseHTTP11", kNetwork, 19, Kind::Box, "Answer HTTP/1.1 as HTTP/1.1", "1", "0",
         [](C c) { return c.UseHTTP11 == 0; }},
        {"UseTLS", kHTTPS, 101, Kind::Box, "Serve &HTTPS", "1", "1", [](C c) { return c.UseTLS == 1; }},
        {"TLSPort", kHTTPS, 102, Kind::Edit, "HTTPS Port", "8443", "9443", [](C c) { return c.TLSPort == 9443; }},
        {"CertificateFile", kHTTPS, 103, Kind::Edit, "Certificate File", "C:\\T\\S.CRT", "C:\\T\\N.CRT",
         [](C c) { return c.CertificateFile == "C:\\T\\N.CRT"; }},
        {"KeyFile", kHTTPS, 104, Kind::Edit, "Key File", "C:\\T\\S.KEY", "C:\\T\\N.KEY",
         [](C c) { return c.KeyFile == "C:\\T\\N.KEY"; }},
        {"RedirectToTLS", kHTTPS, 105, Kind::Box, "&Redirect Plain Requests to HTTPS", "0", "1",
         [](C c) { return c.RedirectToTLS == 1; }},
        {"AllowPlainCredentials", kHTTPS, 106, Kind::Box, "Allow Master Key &Credentials over Plain HTTP", "1", "0",
         [](C c) { return c.AllowPlainCredentials == 0; }},
        {"AutoCertificate", kHTTPS, 107, Kind::Box, "Obtain and Renew Certificates &Automatically (ACME)", "0",
         "1", [](C c) { return c.AutoCertificate == 1; }},
        {"ACMEDirectory", kHTTPS, 108, Kind::Edit, "ACME Directory", "https://ca.test/dir", "https://ca2.test/d",
         [](C c) { return c.ACMEDirectory == "https://ca2.test/d"; }},
        {"ACMEEmail", kHTTPS, 109, Kind::Edit, "Contact Email", "ops@site.test", "",
         [](C c) { return c.ACMEEmail.empty(); }},
        {"ACMENames", kHTTPS, 110, Kind::Edit, "Certificate Names", "site.test,www.site.test", "a.test",
         [](C c) { return c.ACMENames == "a.test"; }},
    };
    return cases;
}

TEST(PropertySheet, EveryControlLoadsAndStoresItsSettingThroughTheStore) {
    Sheet s(LoadedSetup);
    // All values are checked before any is changed: a radio button that is
    // entered changes its neighbours.
    for (const ControlCase& c : ControlCases()) {
        SCOPED_TRACE(c.name);
        QWidget* control = s.Control(c.page, c.id);
        ASSERT_NE(control, nullptr) << "id " << c.id;
        EXPECT_TRUE(IsKind(control, c.kind));
        EXPECT_EQ(LabelOf(control).toStdString(), c.label);
        EXPECT_EQ(Shown(control).toStdString(), c.shown);
    }
    for (const ControlCase& c : ControlCases()) Enter(s.Control(c.page, c.id), c.entered);
    const HTTPConfiguration stored = s.SaveAndReload();
    for (const ControlCase& c : ControlCases())
        if (c.stored) {
            EXPECT_TRUE(c.stored(stored)) << c.name;
        }
}

TEST(PropertySheet, TitleTabsAndButtons) {
    Sheet s;
    EXPECT_EQ(s.sheet->windowTitle(), "Varevavo Properties");
    const char* const titles[] = {"Network",     "Server",      "Security", "Logging",  "Alias",   "Redirection",
                                  "Standard CGI", "Windows CGI", "MIME",     "Indexing", "Users",
                                  "Access",       "Advanced",    "HTTPS"};
    ASSERT_EQ(s.sheet->Tabs()->count(), PropertySheet::kPageCount);
    for (int i = 0; i < PropertySheet::kPageCount; ++i) EXPECT_EQ(s.sheet->Tabs()->tabText(i), titles[i]);
    const QList<QAbstractButton*> buttons = s.sheet->findChild<QDialogButtonBox*>()->buttons();
    ASSERT_EQ(buttons.size(), 2) << "OK and Cancel, no Apply";
    EXPECT_NE(s.sheet->findChild<QPushButton*>("id1"), nullptr);
    EXPECT_NE(s.sheet->findChild<QPushButton*>("id2"), nullptr);
    EXPECT_GE(s.sheet->Tabs()->width(), s.sheet->Tabs()->tabBar()->sizeHint().width()) << "every tab in view";
    EXPECT_EQ(CurrentConfig, &s.copy);
    s.sheet.reset();
    EXPECT_EQ(CurrentConfig, nullptr);
}

TEST(PropertySheet, PagesNeverOpenedLeaveTheirValuesAlone) {
    // Opening the Server page would turn priority 7 into Medium (1), and the
    // Indexing page rebuilds AutoIndex from two bits.
    Sheet s([](HTTPConfiguration& c) {
        c.PriorityLevel = 7;
        c.AutoIndex = 6;
    });
    s.sheet->ShowPage(kLogging);
    for (int page : {kServer, kIndexing}) EXPECT_EQ(s.sheet->Page(page), nullptr) << page;
    EXPECT_NE(s.sheet->Page(kNetwork), nullptr) << "the first page shows at once";
    const HTTPConfiguration stored = s.SaveAndReload();
    EXPECT_EQ(stored.PriorityLevel, 7u);
    EXPECT_EQ(stored.AutoIndex, 6u);
}

TEST(PropertySheet, PriorityButtons) {
    const struct {
        uint32_t level;
        int checked;
        uint32_t stored;
    } cases[] = {{0, 109, 0}, {1, 108, 1}, {2, 107, 2}, {3, 106, 3}, {7, 108, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        Sheet s([&](HTTPConfiguration& config) { config.PriorityLevel = c.level; });
        for (int id : {109, 108, 107, 106})
            EXPECT_EQ(s.Control<QRadioButton>(kServer, id)->isChecked(), id == c.checked) << id;
        EXPECT_EQ(s.SaveAndReload().PriorityLevel, c.stored);
    }
}

TEST(PropertySheet, AutoIndexIsRebuiltFromItsTwoBoxes) {
    Sheet s([](HTTPConfiguration& c) { c.AutoIndex = 6; });
    EXPECT_FALSE(s.Control<QCheckBox>(kIndexing, 105)->isChecked());
    EXPECT_TRUE(s.Control<QCheckBox>(kIndexing, 104)->isChecked());
    EXPECT_EQ(s.SaveAndReload().AutoIndex, 2u);
}

TEST(PropertySheet, EditsFollowTheirBoxes) {
    const struct {
        const char* name;
        int page;
        int box;
        std::vector<int> edits;
    } cases[] = {
        {"keep-alive", kNetwork, 15, {13}},   {"master key", kSecurity, 101, {102, 103}},
        {"access log", kLogging, 104, {101}}, {"error log", kLogging, 105, {102}},
        {"referrer log", kLogging, 106, {103}}, {"trace log", kLogging, 108, {107}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sheet s;
        auto* box = s.Control<QCheckBox>(c.page, c.box);
        for (bool checked : {box->isChecked(), !box->isChecked(), box->isChecked()}) {
            box->setChecked(checked);
            for (int id : c.edits) EXPECT_EQ(s.Control(c.page, id)->isEnabled(), checked) << id;
        }
    }
}

TEST(PropertySheet, NumbersAreUnsignedDecimal) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {{"8080", 8080},          {" 8080 ", 8080},      {"eighty", 0},  {"80x", 0}, {"", 0},
                 {"-1", 0},               {"+5", 0},             {"4294967295", 4294967295u},
                 {"4294967296", 0},       {"99999999999999999999", 0}};
    for (const auto& c : cases) EXPECT_EQ(PropertyPage::ParseNumber(c.text), c.value) << '"' << c.text << '"';

    Sheet s;
    s.Control<QLineEdit>(kNetwork, 10)->setText("eighty");
    EXPECT_EQ(s.SaveAndReload().Port, 0) << "a port that is not a number";
}

TEST(PropertySheet, OKChecksEveryNumberAgainstItsRange) {
    const struct {
        int page;
        int id;
        const char* text;
        const char* message;  // empty: accepted
    } cases[] = {
        {kNetwork, 10, "abc", "Port: \"abc\" is not a number. Enter a whole number from 1 to 65535."},
        {kNetwork, 10, "65536", "Port: 65536 is out of range. Enter a whole number from 1 to 65535."},
        {kNetwork, 10, " 8080 ", ""},
        {kNetwork, 17, "5", "Number of Simultaneous Connections: 5 is out of range. Enter a whole number from 8 to 512."},
        {kNetwork, 17, "512", ""},
        {kNetwork, 13, "4294967296",
         "Keep-Alive time-out: \"4294967296\" is not a number. Enter a whole number from 0 to 4294967295."},
        {kAdvanced, 102, "0", "Bounce Site Port: 0 is out of range. Enter a whole number from 1 to 65535."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.id));
        MessageRecorder recorder;
        Sheet s;
        s.Control<QLineEdit>(c.page, c.id)->setText(c.text);
        s.sheet->ShowPage(kMIME);
        s.sheet->findChild<QPushButton*>("id1")->click();  // OK
        if (*c.message) {
            ASSERT_EQ(recorder.messages.size(), 1u);
            EXPECT_EQ(recorder.messages[0].caption, "Varevavo Properties");
            EXPECT_EQ(recorder.messages[0].text, c.message);
            // Only an accepted sheet is saved by its caller.
            EXPECT_NE(s.sheet->result(), QDialog::Accepted);
            EXPECT_EQ(s.sheet->Tabs()->currentIndex(), c.page);
        } else {
            EXPECT_TRUE(recorder.messages.empty());
            EXPECT_EQ(s.sheet->result(), QDialog::Accepted);
        }
    }
    Sheet typed;
    const QValidator* digits = typed.Control<QLineEdit>(kNetwork, 10)->validator();
    ASSERT_NE(digits, nullptr);
    QString text = "80a";
    int at = 3;
    EXPECT_EQ(digits->validate(text, at), QValidator::Invalid) << "only digits can be typed";
    text = "8080";
    EXPECT_EQ(digits->validate(text, at), QValidator::Acceptable);
}

TEST(PropertySheet, TextsTakeAtMost255CharactersButLongStoredTextsSurviveUnchanged) {
    const std::string longRoot(300, 'r');
    Sheet s([&](HTTPConfiguration& c) { c.DocRoot = longRoot; });
    auto* root = s.Control<QLineEdit>(kServer, 102);
    auto* index = s.Control<QLineEdit>(kServer, 103);
    EXPECT_EQ(root->text().size(), 300) << "shown whole";
    index->setText(QString(400, 'i'));
    EXPECT_EQ(index->text().size(), 255);
    auto* email = s.Control<QLineEdit>(kServer, 111);
    email->setText("x");
    const HTTPConfiguration stored = s.SaveAndReload();
    EXPECT_EQ(stored.DocRoot, longRoot) << "not shortened by merely opening the page";
    EXPECT_EQ(stored.DefaultIndex, std::string(255, 'i'));
    EXPECT_EQ(stored.AdminEmail, "x");
}

// The five list pages, each with the list it edits.
struct ListPage {
    const char* title;
    int page;
    std::vector<Mapping> HTTPConfiguration::*list;
};
const ListPage kListPages[] = {{"Alias", kAlias, &HTTPConfiguration::Alias},
                               {"Redirection", kRedirection, &HTTPConfiguration::Redir},
                               {"Standard CGI", kStdCGI, &HTTPConfiguration::CgiBin},
                               {"Windows CGI", kWinCGI, &HTTPConfiguration::CgiWin},
                               {"MIME", kMIME, &HTTPConfiguration::Types}};

// A mapping page's controls.
struct ListControls {
    ListControls(Sheet& s, int page)
        : page(s.sheet->Page(page) ? s.sheet->Page(page) : (s.sheet->ShowPage(page), s.sheet->Page(page))),
          first(s.Control<QLineEdit>(page, 101)),
          second(s.Control<QLineEdit>(page, 102)),
          add(s.Control<QPushButton>(page, 103)),
          replace(s.Control<QPushButton>(page, 104)),
          remove(s.Control<QPushButton>(page, 105)),
          lines(s.Control<QListWidget>(page, 800)) {}
    QStringList Lines() const {
        QStringList texts;
        for (int i = 0; i < lines->count(); ++i) texts << lines->item(i)->text();
        return texts;
    }
    // Both edits empty, no line selected, Replace and Delete disabled.
    bool Cleared() const {
        return first->text().isEmpty() && second->text().isEmpty() && lines->selectedItems().isEmpty() &&
               !replace->isEnabled() && !remove->isEnabled();
    }
    QWidget* page;
    QLineEdit* first;
    QLineEdit* second;
    QPushButton* add;
    QPushButton* replace;
    QPushButton* remove;
    QListWidget* lines;
};

TEST(MappingPages, EachEditsItsOwnListAndAddsAtTheEnd) {
    for (const ListPage& p : kListPages) {
        SCOPED_TRACE(p.title);
        Sheet s;
        const HTTPConfiguration before = s.copy;
        ListControls c(s, p.page);
        ASSERT_TRUE(c.first && c.second && c.add && c.replace && c.remove && c.lines);
        EXPECT_EQ(LabelOf(c.first), "Virtual");
        EXPECT_EQ(LabelOf(c.second), "Actual");
        EXPECT_EQ(c.add->text(), "&Add");
        EXPECT_EQ(c.replace->text(), "&Replace");
        EXPECT_EQ(c.remove->text(), "&Delete");
        EXPECT_TRUE(c.Cleared());
        const std::vector<Mapping>& list = before.*p.list;
        ASSERT_EQ(c.lines->count(), static_cast<int>(list.size()));
        for (int i = 0; i < c.lines->count(); ++i) {
            EXPECT_EQ(c.lines->item(i)->text().toStdString(), list[i].first + "\t" + list[i].second);
            EXPECT_EQ(c.lines->item(i)->data(Qt::UserRole).toInt(), i);
        }
        // Distinct texts on both sides: the store names Types entries by
        // their extension and the other lists by their virtual path.
        for (const auto& [first, second] : {std::pair{"/one", "C:\\ONE"}, std::pair{"/two", "C:\\TWO"}}) {
            c.first->setText(first);
            c.second->setText(second);
            c.add->click();
            EXPECT_TRUE(c.Cleared());
        }
        const HTTPConfiguration stored = s.SaveAndReload();
        for (const ListPage& other : kListPages) {
            const size_t grown = other.page == p.page ? 2 : 0;
            EXPECT_EQ((stored.*other.list).size(), (before.*other.list).size() + grown) << other.title;
        }
        const std::vector<Mapping>& after = stored.*p.list;
        ASSERT_GE(after.size(), 2u);
        EXPECT_EQ(after[after.size() - 2].first, "/one");
        EXPECT_EQ(after.back().first, "/two");
        EXPECT_EQ(stored.CgiDos.size(), before.CgiDos.size()) << "CgiDos has no page";
    }
}

TEST(MappingPages, AddRefusesBlankFieldsAndChangesNothing) {
    const struct {
        const char* name;
        const char* first;
        const char* second;
    } cases[] = {{"first empty", "", "C:\\X"}, {"second empty", "/x", ""}, {"both empty", "", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sheet s;
        MessageRecorder recorder;
        ListControls controls(s, kAlias);
        const QStringList before = controls.Lines();
        controls.first->setText(c.first);
        controls.second->setText(c.second);
        controls.add->click();
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].owner, controls.page);
        EXPECT_EQ(recorder.messages[0].caption, "Varevavo");
        EXPECT_EQ(recorder.messages[0].text, "Fields can not be blank");
        EXPECT_EQ(recorder.messages[0].style, static_cast<unsigned>(platform::MB_ICONERROR));
        EXPECT_EQ(controls.Lines(), before);
        EXPECT_EQ(controls.first->text(), c.first) << "what was typed stays";
        EXPECT_EQ(controls.second->text(), c.second);
        EXPECT_EQ(s.SaveAndReload().Alias.size(), 1u);
    }
}

TEST(MappingPages, SelectionReplaceAndDelete) {
    Sheet s([](HTTPConfiguration& c) {
        c.Redir = {Mapping("/a", "http://a.test/"), Mapping("/b", "http://b.test/"), Mapping("/c", "http://c.test/")};
    });
    ListControls c(s, kRedirection);
    EXPECT_EQ(MappingDialog::UpdateMappingEdit(c.page, 800, 101, 102, s.copy.Redir), 0);
    EXPECT_EQ(MappingDialog::FillMappingListBox(c.page, 801, s.copy.Redir), 0) << "no such list box";

    c.lines->setCurrentRow(1);
    EXPECT_TRUE(c.replace->isEnabled());
    EXPECT_TRUE(c.remove->isEnabled());
    EXPECT_EQ(c.first->text(), "/b");
    EXPECT_EQ(c.second->text(), "http://b.test/");
    EXPECT_EQ(MappingDialog::UpdateMappingEdit(c.page, 800, 101, 102, s.copy.Redir), 1);

    c.first->setText("/b2");
    c.second->clear();
    c.replace->click();
    EXPECT_TRUE(c.Cleared());
    EXPECT_EQ(c.Lines(), QStringList({"/a\thttp://a.test/", "/b2\t", "/c\thttp://c.test/"}));

    c.lines->setCurrentRow(0);
    c.remove->click();
    EXPECT_TRUE(c.Cleared());
    EXPECT_EQ(c.Lines(), QStringList({"/b2\t", "/c\thttp://c.test/"}));

    const HTTPConfiguration stored = s.SaveAndReload();
    ASSERT_EQ(stored.Redir.size(), 2u);
    EXPECT_EQ(stored.Redir[0].first, "/b2");
    EXPECT_EQ(stored.Redir[0].second, "") << "Replace stores an empty text";
    EXPECT_EQ(stored.Redir[1].first, "/c");
}

}  // namespace

namespace {

QStringList LinesOf(QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

void Select(QListWidget* list, int row) { list->setCurrentRow(row); }

void Click(Sheet& s, int page, int id) { s.Control<QPushButton>(page, id)->click(); }

void Type(Sheet& s, int page, int id, const QString& text) { s.Control<QLineEdit>(page, id)->setText(text); }

// A realm with a plain password and a group, and a list over it whose
// first entry carries a bit no box shows (it must survive an edit).
void RealmSetup(HTTPConfiguration& c) {
    AuthRealm staff;
    staff.SetName("Staff", "the team");
    staff.AddUser(AuthUser("carol", "plain"));
    AuthGroup editors;
    editors.SetName("Editors");
    editors.AddUsername("carol");
    staff.AddGroup(editors);
    c.RealmList.push_back(staff);
    AuthACL list;
    list.SetPath("/private");
    list.Realm = "Staff";
    list.AddAccess(AuthAccess("carol", 0, 0x10C));
    c.AccessControlList.push_back(list);
}

}  // namespace

TEST(RealmPages, UsersPageEditsRealmsUsersGroupsAndStoresHashes) {
    MessageRecorder messages;
    Sheet s(RealmSetup);
    auto* realms = s.Control<QListWidget>(kUsers, 801);
    auto* users = s.Control<QListWidget>(kUsers, 806);
    auto* password = s.Control<QLineEdit>(kUsers, 808);
    ASSERT_TRUE(realms && users && password);
    EXPECT_EQ(LinesOf(realms), QStringList{"Staff"});
    EXPECT_EQ(s.Control<QLineEdit>(kUsers, 803)->text(), "the team") << "the first realm is shown";
    EXPECT_EQ(LinesOf(users), QStringList{"carol  (plain text)"});
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);

    // Refusals: no password, a colon in the name, a realm of a name in use.
    Type(s, kUsers, 807, "dave");
    Click(s, kUsers, 809);
    Type(s, kUsers, 807, "da:ve");
    Type(s, kUsers, 808, "x");
    Click(s, kUsers, 809);
    Type(s, kUsers, 802, "staff");
    Click(s, kUsers, 804);
    ASSERT_EQ(messages.messages.size(), 3u);
    EXPECT_EQ(messages.messages[0].text, "An empty password is refused.");
    EXPECT_EQ(messages.messages[1].text, "A user name cannot hold a colon.");
    EXPECT_EQ(messages.messages[2].text, "There is a realm of that name already.");

    Type(s, kUsers, 807, "dave");
    Type(s, kUsers, 808, "dave's/$pw");
    Click(s, kUsers, 809);
    EXPECT_EQ(password->text(), "") << "a password set leaves the field";
    Type(s, kUsers, 807, "CAROL");
    Type(s, kUsers, 808, "new");
    Click(s, kUsers, 809);
    EXPECT_EQ(LinesOf(users), (QStringList{"carol", "dave"})) << "one carol, now hashed";
    Select(s.Control<QListWidget>(kUsers, 811), 0);
    Type(s, kUsers, 816, "dave");
    Click(s, kUsers, 817);
    EXPECT_EQ(LinesOf(s.Control<QListWidget>(kUsers, 815)), (QStringList{"carol", "dave"}));
    Type(s, kUsers, 812, "Readers");
    Click(s, kUsers, 813);
    Type(s, kUsers, 802, "Guests");
    Click(s, kUsers, 804);
    EXPECT_EQ(LinesOf(realms), (QStringList{"Staff", "Guests"}));
    // Typing a description edits the realm selected, now the new one.
    auto* description = s.Control<QLineEdit>(kUsers, 803);
    EXPECT_EQ(description->text(), "");
    description->setText("visitors");
    Q_EMIT description->textEdited("visitors");
    EXPECT_EQ(messages.messages.size(), 3u);

    const HTTPConfiguration stored = s.SaveAndReload();
    ASSERT_EQ(stored.RealmList.size(), 2u);
    const AuthRealm& guests = stored.RealmList[0].Name == "Guests" ? stored.RealmList[0] : stored.RealmList[1];
    const AuthRealm& staff = stored.RealmList[0].Name == "Staff" ? stored.RealmList[0] : stored.RealmList[1];
    EXPECT_EQ(guests.Description, "visitors");
    EXPECT_TRUE(guests.Users.empty());
    EXPECT_EQ(staff.Description, "the team");
    ASSERT_EQ(staff.Users.size(), 2u);
    for (const AuthUser& user : staff.Users) {
        EXPECT_TRUE(platform::IsPasswordHash(user.Password)) << user.Name;
        EXPECT_TRUE(platform::PasswordMatches(user.Password, user.Name == "carol" ? "new" : "dave's/$pw")) << user.Name;
    }
    ASSERT_EQ(staff.Groups.size(), 2u);
    const std::vector<std::string> editors = {"carol", "dave"};
    for (const AuthGroup& group : staff.Groups)
        EXPECT_EQ(group.Members, group.Name == "Editors" ? editors : std::vector<std::string>()) << group.Name;
}

TEST(RealmPages, UsersPageRemovesMembersGroupsUsersAndRealms) {
    Sheet s(RealmSetup);
    Select(s.Control<QListWidget>(kUsers, 811), 0);
    Select(s.Control<QListWidget>(kUsers, 815), 0);
    Click(s, kUsers, 818);
    EXPECT_TRUE(s.copy.RealmList[0].Groups[0].Members.empty());
    Click(s, kUsers, 814);
    EXPECT_TRUE(s.copy.RealmList[0].Groups.empty());
    Select(s.Control<QListWidget>(kUsers, 806), 0);
    Click(s, kUsers, 810);
    EXPECT_TRUE(s.copy.RealmList[0].Users.empty());
    Select(s.Control<QListWidget>(kUsers, 801), 0);
    Click(s, kUsers, 805);
    EXPECT_TRUE(s.SaveAndReload().RealmList.empty());
}

TEST(RealmPages, AccessPageEditsListsAndEntries) {
    MessageRecorder messages;
    Sheet s(RealmSetup);
    auto* paths = s.Control<QListWidget>(kAccess, 819);
    auto* entries = s.Control<QListWidget>(kAccess, 825);
    auto* realm = s.Control<QComboBox>(kAccess, 821);
    ASSERT_TRUE(paths && entries && realm);
    EXPECT_EQ(LinesOf(paths), QStringList{"/private"});
    EXPECT_EQ(realm->currentText(), "Staff");
    EXPECT_EQ(LinesOf(entries), QStringList{"user carol: GET HEAD"});
    Select(entries, 0);
    for (int id = 829; id <= 835; ++id)
        EXPECT_EQ(s.Control<QCheckBox>(kAccess, id)->isChecked(), id == 830 || id == 831) << id;
    EXPECT_EQ(s.Control<QCheckBox>(kAccess, 832)->text(), "POST");

    // carol gains POST; the group Editors gets PUT and DELETE.
    s.Control<QCheckBox>(kAccess, 832)->setChecked(true);
    Click(s, kAccess, 836);
    Type(s, kAccess, 826, "Editors");
    s.Control<QRadioButton>(kAccess, 828)->setChecked(true);
    for (int id = 829; id <= 835; ++id) s.Control<QCheckBox>(kAccess, id)->setChecked(id == 833 || id == 834);
    Click(s, kAccess, 836);
    EXPECT_EQ(LinesOf(entries), (QStringList{"user carol: GET HEAD POST", "group Editors: PUT DELETE"}));
    s.Control<QCheckBox>(kAccess, 822)->setChecked(true);

    // A second list: a path must start with a slash; a trailing one goes.
    // With no list selected the realm and the box are the new list's, and
    // unchecking the box leaves /private as it is.
    paths->clearSelection();
    s.Control<QCheckBox>(kAccess, 822)->setChecked(false);
    Type(s, kAccess, 820, "docs");
    Click(s, kAccess, 823);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_NE(messages.messages[0].text.find("starts with a slash"), std::string::npos);
    Type(s, kAccess, 820, "/docs/");
    realm->setCurrentText("Guests");
    Click(s, kAccess, 823);
    EXPECT_EQ(LinesOf(paths), (QStringList{"/private", "/docs"}));
    EXPECT_TRUE(LinesOf(entries).isEmpty());
    Type(s, kAccess, 826, "dave");
    s.Control<QRadioButton>(kAccess, 827)->setChecked(true);
    for (int id = 829; id <= 835; ++id) s.Control<QCheckBox>(kAccess, id)->setChecked(id == 830);
    Click(s, kAccess, 836);
    Select(entries, 0);
    Click(s, kAccess, 837);
    Click(s, kAccess, 836);

    const HTTPConfiguration stored = s.SaveAndReload();
    ASSERT_EQ(stored.AccessControlList.size(), 2u);
    for (const AuthACL& list : stored.AccessControlList) {
        SCOPED_TRACE(list.Path);
        if (list.Path == "/private") {
            EXPECT_EQ(list.Realm, "Staff");
            EXPECT_EQ(list.DisableAutoIndex, 1);
            ASSERT_EQ(list.Access.size(), 2u);
            EXPECT_EQ(list.Access[0].Name, "carol");
            EXPECT_EQ(list.Access[0].Mask, 0x11Cu) << "the bit no box shows stays";
            EXPECT_EQ(list.Access[1].Name, "Editors");
            EXPECT_EQ(list.Access[1].EntryType, 1);
            EXPECT_EQ(list.Access[1].Mask, 0x60u);
        } else {
            EXPECT_EQ(list.Path, "/docs");
            EXPECT_EQ(list.Realm, "Guests");
            EXPECT_EQ(list.DisableAutoIndex, 0);
            ASSERT_EQ(list.Access.size(), 1u) << "removed, then set again";
            EXPECT_EQ(list.Access[0].Mask, 0x04u);
        }
    }
}

TEST(RealmPages, CancelKeepsTheStoredRealmsAndMasterPassword) {
    // The pages edit the sheet's copy only; after Cancel the caller does not
    // save it, so the store keeps what it had.
    Sheet s([](HTTPConfiguration& c) {
        RealmSetup(c);
        c.MasterPassword = "secret";
    });
    EXPECT_EQ(s.Control<QLineEdit>(kSecurity, 103)->text(), "") << "a stored password is never shown";
    EXPECT_EQ(s.Control<QLineEdit>(kSecurity, 103)->placeholderText(), "unchanged");
    Select(s.Control<QListWidget>(kUsers, 801), 0);
    Click(s, kUsers, 805);
    Select(s.Control<QListWidget>(kAccess, 819), 0);
    Click(s, kAccess, 824);
    s.Control<QLineEdit>(kSecurity, 103)->setText("changed");
    s.sheet->reject();
    s.sheet.reset();
    const HTTPConfiguration stored = DesktopSite::Stored();
    EXPECT_EQ(stored.RealmList.size(), 1u);
    EXPECT_EQ(stored.AccessControlList.size(), 1u);
    EXPECT_EQ(stored.MasterPassword, "secret");
    EXPECT_TRUE(s.copy.RealmList.empty()) << "the copy took the edits";
}

TEST(RealmPages, AnEmptyMasterPasswordFieldKeepsTheStoredOne) {
    Sheet s([](HTTPConfiguration& c) { c.MasterPassword = "$6$salt$abc/def"; });
    EXPECT_EQ(s.Control<QLineEdit>(kSecurity, 103)->text(), "");
    EXPECT_EQ(s.SaveAndReload().MasterPassword, "$6$salt$abc/def");
}
