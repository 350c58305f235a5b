#pragma once
// The SQLite connection behind the registry operations of RegistryStore.h:
// one per process, opened on first use and reopened when VAREVAVO_HOME
// changes. Only RegistryStore.cpp uses it.
//
// Tables: keys(id, parent, name) with names unique per parent without
// ASCII case (the NOCASE collation), and vals(key, name, seq, type, data)
// where seq numbers a key's values in the order they were first written.
// Key 1 is HKEY_LOCAL_MACHINE; its child SOFTWARE is made with the store.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/RegistryTypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform::reg {

inline constexpr int64_t kRootKeyId = 1;

// One use of a cached prepared statement: bind, step, read columns. The
// statement is reset when this goes out of scope, so the cache can hand it
// out again.
class Statement {
public:
    explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // False when the statement could not be prepared; Step then fails.
    bool Prepared() const { return statement_ != nullptr; }
    void Bind(int index, int64_t value);
    void BindText(int index, std::string_view text);
    void BindBlob(int index, const void* data, size_t size);
    // SQLITE_ROW, SQLITE_DONE or the SQLite error.
    int Step();
    int64_t Integer(int column) const;
    std::string_view Text(int column) const;
    // The bytes of a blob column (null when empty) and their count.
    const uint8_t* Blob(int column, uint32_t* size) const;

private:
    sqlite3_stmt* statement_;
};

// True for the results that say the store itself failed (as opposed to a
// missing key, a small buffer, a bad argument): they spoil a transaction.
bool IsStoreFailure(LONG code);

class RegistryDatabase {
public:
    static RegistryDatabase& Instance();

    // Guards every member: the connection, its statement cache, the handle
    // table and the state of the thread's transaction. Recursive, because a
    // Transaction holds it for its whole life while the operations inside
    // take it again.
    std::recursive_mutex& Mutex() { return mutex_; }

    // Makes sure the store of the current VAREVAVO_HOME is open, creating
    // the home and the store when missing. Inside a transaction the open
    // store is kept.
    LONG Open();

    // The cached statement for a SQL literal (cached by its address).
    Statement Prepare(const char* sql);
    // Runs SQL without results; the registry error of the outcome.
    LONG Execute(const char* sql);
    // The row id of the last insert, and the rows changed by the last statement.
    int64_t LastInsertId() const;
    int Changes() const;
    // The registry error for a SQLite result.
    LONG ErrorOf(int sqliteResult) const;

    // Handles: numbers standing for key ids, valid until closed or until the
    // store is reopened for another home.
    HKEY NewHandle(int64_t keyId);
    // The key id of a handle (HKEY_LOCAL_MACHINE is the root); the key itself
    // may have been deleted since.
    LONG KeyOfHandle(HKEY handle, int64_t* keyId) const;
    LONG CloseHandle(HKEY handle);

    // SQL transactions. BeginSql waits and retries while the store is busy,
    // for at most kBusyLimitMs; EndSql commits (rolling back when the commit
    // fails) or rolls back.
    LONG BeginSql(bool write);
    LONG EndSql(bool commit);
    // Whether a busy operation may start another attempt, and the pause before it.
    static bool MayRetry(uint32_t startMs, unsigned attempt);
    static void PauseBeforeRetry(unsigned attempt);

    // The thread's Transaction, if any: depth of nesting, and the error that
    // spoiled it (ERROR_SUCCESS while sound).
    bool InTransaction() const { return depth_ > 0; }
    LONG TransactionError() const { return spoiled_; }
    void Spoil(LONG error) {
        if (spoiled_ == ERROR_SUCCESS) spoiled_ = error;
    }
    // Begins the outermost transaction (Open and BeginSql); even when that
    // fails the thread is inside a spoiled transaction until Leave.
    void EnterOutermost(bool write);
    void Join() { ++depth_; }
    // Ends one level; the outermost level commits (commit true and not
    // spoiled) or rolls back, and returns the transaction's result.
    LONG Leave(bool commit);

private:
    RegistryDatabase() = default;
    ~RegistryDatabase();
    void Close();
    LONG Setup();

    std::recursive_mutex mutex_;
    sqlite3* db_ = nullptr;
    std::string path_;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
    std::unordered_map<uint32_t, int64_t> handles_;
    uint32_t nextHandle_ = 1;
    int depth_ = 0;
    bool sqlOpen_ = false;  // the outermost Transaction's BEGIN succeeded
    LONG spoiled_ = ERROR_SUCCESS;
};

}  // namespace platform::reg
