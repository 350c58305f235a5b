#pragma once
// Every setting of one named setup, each field named after the registry
// value that stores it, plus the mapping lists and the authentication
// records. A plain value: copying and moving cost only the copy of its texts
// and lists, and nothing refers to a single global record, so the server can
// load a fresh record and exchange it for the live one.
//
// A setup lives in the registry under HKEY_LOCAL_MACHINE at
// "SOFTWARE\Raziduzovo\Varevavo\<setup name>", in fourteen subkeys:
//   Network    Port SendTimeOut RecvTimeOut KeepAlive CGITimeOut UseKeepAlive
//              BindAddress
//              UseHTTP11
//   Server     SendVersionInfo ResolveName ResolveLocal PriorityLevel
//              NumThreads MaxBodySize BouncePort UseMasterKey MasterUser
//              MasterPassword SiteAddress BounceSite AdminEmail DocRoot
//              DefaultIndex DefaultCharset Compression
//   Index      AutoIndex
//   Log        AccessLogMask ErrorLogMask ReferrerLogMask TraceLogMask
//              AccessLogFileName ErrorLogFileName ReferrerLogFileName
//              TraceLogFileName
//   External   CGIDebugMode CGISendPassword PerlCGI ProcessSSI PerlCmdLine
//   Alias Redir CgiBin CgiDos CgiWin   one REG_SZ per mapping: name = virtual
//              path, data = target
//   Types      one REG_SZ per MIME entry: name = extension, data = type
//   Access\Basic           one subkey per access-control list (AuthACL)
//   Authentication\Basic   one subkey per realm (AuthRealm)
//   TLS        UseTLS TLSPort CertificateFile KeyFile RedirectToTLS
//              AllowPlainCredentials AutoCertificate ACMEDirectory ACMEEmail
//              ACMENames
// Numbers are REG_DWORD (the 32-bit pattern, signed fields included), texts
// REG_SZ. The setup key itself holds no values.
//
// Times and time-outs are milliseconds; flags are tested for non-zero.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "auth/AuthACL.h"
#include "auth/AuthRealm.h"
#include "config/Mapping.h"
#include "config/SystemMIMETable.h"

// The bits of AutoIndex.
constexpr uint32_t kAutoIndexOn = 1;     // list a directory that has no index file
constexpr uint32_t kAutoIndexTable = 2;  // lay the listing out as a table

class HTTPConfiguration {
public:
    // Numeric fields, DefaultIndex and DefaultCharset get the defaults of a
    // new setup; the other texts and the lists are empty until
    // DefaultConfiguration or LoadConfiguration.
    HTTPConfiguration();

    int ResolveName;       // look up the host name of each client address
    int ResolveLocal;      // learn SiteAddress at start from BounceSite:BouncePort
    int SendVersionInfo;   // put the version in the Server header
    int UseKeepAlive;      // allow persistent connections
    int UseMasterKey;      // accept methods beyond GET, HEAD, POST with the master key
    int CGIDebugMode;      // debug mode announced to Windows CGI programs
    int CGISendPassword;   // pass the decoded password to Windows CGI programs
    int PerlCGI;           // run Perl scripts through PerlCmdLine
    int ProcessSSI;        // expand server-side includes in parsed pages
    // Answer HTTP/1.1 requests as HTTP/1.1 (persistent by default, Host,
    // Expect, chunked bodies). A setup saved before the setting existed
    // lacks it and keeps answering them as HTTP/1.0; a new setup has it on.
    int UseHTTP11;
    // Compress text documents for clients that accept it (1 in every new
    // setup; a setup saved before the setting existed lacks it and reads
    // as 0, so it goes on answering as it did).
    int Compression;
    uint32_t AccessLogMask;    // non-zero: the access log is written
    uint32_t ErrorLogMask;     // non-zero: the error log is written
    uint32_t ReferrerLogMask;  // non-zero: the referrer log is written
    uint32_t TraceLogMask;     // non-zero: the trace log is written
    uint32_t AutoIndex;        // kAutoIndexOn, kAutoIndexTable
    uint32_t SendTimeOut;
    uint32_t RecvTimeOut;
    uint32_t KeepAlive;        // idle wait for the next request on a persistent connection
    uint32_t CGITimeOut;       // limit on a script's run time; 0 means none
    uint32_t PriorityLevel;    // worker priority: 0 low, 1 medium, 2 high, 3 critical
    uint32_t NumThreads;       // worker threads (the listener holds it to 8..512)
    uint32_t MaxBodySize;      // largest request body stored, in bytes; 0 means no limit
    int Port;                  // TCP port the server listens on
    int BouncePort;
    std::string BounceSite;    // host connected to in order to learn the own address
    std::string SiteAddress;   // the server's name or address as told to clients and scripts
    std::string AdminEmail;
    std::string MasterUser;
    std::string MasterPassword;
    std::string DocRoot;       // document root, without a trailing backslash
    std::string DefaultIndex;  // file served for a directory request
    // The charset named in the type of a text/plain document whose type
    // names none ("utf-8" in a new setup); empty: none is named.
    std::string DefaultCharset;
    std::string PerlCmdLine;
    std::string AccessLogFileName;
    std::string ErrorLogFileName;
    std::string ReferrerLogFileName;
    std::string TraceLogFileName;
    // Where the port listens: empty, every address of both families; else
    // one IPv4 or IPv6 address, or a host name looked up at start.
    std::string BindAddress;
    std::vector<AuthRealm> RealmList;
    std::vector<AuthACL> AccessControlList;
    std::vector<Mapping> Alias;   // virtual directory -> directory
    std::vector<Mapping> Redir;   // virtual path -> redirection target
    std::vector<Mapping> CgiBin;  // virtual directory -> standard CGI scripts
    std::vector<Mapping> CgiDos;  // virtual directory -> DOS CGI scripts (kept, not used by lookups)
    std::vector<Mapping> CgiWin;  // virtual directory -> Windows CGI programs
    std::vector<Mapping> Types;   // MIME type (first) and extension (second), searched in order
    // The system's MIME table, consulted for extensions that Types lacks.
    // Not part of the setup: never saved, and left as it is by loading; the
    // server reads the table afresh with every load of its live record, so
    // a request sees one table with the rest of the record. Null: none.
    std::shared_ptr<const SystemMIMETable> SystemTypes;

