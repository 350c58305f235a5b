#include "config/HTTPConfiguration.h"

#include <optional>

#include "platform/RegistryKey.h"
#include "platform/RegistryStore.h"

using platform::reg::Transaction;

namespace {

using Config = HTTPConfiguration;

// The subkeys of a setup, in the order loading opens them.
enum Section { kAccess, kAuthentication, kNetwork, kServer, kIndex, kAlias, kRedir, kCgiBin, kCgiDos, kCgiWin,
               kExternal, kLog, kTypes, kTLS, kSectionCount };
constexpr const char* kSectionNames[kSectionCount] = {
    "Access\\Basic", "Authentication\\Basic", "Network", "Server", "Index", "Alias", "Redir", "CgiBin",
    "CgiDos", "CgiWin", "External", "Log", "Types", "TLS"};
constexpr Section kSaveOrder[kSectionCount] = {kNetwork, kServer, kIndex, kAlias, kRedir, kCgiBin, kCgiDos,
                                               kCgiWin, kExternal, kLog, kTypes, kAccess, kAuthentication, kTLS};

// One stored scalar setting: where it lives, which field holds it, and the
// value a new setup gets. Exactly one of the three field pointers is set.
struct Setting {
    Section section;
    const char* name;
    int Config::*signedField;
    uint32_t Config::*numberField;
    std::string Config::*textField;
    uint32_t number;
    const char* text;
};

constexpr Setting Signed(Section section, const char* name, int Config::*field, int value) {
    return {section, name, field, nullptr, nullptr, static_cast<uint32_t>(value), nullptr};
}
constexpr Setting Number(Section section, const char* name, uint32_t Config::*field, uint32_t value) {
    return {section, name, nullptr, field, nullptr, value, nullptr};
}
constexpr Setting Text(Section section, const char* name, std::string Config::*field, const char* value) {
    return {section, name, nullptr, nullptr, field, 0, value};
}

// The file a directory request is answered with. Unlike the other texts it
// is set from construction on: a setup made by hand without it must still
// look for an index file, not for the directory itself.
constexpr const char* kDefaultIndex = "index.html";
// Likewise the charset of plain text: a setup saved before the setting
// existed serves its text as a new one does.
constexpr const char* kDefaultCharset = "utf-8";

// What a setup made for a person has instead of the defaults (see
// PersonalSettings). Perl is part of every Debian system (perl-base).
constexpr uint32_t kPersonalThreads = 64;
constexpr const char* kSystemPerl = "/usr/bin/perl";

// Where certificates come from automatically unless the operator names
// another certificate authority.
constexpr const char* kLetsEncryptDirectory = "https://acme-v02.api.letsencrypt.org/directory";

// Every scalar of a setup, in the order it is read and written.
constexpr Setting kSettings[] = {
    Signed(kNetwork, "Port", &Config::Port, 80),
    Number(kNetwork, "SendTimeOut", &Config::SendTimeOut, 45000),
    Number(kNetwork, "RecvTimeOut", &Config::RecvTimeOut, 45000),
    Number(kNetwork, "KeepAlive", &Config::KeepAlive, 10000),
    Number(kNetwork, "CGITimeOut", &Config::CGITimeOut, 0),
    Signed(kNetwork, "UseKeepAlive", &Config::UseKeepAlive, 0),
    Signed(kServer, "SendVersionInfo", &Config::SendVersionInfo, 1),
    Signed(kServer, "ResolveName", &Config::ResolveName, 0),
    Signed(kServer, "ResolveLocal", &Config::ResolveLocal, 1),
    Number(kServer, "PriorityLevel", &Config::PriorityLevel, 2),
    Number(kServer, "NumThreads", &Config::NumThreads, 16),
    Number(kServer, "MaxBodySize", &Config::MaxBodySize, 64 * 1024 * 1024),
    Signed(kServer, "BouncePort", &Config::BouncePort, 80),
    Signed(kServer, "UseMasterKey", &Config::UseMasterKey, 0),
    Text(kServer, "MasterUser", &Config::MasterUser, "admin"),
    Text(kServer, "MasterPassword", &Config::MasterPassword, ""),
    Text(kServer, "SiteAddress", &Config::SiteAddress, "localhost"),
    Text(kServer, "BounceSite", &Config::BounceSite, "example.com"),
    Text(kServer, "AdminEmail", &Config::AdminEmail, "webmaster@localhost"),
    Text(kServer, "DocRoot", &Config::DocRoot, "C:\\HTTPD\\HTDOCS"),
    Text(kServer, "DefaultIndex", &Config::DefaultIndex, kDefaultIndex),
    Text(kServer, "DefaultCharset", &Config::DefaultCharset, kDefaultCharset),
    Number(kIndex, "AutoIndex", &Config::AutoIndex, kAutoIndexOn),
    Number(kLog, "AccessLogMask", &Config::AccessLogMask, 1),
    Number(kLog, "ErrorLogMask", &Config::ErrorLogMask, 1),
    Number(kLog, "ReferrerLogMask", &Config::ReferrerLogMask, 1),
    Number(kLog, "TraceLogMask", &Config::TraceLogMask, 1),
    Text(kLog, "AccessLogFileName", &Config::AccessLogFileName, "C:\\HTTPD\\LOGS\\ACCESS.LOG"),
    Text(kLog, "ErrorLogFileName", &Config::ErrorLogFileName, "C:\\HTTPD\\LOGS\\ERROR.LOG"),
    Text(kLog, "ReferrerLogFileName", &Config::ReferrerLogFileName, "C:\\HTTPD\\LOGS\\REFERRER.LOG"),
    Text(kLog, "TraceLogFileName", &Config::TraceLogFileName, "C:\\HTTPD\\LOGS\\TRACE.LOG"),
    Signed(kExternal, "CGIDebugMode", &Config::CGIDebugMode, 0),
    Signed(kExternal, "CGISendPassword", &Config::CGISendPassword, 1),
    Signed(kExternal, "PerlCGI", &Config::PerlCGI, 1),
    Signed(kExternal, "ProcessSSI", &Config::ProcessSSI, 1),
    Text(kExternal, "PerlCmdLine", &Config::PerlCmdLine, "C:\\PERL5\\NTT\\PERL.EXE"),
    Text(kNetwork, "BindAddress", &Config::BindAddress, ""),
    // Missing from a setup made before it existed: see ReadSetup.
    Signed(kNetwork, "UseHTTP11", &Config::UseHTTP11, 1),
    Signed(kTLS, "UseTLS", &Config::UseTLS, 1),
    Signed(kTLS, "TLSPort", &Config::TLSPort, 443),
    Text(kTLS, "CertificateFile", &Config::CertificateFile, "C:\\HTTPD\\TLS\\SERVER.CRT"),
    Text(kTLS, "KeyFile", &Config::KeyFile, "C:\\HTTPD\\TLS\\SERVER.KEY"),
    Signed(kTLS, "RedirectToTLS", &Config::RedirectToTLS, 0),
    Signed(kTLS, "AllowPlainCredentials", &Config::AllowPlainCredentials, 0),
    Signed(kServer, "Compression", &Config::Compression, 1),
    Signed(kTLS, "AutoCertificate", &Config::AutoCertificate, 0),
    Text(kTLS, "ACMEDirectory", &Config::ACMEDirectory, kLetsEncryptDirectory),
    Text(kTLS, "ACMEEmail", &Config::ACMEEmail, ""),
    Text(kTLS, "ACMENames", &Config::ACMENames, ""),
};

// The virtual-path lists, in the order they are written after Types.
struct ListSection {
    Section section;
    std::vector<Mapping> Config::*list;
    const char* defaultPath;    // the entry of a new setup, or null
    const char* defaultTarget;
};
constexpr ListSection kPathLists[] = {
    {kRedir, &Config::Redir, nullptr, nullptr},
    {kAlias, &Config::Alias, "/ICONS", "C:\\HTTPD\\ICONS"},
    {kCgiBin, &Config::CgiBin, "/CGI-BIN", "C:\\HTTPD\\CGI-BIN"},
    {kCgiDos, &Config::CgiDos, "/CGI-DOS", "C:\\HTTPD\\CGI-DOS"},
    {kCgiWin, &Config::CgiWin, "/CGI-WIN", "C:\\HTTPD\\CGI-WIN"},
};

// The built-in MIME table. The order matters: a lookup takes the first
// extension that ends the file name.
struct MIMEType {
    const char* extension;
    const char* type;
};
constexpr MIMEType kMIMETypes[] = {
    {".ai", "application/postscript"},   {".eps", "application/postscript"}, {".ps", "application/postscript"},
    {".doc", "application/msword"},      {".rtf", "application/rtf"},        {".exe", "application/exe"},
    {".zip", "application/zip"},         {".arj", "application/x-arj"},      {".gz", "application/x-gzip"},
    {".lzh", "application/x-lzh"},       {".tar", "application/x-tar"},      {".aif", "audio/aiff"},
    {".aiff", "audio/aiff"},             {".aifc", "audio/aiff"},            {".au", "audio/basic"},
    {".snd", "audio/basic"},             {".mid", "audio/midi"},             {".rmi", "audio/midi"},
    {".wav", "audio/wav"},               {".ra", "audio/x-pn-realaudio"},    {".ram", "audio/x-pn-realaudio"},
    {".gif", "image/gif"},               {".jpeg", "image/jpeg"},            {".jpg", "image/jpeg"},
    {".tif", "image/tiff"},              {".tiff", "image/tiff"},            {".xbm", "image/xbm"},
    {".qt", "video/quicktime"},          {".mov", "video/quicktime"},        {".avi", "video/avi"},
    {".mpeg", "video/mpeg"},             {".mpg", "video/mpeg"},             {".txt", "text/plain"},
    {".htm", "text/html"},               {".html", "text/html"},             {".rtx", "text/richtext"},
    {".shtml", "text/x-server-parsed-html"}, {".dcgi", "wwwserver/doscgi"},  {".cgi", "wwwserver/shellcgi"},
    {".scgi", "wwwserver/shellcgi"},     {".wcgi", "wwwserver/wincgi"},      {".url", "wwwserver/redirection"},
    {".wrl", "x-world/x-vrml"},
};
static_assert(std::size(kMIMETypes) == 43);

std::string SetupPath(const std::string& setup) { return "SOFTWARE\\Raziduzovo\\Varevavo\\" + setup; }

void TrimTrailing(std::string* text, char c) {
    const size_t end = text->find_last_not_of(c);
    text->erase(end == std::string::npos ? 0 : end + 1);
}

// The setup key and its subkeys, opened (created when missing) in
// the given order.
struct SetupKeys {
    RegistryKey setup;
    std::optional<RegistryKey> sections[kSectionCount];

