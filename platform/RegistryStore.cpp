#include "platform/RegistryStore.h"

#include <sqlite3.h>

#include <cstring>

#include "platform/Clock.h"
#include "platform/RegistryDatabase.h"

namespace platform::reg {
namespace {

// Runs one operation on the store: inside the thread's Transaction when there
// is one (a failure of the store spoils it), otherwise as a transaction of
// its own, begun again while other processes keep the store busy.
template <typename Body>
LONG Run(bool write, Body body) {
    RegistryDatabase& db = RegistryDatabase::Instance();
    std::lock_guard<std::recursive_mutex> guard(db.Mutex());
    if (db.InTransaction()) {
        if (const LONG spoiled = db.TransactionError()) return spoiled;
        const LONG result = body(db);
        if (IsStoreFailure(result)) db.Spoil(result);
        return result;
    }
    if (const LONG opened = db.Open()) return opened;
    const uint32_t start = MillisecondClock();
    for (unsigned attempt = 1;; ++attempt) {
        LONG result = db.BeginSql(write);
        if (result == ERROR_SUCCESS) {
            result = body(db);
            const LONG end = db.EndSql(!IsStoreFailure(result));
            if (!IsStoreFailure(result) && end != ERROR_SUCCESS) result = end;
        }
        if (result != ERROR_BUSY || !RegistryDatabase::MayRetry(start, attempt)) return result;
        RegistryDatabase::PauseBeforeRetry(attempt);
    }
}

bool ValidName(std::string_view name) { return name.find('\0') == std::string_view::npos; }

// Steps a query that should yield one row: ERROR_SUCCESS with the row,
// absent when there is none, the store's error otherwise.
LONG StepRow(RegistryDatabase& db, Statement& query, LONG absent) {
    const int step = query.Step();
    if (step == SQLITE_ROW) return ERROR_SUCCESS;
    return step == SQLITE_DONE ? absent : db.ErrorOf(step);
}

// The key a handle stands for, provided it still exists.
LONG LiveKey(RegistryDatabase& db, HKEY handle, int64_t* keyId) {
    if (const LONG result = db.KeyOfHandle(handle, keyId)) return result;
    Statement query = db.Prepare("SELECT 1 FROM keys WHERE id = ?1");
    query.Bind(1, *keyId);
    return StepRow(db, query, ERROR_KEY_DELETED);
}

// Runs an operation on the key a handle stands for, provided it still exists.
template <typename Body>
LONG OnKey(bool write, HKEY key, Body body) {
    return Run(write, [&](RegistryDatabase& db) {
        int64_t keyId = 0;
        if (const LONG live = LiveKey(db, key, &keyId)) return live;
        return body(db, keyId);
    });
}

LONG FindChild(RegistryDatabase& db, int64_t parent, std::string_view name, int64_t* child) {
    Statement query = db.Prepare("SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    query.Bind(1, parent);
    query.BindText(2, name);
    const LONG result = StepRow(db, query, ERROR_FILE_NOT_FOUND);
    if (result == ERROR_SUCCESS) *child = query.Integer(0);
    return result;
}

// Follows a backslash-separated path from a key. With create, missing keys
// are made (*created tells whether the last one was); keys directly below
// the root are fixed and are never made.
LONG Walk(RegistryDatabase& db, int64_t from, std::string_view path, bool create, int64_t* keyId, bool* created) {
    if (!ValidName(path)) return ERROR_INVALID_PARAMETER;
    *keyId = from;
    if (created) *created = false;
    if (path.empty()) return ERROR_SUCCESS;
    for (;;) {
        const size_t slash = path.find('\\');
        const std::string_view name = path.substr(0, slash);
        if (name.empty()) return ERROR_INVALID_PARAMETER;
        LONG result = FindChild(db, *keyId, name, keyId);
        bool made = false;
        if (result == ERROR_FILE_NOT_FOUND && create) {
            if (*keyId == kRootKeyId) return ERROR_ACCESS_DENIED;
            Statement insert = db.Prepare("INSERT INTO keys(parent, name) VALUES(?1, ?2)");
            insert.Bind(1, *keyId);
            insert.BindText(2, name);
            result = db.ErrorOf(insert.Step());
            if (result == ERROR_SUCCESS) *keyId = db.LastInsertId();
            made = true;
        }
        if (result != ERROR_SUCCESS) return result;
        if (slash == std::string_view::npos) {
            if (created) *created = made;
            return ERROR_SUCCESS;
        }
        path.remove_prefix(slash + 1);
    }
}

LONG ParentOf(RegistryDatabase& db, int64_t keyId, int64_t* parent) {
    Statement query = db.Prepare("SELECT parent FROM keys WHERE id = ?1");
    query.Bind(1, keyId);
    const LONG result = StepRow(db, query, ERROR_KEY_DELETED);
    if (result == ERROR_SUCCESS) *parent = query.Integer(0);
    return result;
}

// The root and the keys directly below it are the fixed frame of the store.
LONG CheckDeletable(RegistryDatabase& db, int64_t keyId) {
    if (keyId == kRootKeyId) return ERROR_ACCESS_DENIED;
    int64_t parent = 0;
    if (const LONG result = ParentOf(db, keyId, &parent)) return result;
    return parent == kRootKeyId ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

LONG Count(RegistryDatabase& db, const char* sql, int64_t keyId, uint32_t* out) {
    if (!out) return ERROR_SUCCESS;
    Statement query = db.Prepare(sql);
    query.Bind(1, keyId);
    const LONG result = StepRow(db, query, ERROR_REGISTRY_IO_FAILED);
    if (result == ERROR_SUCCESS) *out = static_cast<uint32_t>(query.Integer(0));
    return result;
}

// Copies a name into a caller's buffer of *size characters (zero included).
LONG CopyName(std::string_view name, char* buffer, uint32_t* size) {
    if (!buffer || !size) return ERROR_INVALID_PARAMETER;
    if (name.size() + 1 > *size) return ERROR_MORE_DATA;
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *size = static_cast<uint32_t>(name.size());
    return ERROR_SUCCESS;
}

// Whether data of `needed` bytes fit a caller's data buffer (a null buffer
// only asks for the size); sets *size to `needed` when they do not.
LONG CheckDataRoom(const void* data, uint32_t* size, uint32_t needed) {
    if (data && !size) return ERROR_INVALID_PARAMETER;
    if (data && needed > *size) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    return ERROR_SUCCESS;
}

void CopyData(const uint8_t* bytes, uint32_t length, uint32_t type, uint32_t* typeOut, void* data, uint32_t* size) {
    if (typeOut) *typeOut = type;
    if (data && length) std::memcpy(data, bytes, length);
    if (size) *size = length;
}

}  // namespace

const char* ErrorText(LONG code) {
    switch (code) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system was unable to find the specified registry key or value.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_BUSY: return "The registry store stayed locked by other programs.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_CANTOPEN: return "The registry store could not be opened.";
    case ERROR_REGISTRY_CORRUPT: return "The registry store is not a registry database.";
    case ERROR_REGISTRY_IO_FAILED: return "The registry store failed to read or write.";
    case ERROR_KEY_DELETED: return "The key has been deleted.";
    case ERROR_CANCELLED: return "The operation was cancelled.";
    default: return "The registry operation failed.";
    }
}

// --- Keys -----------------------------------------------------------------------------

LONG RegCreateKeyEx(HKEY parent, std::string_view subkey, HKEY* result, bool* created) {
    if (!result) return ERROR_INVALID_PARAMETER;
    int64_t keyId = 0;
    bool made = false;
    const LONG status = OnKey(true, parent, [&](RegistryDatabase& db, int64_t from) {
        return Walk(db, from, subkey, true, &keyId, &made);
    });
    if (status != ERROR_SUCCESS) return status;
    *result = RegistryDatabase::Instance().NewHandle(keyId);
    if (created) *created = made;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY parent, std::string_view subkey, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    int64_t keyId = 0;
    const LONG status = OnKey(false, parent, [&](RegistryDatabase& db, int64_t from) {
        return Walk(db, from, subkey, false, &keyId, nullptr);
    });
    if (status != ERROR_SUCCESS) return status;
    *result = RegistryDatabase::Instance().NewHandle(keyId);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) { return RegistryDatabase::Instance().CloseHandle(key); }

LONG RegDeleteKey(HKEY parent, std::string_view subkey) {
    if (subkey.empty()) return ERROR_INVALID_PARAMETER;
    return OnKey(true, parent, [&](RegistryDatabase& db, int64_t from) {
        int64_t keyId = 0;
        if (const LONG found = Walk(db, from, subkey, false, &keyId, nullptr)) return found;
        if (const LONG fixed = CheckDeletable(db, keyId)) return fixed;
        uint32_t children = 0;
        if (const LONG counted = Count(db, "SELECT count(*) FROM keys WHERE parent = ?1", keyId, &children)) return counted;
        if (children) return ERROR_ACCESS_DENIED;
        Statement values = db.Prepare("DELETE FROM vals WHERE key = ?1");
        values.Bind(1, keyId);
        if (const LONG deleted = db.ErrorOf(values.Step())) return deleted;
        Statement key = db.Prepare("DELETE FROM keys WHERE id = ?1");
        key.Bind(1, keyId);
        return db.ErrorOf(key.Step());
    });
}

LONG RegDeleteTree(HKEY parent, std::string_view subkey) {
    return OnKey(true, parent, [&](RegistryDatabase& db, int64_t from) {
        int64_t keyId = 0;
        if (const LONG found = Walk(db, from, subkey, false, &keyId, nullptr)) return found;
        const bool keepKey = subkey.empty();
        if (keepKey && keyId == kRootKeyId) return ERROR_ACCESS_DENIED;
        if (!keepKey)
            if (const LONG fixed = CheckDeletable(db, keyId)) return fixed;
        // Values of the keys below first: the walk down the tree needs the keys.
        Statement values = db.Prepare(
            "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1"
            " UNION ALL SELECT keys.id FROM keys JOIN below ON keys.parent = below.id)"
            " DELETE FROM vals WHERE key IN below OR key = ?1");
        values.Bind(1, keyId);
        if (const LONG deleted = db.ErrorOf(values.Step())) return deleted;
        Statement keys = db.Prepare(
            "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1"
            " UNION ALL SELECT keys.id FROM keys JOIN below ON keys.parent = below.id)"
            " DELETE FROM keys WHERE id IN below OR (id = ?1 AND ?2)");
        keys.Bind(1, keyId);
        keys.Bind(2, keepKey ? 0 : 1);
        return db.ErrorOf(keys.Step());
    });
}

LONG RegQueryInfoKey(HKEY key, uint32_t* subKeys, uint32_t* values) {
    return OnKey(false, key, [&](RegistryDatabase& db, int64_t keyId) {
        if (const LONG counted = Count(db, "SELECT count(*) FROM keys WHERE parent = ?1", keyId, subKeys)) return counted;
        return Count(db, "SELECT count(*) FROM vals WHERE key = ?1", keyId, values);
    });
}

namespace {

template <typename Deliver>
LONG EnumKey(HKEY key, uint32_t index, Deliver deliver) {
    return OnKey(false, key, [&](RegistryDatabase& db, int64_t keyId) {
        Statement query = db.Prepare("SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
        query.Bind(1, keyId);
        query.Bind(2, index);
        if (const LONG found = StepRow(db, query, ERROR_NO_MORE_ITEMS)) return found;
        return deliver(query.Text(0));
    });
}

}  // namespace

LONG RegEnumKeyEx(HKEY key, uint32_t index, char* name, uint32_t* nameSize) {
    if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
    return EnumKey(key, index, [&](std::string_view found) { return CopyName(found, name, nameSize); });
}

LONG RegEnumKeyEx(HKEY key, uint32_t index, std::string* name) {
    if (!name) return ERROR_INVALID_PARAMETER;
    return EnumKey(key, index, [&](std::string_view found) {
        name->assign(found);
        return ERROR_SUCCESS;
    });
}

// --- Values -------------------------------------------------------------------------------

LONG RegSetValueEx(HKEY key, std::string_view name, uint32_t type, const void* data, uint32_t size) {
    if (!ValidName(name) || (!data && size)) return ERROR_INVALID_PARAMETER;
    return OnKey(true, key, [&](RegistryDatabase& db, int64_t keyId) {
        if (keyId == kRootKeyId) return ERROR_ACCESS_DENIED;
        Statement upsert = db.Prepare(
            "INSERT INTO vals(key, name, seq, type, data)"
            " VALUES(?1, ?2, (SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key = ?1), ?3, ?4)"
            " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.Bind(1, keyId);
        upsert.BindText(2, name);
        upsert.Bind(3, type);
        upsert.BindBlob(4, data, size);
        return db.ErrorOf(upsert.Step());
    });
}

namespace {

// Looks a value up and hands its type and bytes to deliver.
template <typename Deliver>
LONG QueryValue(HKEY key, std::string_view name, Deliver deliver) {
    if (!ValidName(name)) return ERROR_INVALID_PARAMETER;
    return OnKey(false, key, [&](RegistryDatabase& db, int64_t keyId) {
        Statement query = db.Prepare("SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
        query.Bind(1, keyId);
        query.BindText(2, name);
        if (const LONG found = StepRow(db, query, ERROR_FILE_NOT_FOUND)) return found;
        uint32_t length = 0;
        const uint8_t* bytes = query.Blob(1, &length);
        return deliver(static_cast<uint32_t>(query.Integer(0)), bytes, length);
    });
}

// The value at an index of first-written order, handed to deliver.
template <typename Deliver>
LONG EnumValue(HKEY key, uint32_t index, Deliver deliver) {
    return OnKey(false, key, [&](RegistryDatabase& db, int64_t keyId) {
        Statement query = db.Prepare("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2");
        query.Bind(1, keyId);
        query.Bind(2, index);
        if (const LONG found = StepRow(db, query, ERROR_NO_MORE_ITEMS)) return found;
        uint32_t length = 0;
        const uint8_t* bytes = query.Blob(2, &length);
        return deliver(query.Text(0), static_cast<uint32_t>(query.Integer(1)), bytes, length);
    });
}

}  // namespace

LONG RegQueryValueEx(HKEY key, std::string_view name, uint32_t* type, void* data, uint32_t* size) {
    return QueryValue(key, name, [&](uint32_t found, const uint8_t* bytes, uint32_t length) {
        if (const LONG room = CheckDataRoom(data, size, length)) return room;
        CopyData(bytes, length, found, type, data, size);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY key, std::string_view name, uint32_t* type, std::vector<uint8_t>* data) {
    if (!data) return ERROR_INVALID_PARAMETER;
    return QueryValue(key, name, [&](uint32_t found, const uint8_t* bytes, uint32_t length) {
        if (type) *type = found;
        data->assign(bytes, bytes + length);
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValue(HKEY key, std::string_view name) {
    if (!ValidName(name)) return ERROR_INVALID_PARAMETER;
    return OnKey(true, key, [&](RegistryDatabase& db, int64_t keyId) {
        Statement erase = db.Prepare("DELETE FROM vals WHERE key = ?1 AND name = ?2");
        erase.Bind(1, keyId);
        erase.BindText(2, name);
        if (const LONG result = db.ErrorOf(erase.Step())) return result;
        return db.Changes() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegEnumValue(HKEY key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type, void* data,
                  uint32_t* dataSize) {
    if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
    return EnumValue(key, index, [&](std::string_view found, uint32_t foundType, const uint8_t* bytes, uint32_t length) {
        if (found.size() + 1 > *nameSize) {
            if (dataSize) *dataSize = length;
            return ERROR_MORE_DATA;
        }
        if (const LONG room = CheckDataRoom(data, dataSize, length)) return room;
        CopyName(found, name, nameSize);
        CopyData(bytes, length, foundType, type, data, dataSize);
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type, std::vector<uint8_t>* data) {
    if (!name || !data) return ERROR_INVALID_PARAMETER;
    return EnumValue(key, index, [&](std::string_view found, uint32_t foundType, const uint8_t* bytes, uint32_t length) {
        name->assign(found);
        if (type) *type = foundType;
        data->assign(bytes, bytes + length);
        return ERROR_SUCCESS;
    });
}

// --- Transactions ----------------------------------------------------------------------------

Transaction::Transaction(Kind kind) : lock_(RegistryDatabase::Instance().Mutex()) {
    RegistryDatabase& db = RegistryDatabase::Instance();
    outermost_ = !db.InTransaction();
    if (outermost_) db.EnterOutermost(kind == Write);
    else db.Join();
}

Transaction::~Transaction() {
    if (!ended_) RegistryDatabase::Instance().Leave(false);
}

LONG Transaction::Status() const {
    return ended_ ? result_ : RegistryDatabase::Instance().TransactionError();
}

LONG Transaction::Commit() {
    if (ended_) return result_;
    ended_ = true;
    RegistryDatabase& db = RegistryDatabase::Instance();
    if (const auto seam = CommitSeam.load(); seam && !seam()) db.Spoil(ERROR_REGISTRY_IO_FAILED);
    result_ = db.Leave(true);
    return result_;
}

}  // namespace platform::reg
