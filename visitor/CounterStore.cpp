#include "visitor/CounterStore.h"

#include <vector>

using namespace platform::reg;

namespace {

// Little-endian number of the first (up to) four bytes.
uint32_t CountOf(const std::vector<uint8_t>& data) {
    uint32_t value = 0;
    for (size_t i = data.size() < 4 ? data.size() : 4; i > 0; --i) value = (value << 8) | data[i - 1];
    return value;
}

// The counter's number, 0 when the value does not exist.
LONG Read(HKEY visitor, const std::string& name, uint32_t* count) {
    std::vector<uint8_t> data;
    const LONG result = RegQueryValueEx(visitor, name, nullptr, &data);
    if (result == ERROR_FILE_NOT_FOUND) {
        *count = 0;
        return ERROR_SUCCESS;
    }
    if (result == ERROR_SUCCESS) *count = CountOf(data);
    return result;
}

}  // namespace

LONG CounterStore::Hit(const std::string& name, uint32_t* count) {
    Transaction transaction(Transaction::Write);
    ScopedKey software;
    ScopedKey visitor;
    LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", software.Receive());
    if (result == ERROR_SUCCESS) result = RegCreateKeyEx(software.get(), "Visitor", visitor.Receive(), nullptr);
    uint32_t value = 0;
    if (result == ERROR_SUCCESS) result = Read(visitor.get(), name, &value);
    ++value;
    const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    if (result == ERROR_SUCCESS) result = RegSetValueEx(visitor.get(), name, REG_DWORD, data, sizeof data);
    // Without Commit the transaction rolls back: a failed hit changes nothing.
    if (result != ERROR_SUCCESS) return result;
    result = transaction.Commit();
    if (result == ERROR_SUCCESS) *count = value;
    return result;
}

LONG CounterStore::Peek(const std::string& name, uint32_t* count) {
    Transaction transaction(Transaction::Read);
    ScopedKey visitor;
    LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Visitor", visitor.Receive());
    if (result == ERROR_FILE_NOT_FOUND) {
        *count = 0;
        return transaction.Commit();
    }
    uint32_t value = 0;
    if (result == ERROR_SUCCESS) result = Read(visitor.get(), name, &value);
    if (result == ERROR_SUCCESS) result = transaction.Commit();
    if (result == ERROR_SUCCESS) *count = value;
    return result;
}
