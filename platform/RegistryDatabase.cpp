#include "platform/RegistryDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Clock.h"
#include "platform/Paths.h"

namespace platform::reg {
namespace {

// SQLite's own wait for a lock held by another process; beyond it an
// operation begins again, until kBusyLimitMs have passed in all.
constexpr int kBusyTimeoutMs = 5000;
constexpr uint32_t kBusyLimitMs = 20000;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE vals("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  seq INTEGER NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "CREATE INDEX vals_order ON vals(key, seq);"
    "INSERT INTO keys(id, parent, name) VALUES(1, NULL, 'HKEY_LOCAL_MACHINE');"
    "INSERT INTO keys(parent, name) VALUES(1, 'SOFTWARE');"
    "PRAGMA user_version = 1;";

// The store holds the master password: it is the owner's alone, whatever
// the umask. SQLite gives its companions (-wal, -shm) the mode of the store
// when it makes them; ones made before, under a looser mode, are tightened
// with the store.
void KeepPrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
        struct stat st;
        if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077))
            ::chmod(file.c_str(), st.st_mode & 0700);
    }
}

}  // namespace

// --- Statement ------------------------------------------------------------------

Statement::~Statement() {
    if (statement_) {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
}

void Statement::Bind(int index, int64_t value) {
    if (statement_) sqlite3_bind_int64(statement_, index, value);
}

void Statement::BindText(int index, std::string_view text) {
    // A zero-length text must still be a text, not NULL.
    if (statement_) sqlite3_bind_text(statement_, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::BindBlob(int index, const void* data, size_t size) {
    if (!statement_) return;
    if (size == 0) sqlite3_bind_zeroblob(statement_, index, 0);
    else sqlite3_bind_blob(statement_, index, data, static_cast<int>(size), SQLITE_TRANSIENT);
}

int Statement::Step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }

int64_t Statement::Integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::string_view Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string_view();
}

const uint8_t* Statement::Blob(int column, uint32_t* size) const {
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
    *size = static_cast<uint32_t>(sqlite3_column_bytes(statement_, column));
    return data;
}

bool IsStoreFailure(LONG code) {
    return code == ERROR_BUSY || code == ERROR_CANTOPEN || code == ERROR_REGISTRY_CORRUPT ||
           code == ERROR_REGISTRY_IO_FAILED || code == ERROR_CANCELLED;
}

// --- Connection -------------------------------------------------------------------

RegistryDatabase& RegistryDatabase::Instance() {
    static RegistryDatabase instance;
    return instance;
}

RegistryDatabase::~RegistryDatabase() { Close(); }

void RegistryDatabase::Close() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    handles_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    path_.clear();
}