    SetupKeys(const std::string& name, const Section* order) : setup(platform::reg::HKEY_LOCAL_MACHINE, SetupPath(name)) {
        for (int i = 0; i < kSectionCount; ++i) sections[order[i]].emplace(setup, kSectionNames[order[i]]);
    }
    RegistryKey& operator[](Section section) { return *sections[section]; }
    bool AllOpened() const {
        for (const auto& key : sections)
            if (!key->Opened) return false;
        return setup.Opened;
    }
};

// Gives every setting the value of a new setup: the numbers, and with texts
// set the texts too.
void SetDefaults(Config* config, bool texts) {
    for (const Setting& setting : kSettings) {
        if (setting.signedField) config->*setting.signedField = static_cast<int>(setting.number);
        if (setting.numberField) config->*setting.numberField = setting.number;
        if (texts && setting.textField) config->*setting.textField = setting.text;
    }
}

constexpr Section kLoadOrder[kSectionCount] = {kAccess, kAuthentication, kNetwork, kServer, kIndex, kAlias, kRedir,
                                               kCgiBin, kCgiDos, kCgiWin, kExternal, kLog, kTypes, kTLS};

// scheme, address and the port unless it is the scheme's own.
std::string SchemeURL(const char* scheme, const std::string& address, int port, int schemePort) {
    std::string url = scheme + address;
    if (port != schemePort) {
        url += ':';
        url += std::to_string(port);
    }
    return url;
}

}  // namespace

