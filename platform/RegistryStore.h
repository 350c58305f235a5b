#pragma once
// The registry: hierarchical keys holding named, typed values, kept in the
// SQLite database $VAREVAVO_HOME/registry.db and shared by every program of
// the project at once (the server, zazezere, varevavo-reg, a counter script).
//
// The operations have the shape of the desktop platform's registry calls, so
// that callers read like code written against it:
//   - key and value names compare without ASCII letter case and keep the
//     case they were created with;
//   - subkeys enumerate in name order (ignoring case), values in the order
//     they were first written (rewriting a value keeps its place);
//   - value data are kept as their exact bytes; the type is a label;
//   - HKEY_LOCAL_MACHINE is the root, and HKEY_LOCAL_MACHINE\SOFTWARE always
//     exists. Keys directly below the root are fixed: they can be neither
//     created nor deleted, and the root holds no values;
//   - results are error codes of that platform (ERROR_SUCCESS is 0).
//
// Every operation is atomic. Outside a Transaction each runs as its own
// transaction, waiting (and retrying) while another process writes, so that
// ordinary contention never fails with "database is locked". All calls are
// safe from any thread; a Transaction keeps other threads of the process out
// of the store until it ends. When VAREVAVO_HOME changes between calls (tests
// give every case its own home), the store of the new home is opened and the
// handles of the old one become invalid.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryTypes.h"

namespace platform::reg {

// A short English description of a result, for messages.
const char* ErrorText(LONG code);

// --- Keys -------------------------------------------------------------------
// A subkey path names one or more levels below parent, separated by
// backslashes ("Access\Basic"); an empty path names parent itself.

// Opens parent\subkey, creating it and any missing keys on the way. *result
// receives a new handle; *created (may be null) is true when the last key of
// the path did not exist before.
LONG RegCreateKeyEx(HKEY parent, std::string_view subkey, HKEY* result, bool* created);
// Opens an existing key; ERROR_FILE_NOT_FOUND when a key on the path is missing.
LONG RegOpenKeyEx(HKEY parent, std::string_view subkey, HKEY* result);
// Releases a handle (HKEY_LOCAL_MACHINE needs no closing; closing it succeeds).
LONG RegCloseKey(HKEY key);
// Deletes parent\subkey with its values. The key must have no subkeys
// (ERROR_ACCESS_DENIED otherwise); subkey must not be empty.
LONG RegDeleteKey(HKEY parent, std::string_view subkey);
// Deletes parent\subkey with everything below it; with an empty subkey,
// deletes every subkey and value of parent and keeps parent itself.
LONG RegDeleteTree(HKEY parent, std::string_view subkey);
// Numbers of direct subkeys and of values (either pointer may be null).
LONG RegQueryInfoKey(HKEY key, uint32_t* subKeys, uint32_t* values);
// The name of the subkey at index (name order). *nameSize is the size of the
// buffer in characters, the terminating zero included; on success it becomes
// the length of the name. ERROR_MORE_DATA (nothing copied) when the name and
// its zero do not fit; ERROR_NO_MORE_ITEMS past the last subkey.
LONG RegEnumKeyEx(HKEY key, uint32_t index, char* name, uint32_t* nameSize);
// The same, into a string of any length.
LONG RegEnumKeyEx(HKEY key, uint32_t index, std::string* name);

// --- Values -------------------------------------------------------------------
// An empty name is the key's unnamed (default) value.

// Writes a value, replacing any value of the same name (whose place in the
// value order and whose name spelling are kept).
LONG RegSetValueEx(HKEY key, std::string_view name, uint32_t type, const void* data, uint32_t size);
// Reads a value. type may be null. With data null, *size (when size is not
// null) receives the size of the data. Otherwise *size is the size of the
// buffer: when the data fit they are copied and *size becomes their size;
// when they do not, the result is ERROR_MORE_DATA, nothing is copied and
// *size becomes the size needed.
LONG RegQueryValueEx(HKEY key, std::string_view name, uint32_t* type, void* data, uint32_t* size);
// Reads a whole value (type may be null).
LONG RegQueryValueEx(HKEY key, std::string_view name, uint32_t* type, std::vector<uint8_t>* data);
// Removes a value; ERROR_FILE_NOT_FOUND when there is none.
LONG RegDeleteValue(HKEY key, std::string_view name);
// The value at index (first-written order). Name buffer as for RegEnumKeyEx;
// data buffer as for RegQueryValueEx (data may be null to learn the size;
// type and data may be null). When the name or the data do not fit the
// result is ERROR_MORE_DATA, nothing is copied, and *dataSize (if given)
// becomes the size needed.
LONG RegEnumValue(HKEY key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type, void* data,
                  uint32_t* dataSize);
// The same, into a string and a byte vector of any length.
LONG RegEnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type, std::vector<uint8_t>* data);

// Owns one open handle and closes it when destroyed (or reset).
class ScopedKey {
public:
    ScopedKey() = default;
    explicit ScopedKey(HKEY key) : key_(key) {}
    ~ScopedKey() { Reset(); }
    ScopedKey(ScopedKey&& other) noexcept : key_(other.key_) { other.key_ = kNoKey; }
    ScopedKey& operator=(ScopedKey&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = other.key_;
            other.key_ = kNoKey;
        }
        return *this;
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY get() const { return key_; }
    bool IsOpen() const { return key_ != kNoKey; }
    // Closes the handle held, if any, and offers the slot to an opening
    // call: RegOpenKeyEx(parent, path, key.Receive()).
    HKEY* Receive() {
        Reset();
        return &key_;
    }
    void Reset() {
        if (key_ != kNoKey) RegCloseKey(key_);
        key_ = kNoKey;
    }

private:
    HKEY key_ = kNoKey;
};

// --- Test seam -----------------------------------------------------------------
// Null in every program. A test sets it to stop a change of the store at a
// commit, as a crash or a failing disk would: every Commit (inner or
// outermost) calls it first, and a false result fails that commit as a
// failure of the store (ERROR_REGISTRY_IO_FAILED) would, so the outermost
// transaction rolls back. It may also end the process there.
inline std::atomic<bool (*)()> CommitSeam{nullptr};

// --- Transactions ---------------------------------------------------------------
// Groups several operations of this thread into one atomic change of the
// store; other threads of the process wait until it ends.
//   - Write begins with the store's write lock (waiting and retrying while
//     another process holds it), so its operations never fail for lack of it.
//   - Read sees one consistent state of the store for its whole life. An
//     operation that writes inside it tries to take the write lock then; when
//     another process has written meanwhile that fails with ERROR_BUSY, and
//     Commit reports it (the caller may redo its work in a Write).
// A Transaction begun while this thread already holds one joins it: its
// Commit only reports how the outer one stands, and ending it without Commit
// makes the outer one fail.
// Once an operation inside has failed for a reason of the store (not for a
// missing key or value), every later operation fails with the same error and
// Commit rolls everything back: a transaction never half-applies.
// Destruction without Commit rolls back.
class Transaction {
public:
    enum Kind { Read, Write };
    explicit Transaction(Kind kind = Write);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // ERROR_SUCCESS while the transaction (or the outer one it joined) is sound.
    LONG Status() const;
    // Makes the changes permanent (outermost) and returns ERROR_SUCCESS, or
    // rolls them back and returns the error that spoiled the transaction.
    // A second call returns the result of the first.
    LONG Commit();

private:
    std::unique_lock<std::recursive_mutex> lock_;
    bool outermost_ = false;
    bool ended_ = false;
    LONG result_ = ERROR_SUCCESS;
};

}  // namespace platform::reg