LONG RegistryDatabase::ErrorOf(int sqliteResult) const {
    switch (sqliteResult & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
        return ERROR_CANTOPEN;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return ERROR_REGISTRY_CORRUPT;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

LONG RegistryDatabase::Open() {
    const std::string home = VarevavoHome();
    const std::string path = home + "/registry.db";
    if (db_ && (path == path_ || depth_ > 0)) return ERROR_SUCCESS;
    Close();
    // A home made here is private too: the drives below it hold the logs.
    if (!MakeDirectories(home, 0700)) return ERROR_CANTOPEN;
    KeepPrivate(path);
    // The library's first page-cache block would hold twenty pages for the
    // whole run, where the store needs a few: pages are taken one at a time.
    // (Only possible before the library's first use; later it is refused,
    // harmlessly.)
    static const bool pagesOneByOne = sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK;
    (void)pagesOneByOne;
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        Close();
        return ERROR_CANTOPEN;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    path_ = path;
    const LONG result = Setup();
    if (result != ERROR_SUCCESS) Close();
    return result;
}

// WAL lets readers go on while one process writes; the schema is made once,
// by whichever process gets there first.
LONG RegistryDatabase::Setup() {
    const uint32_t start = MillisecondClock();
    for (unsigned attempt = 1;; ++attempt) {
        LONG result = Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
        int version = 0;
        if (result == ERROR_SUCCESS) {
            Statement query = Prepare("PRAGMA user_version");
            const int step = query.Step();
            if (step == SQLITE_ROW) version = static_cast<int>(query.Integer(0));
            else result = ErrorOf(step);
        }
        if (result == ERROR_SUCCESS && version == 0) {
            result = BeginSql(true);
            if (result == ERROR_SUCCESS) {
                Statement again = Prepare("PRAGMA user_version");
                const bool empty = again.Step() == SQLITE_ROW && again.Integer(0) == 0;
                result = empty ? Execute(kSchema) : ERROR_SUCCESS;
                const LONG end = EndSql(result == ERROR_SUCCESS);
                if (result == ERROR_SUCCESS) result = end;
                version = kSchemaVersion;
            }
        }
        if (result == ERROR_SUCCESS && version != kSchemaVersion) result = ERROR_REGISTRY_CORRUPT;
        if (result != ERROR_BUSY || !MayRetry(start, attempt)) return result;
        PauseBeforeRetry(attempt);
    }
}

Statement RegistryDatabase::Prepare(const char* sql) {
    if (!db_) return Statement(nullptr);
    auto found = statements_.find(sql);
    if (found != statements_.end()) return Statement(found->second);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) return Statement(nullptr);
    statements_.emplace(sql, statement);
    return Statement(statement);
}

LONG RegistryDatabase::Execute(const char* sql) {
    if (!db_) return ERROR_CANTOPEN;
    return ErrorOf(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

int64_t RegistryDatabase::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int RegistryDatabase::Changes() const { return sqlite3_changes(db_); }

// --- Handles ----------------------------------------------------------------------

HKEY RegistryDatabase::NewHandle(int64_t keyId) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    // Numbers from 0x80000000 up are the predefined roots.
    if (nextHandle_ == 0 || nextHandle_ >= 0x80000000u) nextHandle_ = 1;
    while (handles_.count(nextHandle_)) ++nextHandle_;
    const uint32_t number = nextHandle_++;
    handles_.emplace(number, keyId);
    return HKEY{number};
}

LONG RegistryDatabase::KeyOfHandle(HKEY handle, int64_t* keyId) const {
    if (handle == HKEY_LOCAL_MACHINE) {
        *keyId = kRootKeyId;
        return ERROR_SUCCESS;
    }
    const auto found = handles_.find(static_cast<uint32_t>(handle));
    if (found == handles_.end()) return ERROR_INVALID_HANDLE;
    *keyId = found->second;
    return ERROR_SUCCESS;
}

LONG RegistryDatabase::CloseHandle(HKEY handle) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (handle == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    return handles_.erase(static_cast<uint32_t>(handle)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// --- Transactions -------------------------------------------------------------------

bool RegistryDatabase::MayRetry(uint32_t startMs, unsigned attempt) {
    return attempt < 1000 && MillisecondClock() - startMs < kBusyLimitMs;
}

void RegistryDatabase::PauseBeforeRetry(unsigned attempt) { SleepMilliseconds(attempt < 10 ? 2 * attempt : 20); }

LONG RegistryDatabase::BeginSql(bool write) {
    const uint32_t start = MillisecondClock();
    for (unsigned attempt = 1;; ++attempt) {
        const LONG result = Execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
        if (result != ERROR_BUSY || !MayRetry(start, attempt)) return result;
        PauseBeforeRetry(attempt);
    }
}

LONG RegistryDatabase::EndSql(bool commit) {
    if (!db_ || sqlite3_get_autocommit(db_)) return commit ? ERROR_REGISTRY_IO_FAILED : ERROR_SUCCESS;
    if (commit) {
        const LONG result = Execute("COMMIT");
        if (result == ERROR_SUCCESS) return result;
        if (!sqlite3_get_autocommit(db_)) Execute("ROLLBACK");
        return result;
    }
    Execute("ROLLBACK");
    return ERROR_SUCCESS;
}

void RegistryDatabase::EnterOutermost(bool write) {
    spoiled_ = Open();  // before depth_ is raised, so that a new home is opened
    if (spoiled_ == ERROR_SUCCESS) spoiled_ = BeginSql(write);
    sqlOpen_ = spoiled_ == ERROR_SUCCESS;
    depth_ = 1;
}

LONG RegistryDatabase::Leave(bool commit) {
    if (depth_ > 1) {
        --depth_;
        if (!commit) Spoil(ERROR_CANCELLED);
        return spoiled_;
    }
    LONG result = spoiled_;
    if (sqlOpen_) {
        const LONG end = EndSql(commit && result == ERROR_SUCCESS);
        if (result == ERROR_SUCCESS && commit) result = end;
    }
    if (!commit && result == ERROR_SUCCESS) result = ERROR_CANCELLED;
    depth_ = 0;
    sqlOpen_ = false;
    spoiled_ = ERROR_SUCCESS;
    return result;
}

}  // namespace platform::reg