HTTPConfiguration::HTTPConfiguration() : DefaultIndex(kDefaultIndex), DefaultCharset(kDefaultCharset) {
    SetDefaults(this, false);
    // A setup an earlier version made has no UseTLS: it keeps serving plain
    // HTTP alone until the operator turns TLS on. Only new setups get 1.
    UseTLS = 0;
}

void HTTPConfiguration::FlushAllLists() {
    Alias.clear();
    Redir.clear();
    CgiBin.clear();
    CgiDos.clear();
    CgiWin.clear();
    Types.clear();
    RealmList.clear();
    AccessControlList.clear();
}

void HTTPConfiguration::DefaultConfiguration() {
    SetDefaults(this, true);
    FlushAllLists();
    for (const ListSection& list : kPathLists)
        if (list.defaultPath) (this->*list.list).emplace_back(list.defaultPath, list.defaultTarget, 0);
    UpdateMIMETypes();
}

void HTTPConfiguration::UpdateMIMETypes() {
    Types.clear();
    Types.reserve(std::size(kMIMETypes));
    for (const MIMEType& entry : kMIMETypes) Types.emplace_back(entry.type, entry.extension, 0);
}


std::string HTTPConfiguration::SiteURL() const { return SchemeURL("http://", SiteAddress, Port, 80); }

