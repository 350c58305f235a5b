#pragma once
// The vocabulary of the registry shared by its operations (RegistryStore.h)
// and the database behind them (RegistryDatabase.h): handles, value types
// and results, with the values of the desktop platform's registry calls.

#include <cstdint>

namespace platform::reg {

using LONG = long;

// An open key. Handles are numbers owned by this process; close each with
// RegCloseKey (callers hold them in RAII owners).
enum class HKEY : uint32_t {};
inline constexpr HKEY kNoKey = HKEY{0};
inline constexpr HKEY HKEY_LOCAL_MACHINE = HKEY{0x80000002u};

// Value types.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;         // text and its terminating zero byte
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;      // 4 bytes, little-endian
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// Results.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;     // no such key or value
inline constexpr LONG ERROR_ACCESS_DENIED = 5;      // a fixed key, or a key that still has subkeys
inline constexpr LONG ERROR_INVALID_HANDLE = 6;     // not an open handle (or one of an earlier home)
inline constexpr LONG ERROR_INVALID_PARAMETER = 87; // a name with a NUL byte or an empty path step
inline constexpr LONG ERROR_BUSY = 170;             // other processes kept the store locked too long
inline constexpr LONG ERROR_MORE_DATA = 234;        // the caller's buffer is too small
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;    // enumeration index past the end
inline constexpr LONG ERROR_CANTOPEN = 1011;        // the store file cannot be opened or created
inline constexpr LONG ERROR_REGISTRY_CORRUPT = 1015; // the store file is not a registry
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016; // any other failure of the store
inline constexpr LONG ERROR_KEY_DELETED = 1018;     // the key of this handle was deleted
inline constexpr LONG ERROR_CANCELLED = 1223;       // an inner Transaction ended without Commit

}  // namespace platform::reg