    // HTTPS on a second port. A new setup has UseTLS 1; a record that was
    // never loaded, or a setup without the value, has 0.
    int UseTLS;                 // serve HTTPS on TLSPort as well
    int TLSPort;                // TCP port of HTTPS
    int RedirectToTLS;          // answer a plain GET or HEAD of a document 301 to its https URL
    int AllowPlainCredentials;  // accept the master key's credentials over plain HTTP while UseTLS is on
    std::string CertificateFile;  // full-chain PEM certificate (server path)
    std::string KeyFile;          // its PEM private key (server path)
    // "https://" and SiteAddress, then ":" and TLSPort when it is not 443.
    std::string SiteTLSURL() const;
    // Certificates obtained and renewed from an ACME certificate authority
    // (HTTP-01), which then serve instead of CertificateFile and KeyFile.
    int AutoCertificate;        // 1: obtain and renew them
    std::string ACMEDirectory;  // the authority's directory URL
    std::string ACMEEmail;      // the account's contact; empty: none
    std::string ACMENames;      // comma-separated names; empty: SiteAddress

    // Empties every list (mappings, realms, access lists); scalars stay.
    void FlushAllLists();
    // The settings of a new setup: every default, one entry each in Alias,
    // CgiBin, CgiDos and CgiWin, the built-in MIME table, nothing else.
    void DefaultConfiguration();
    // Replaces Types with the 43 entries of the built-in MIME table.
    void UpdateMIMETypes();

    // "http://" and SiteAddress, then ":" and Port when it is not 80: where
    // clients reach this site.
    std::string SiteURL() const;

    // Fills the record from the named setup, reading it as one consistent
    // state of the store. A setup that does not exist is created with the
    // defaults and saved. Values that are missing or unreadable leave their
    // fields as they were (but a missing UseHTTP11 or Compression is 0);
    // lists are emptied first. Trailing backslashes
    // leave DocRoot; trailing slashes leave virtual paths; trailing
    // backslashes, then slashes, leave Alias and CGI targets (Redir targets
    // keep theirs). Realms and access lists are read through one working
    // record each, so a list key that lacks DisableAutoIndex or
    // User_Or_Class takes the value of the list read before it; one that
    // lacks Realm has none (and so refuses every password). False when
    // the store could not be read (the fields are then as a failed read
    // leaves them: lists emptied, the rest unchanged).
    bool LoadConfiguration(const std::string& setup);
    // Replaces the setup in the store with this record, as one transaction:
    // it deletes the setup's subkeys and writes everything anew, and either
    // all of that happens or nothing (the previous setup stays whole). List
    // entries with equal names collapse into one value, the later winning.
    // Realms and access lists with an empty name are not written (they would
    // land in the Basic key itself). True when the new setup was stored.
    bool SaveConfiguration(const std::string& setup);
    // Deletes every subkey of the setup key, which stays (and is created
    // when missing). True when the setup key could be opened.
    bool DeleteConfiguration(const std::string& setup);
    // What a setup made for a person (by the run script, varevavo-setup or
    // the package's first start) has over the defaults of a new setup, which
    // stay as they were designed: persistent connections (UseKeepAlive 1)
    // with 64 slots, since a browser holds several connections open; no
    // address lookup at start (ResolveLocal 0), which needs the internet and
    // complains without it, while redirects follow the Host header anyway;
    // and this system's Perl as PerlCmdLine.
    void PersonalSettings();
    // Loads the named setup, creating it with the defaults when it does not
    // exist (with personal, the personal settings too), and with a port
    // other than 0 stores that port in it: all as one transaction, so that
    // no moment of the store (a crash, another reader) shows a new setup
    // with the default port. A setup that exists keeps its settings. False
    // when the store could not be read or written; nothing is changed then.
    bool PrepareSetup(const std::string& setup, int port, bool personal = false);
    // True when the named setup is in the store; looking never creates it
    // (LoadConfiguration would), so a tool can refuse a misspelt name.
    static bool SetupExists(const std::string& setup);

private:
    bool ReadSetup(const std::string& setup);
};