std::string HTTPConfiguration::SiteTLSURL() const { return SchemeURL("https://", SiteAddress, TLSPort, 443); }

bool HTTPConfiguration::LoadConfiguration(const std::string& setup) {
    // Read first; only a setup that needs keys made has to write, and when
    // another process wrote meanwhile that fails, so the load is redone
    // holding the write lock. Each attempt works on a copy, so a spoiled
    // attempt leaves nothing behind.
    HTTPConfiguration work;
    for (const Transaction::Kind kind : {Transaction::Read, Transaction::Write}) {
        work = *this;
        Transaction transaction(kind);
        const bool read = work.ReadSetup(setup);
        if (transaction.Commit() == platform::reg::ERROR_SUCCESS && read) {
            *this = std::move(work);
            return true;
        }
    }
    *this = std::move(work);
    return false;
}

bool HTTPConfiguration::ReadSetup(const std::string& setup) {
    SetupKeys keys(setup, kLoadOrder);
    if (keys.setup.Created) {
        DefaultConfiguration();
        return SaveConfiguration(setup);
    }
    FlushAllLists();
    // A setup that lacks it was made by an earlier version, which answered
    // HTTP/1.1 as HTTP/1.0: it goes on doing so until it is turned on.
    UseHTTP11 = 0;
    // Unlike the other settings, a missing Compression is not "as it was":
    // a setup older than the setting does not compress.
    Compression = 0;
    // Certificates are fetched from the internet only when asked for.
    AutoCertificate = 0;
    for (const Setting& setting : kSettings) {
        RegistryKey& key = keys[setting.section];
        if (setting.signedField) key.GetDWORD(setting.name, &(this->*setting.signedField));
        if (setting.numberField) key.GetDWORD(setting.name, &(this->*setting.numberField));
        if (setting.textField) key.GetString(setting.name, &(this->*setting.textField));
    }
    TrimTrailing(&DocRoot, '\\');

    std::string name, data;
    for (unsigned long i = 0, count = keys[kTypes].NumValues(); i < count; ++i)
        if (keys[kTypes].GetEnumString(i, &name, &data)) Types.emplace_back(data, name, 0);
    for (const ListSection& list : kPathLists) {
        RegistryKey& key = keys[list.section];
        for (unsigned long i = 0, count = key.NumValues(); i < count; ++i) {
            if (!key.GetEnumString(i, &name, &data)) continue;
            TrimTrailing(&name, '/');
            // A redirection target is a URL and keeps its slash.
            if (list.section != kRedir) {
                TrimTrailing(&data, '\\');
                TrimTrailing(&data, '/');
            }
            (this->*list.list).emplace_back(name, data, 0);
        }
    }

    AuthRealm realm;
    for (unsigned long i = 0, count = keys[kAuthentication].NumKeys(); i < count; ++i) {
        if (!keys[kAuthentication].GetEnumKey(i, &name)) continue;
        RegistryKey key(keys[kAuthentication], name);
        realm.SetName(name, "");
        realm.Load(&key);
        RealmList.push_back(realm);
    }
    AuthACL list;
    for (unsigned long i = 0, count = keys[kAccess].NumKeys(); i < count; ++i) {
        if (!keys[kAccess].GetEnumKey(i, &name)) continue;
        RegistryKey key(keys[kAccess], name);
        list.SetPath(name);
        // A list's realm decides whose passwords open it: one whose key
        // lacks it must refuse everyone, never borrow the realm of the list
        // read before it.
        list.Realm.clear();
        list.Load(&key);
        AccessControlList.push_back(list);
    }
    return keys.AllOpened();
}

