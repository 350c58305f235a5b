#pragma once
// One open key of the registry (platform/RegistryStore.h): the only way the
// server touches its persistent state. A key is opened with create-if-missing
// semantics and remembers whether it had to be created, which is how a setup
// that does not exist yet is recognised.
//
// Reads never report errors: each returns false and leaves its destination
// exactly as it was when the value is missing or does not fit, so callers
// assign a default first and read over it. The stored type is not examined on
// reading. Reads work with the fixed buffers of the original design:
//   - a value name passed to a read is cut to its first 1023 characters;
//   - string data are read into 1024 bytes, the terminating zero included,
//     so a stored string of 1024 or more characters cannot be read;
//   - number data are read into 4 bytes; longer data cannot be read, and
//     shorter data give the number their bytes spell (upper bytes zero);
//   - an enumerated subkey or value name of 1024 or more characters makes
//     that enumeration step fail.
// Writes use REG_DWORD (4 bytes, little-endian) and REG_SZ (the text and its
// terminating zero).
//
// A key belongs to one thread and lives for one operation; it owns its
// handle and closes it when destroyed.

#include <cstdint>
#include <string>

#include "platform/RegistryStore.h"

class RegistryKey {
public:
    // Opens parent\name (name may hold several levels: "Access\Basic"),
    // creating it and any missing keys on the way.
    RegistryKey(platform::reg::HKEY parent, const std::string& name);
    // The same below an open key; fails (Opened false) when parent is not open.
    RegistryKey(const RegistryKey& parent, const std::string& name);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Created = false;  // opening this key created it
    bool Opened = false;   // the key is open; when false every operation fails
    std::string KeyName;   // the name given to the constructor
    platform::reg::HKEY KeyHandle = platform::reg::kNoKey;  // meaningful while Opened

    // The first (up to) four bytes of the value as a number. False, with
    // *value unchanged, when value is null, the value is missing or its
    // data are longer than 4 bytes.
    bool GetDWORD(const std::string& name, uint32_t* value);
    bool GetDWORD(const std::string& name, int* value);
    // The value's data up to the first zero byte. False, with *value
    // unchanged, when value is null, the value is missing or holds 1024 or
    // more bytes.
    bool GetString(const std::string& name, std::string* value);
    bool SaveDWORD(const std::string& name, uint32_t value);
    bool SaveString(const std::string& name, const std::string& value);

    // Numbers of direct subkeys and of values; 0 when the key cannot be queried.
    unsigned long NumKeys();
    unsigned long NumValues();
    // Name of the subkey at index (name order, ignoring case).
    bool GetEnumKey(unsigned long index, std::string* name);
    // Name and string data of the value at index (first-written order).
    bool GetEnumString(unsigned long index, std::string* name, std::string* value);
    // Name and number of the value at index; fails for data longer than 4 bytes.
    bool GetEnumDWORD(unsigned long index, std::string* name, uint32_t* value);

    // Deletes every subkey of this key, recursively; the key and its own
    // values stay. False when the key is not open, has no subkeys (nothing
    // was deleted), or the last subkey could not be enumerated. A subkey that
    // cannot be enumerated or deleted is reported in a message box "Error
    // with key #i; code e" (caption "RegistryKey::DeleteTree()"), and the
    // deletion goes on with the next.
    bool DeleteTree();

private:
    void Open(platform::reg::HKEY parent);
    bool ReadNumber(const std::string& name, uint32_t* value);
    // The name of the value at index and its data, into a buffer of *size bytes.
    bool EnumValue(unsigned long index, std::string* name, void* data, uint32_t* size);
};