bool HTTPConfiguration::SaveConfiguration(const std::string& setup) {
    Transaction transaction(Transaction::Write);
    if (!DeleteConfiguration(setup)) return false;
    SetupKeys keys(setup, kSaveOrder);
    bool ok = keys.AllOpened();
    for (const Setting& setting : kSettings) {
        RegistryKey& key = keys[setting.section];
        if (setting.signedField) ok &= key.SaveDWORD(setting.name, static_cast<uint32_t>(this->*setting.signedField));
        if (setting.numberField) ok &= key.SaveDWORD(setting.name, this->*setting.numberField);
        if (setting.textField) ok &= key.SaveString(setting.name, this->*setting.textField);
    }
    for (const Mapping& type : Types) ok &= keys[kTypes].SaveString(type.second, type.first);
    for (const ListSection& list : kPathLists)
        for (const Mapping& entry : this->*list.list) ok &= keys[list.section].SaveString(entry.first, entry.second);
    for (const AuthRealm& realm : RealmList) {
        if (realm.Name.empty()) continue;
        RegistryKey key(keys[kAuthentication], realm.Name);
        ok &= key.Opened && realm.Save(&key);
    }
    for (const AuthACL& list : AccessControlList) {
        if (list.Path.empty()) continue;
        RegistryKey key(keys[kAccess], list.Path);
        ok &= key.Opened && list.Save(&key);
    }
    // A failed write rolls the whole save back: the previous setup stays.
    return ok && transaction.Commit() == platform::reg::ERROR_SUCCESS;
}

bool HTTPConfiguration::DeleteConfiguration(const std::string& setup) {
    Transaction transaction(Transaction::Write);
    bool opened = false;
    {
        RegistryKey key(platform::reg::HKEY_LOCAL_MACHINE, SetupPath(setup));
        key.DeleteTree();
        opened = key.Opened;
    }
    return opened && transaction.Commit() == platform::reg::ERROR_SUCCESS;
}

void HTTPConfiguration::PersonalSettings() {
    UseKeepAlive = 1;
    NumThreads = kPersonalThreads;
    ResolveLocal = 0;
    PerlCmdLine = kSystemPerl;
}

bool HTTPConfiguration::PrepareSetup(const std::string& setup, int port, bool personal) {
    Transaction transaction(Transaction::Write);
    platform::reg::ScopedKey existing;
    const bool fresh = platform::reg::RegOpenKeyEx(platform::reg::HKEY_LOCAL_MACHINE, SetupPath(setup),
                                                   existing.Receive()) == platform::reg::ERROR_FILE_NOT_FOUND;
    existing.Reset();
    if (!LoadConfiguration(setup)) return false;
    const bool personalize = personal && fresh;
    if (personalize) PersonalSettings();
    if (port != 0) Port = port;
    if ((port != 0 || personalize) && !SaveConfiguration(setup)) return false;
    return transaction.Commit() == platform::reg::ERROR_SUCCESS;
}

bool HTTPConfiguration::SetupExists(const std::string& setup) {
    platform::reg::ScopedKey existing;
    return platform::reg::RegOpenKeyEx(platform::reg::HKEY_LOCAL_MACHINE, SetupPath(setup), existing.Receive()) ==
           platform::reg::ERROR_SUCCESS;
}
