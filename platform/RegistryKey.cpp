#include "platform/RegistryKey.h"

#include <cstdio>

#include "platform/MessageDisplay.h"

using namespace platform::reg;

namespace {

constexpr uint32_t kBufferSize = 1024;

std::string ReadName(const std::string& name) { return name.substr(0, kBufferSize - 1); }

// Little-endian number of up to four bytes.
uint32_t NumberOf(const uint8_t* bytes, uint32_t length) {
    uint32_t value = 0;
    for (uint32_t i = length; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

// String data end at their first zero byte (or with the data).
std::string_view TextOf(const char* data, uint32_t size) {
    const std::string_view text(data, size);
    return text.substr(0, text.find('\0'));
}

}  // namespace

RegistryKey::RegistryKey(HKEY parent, const std::string& name) : KeyName(name) { Open(parent); }

RegistryKey::RegistryKey(const RegistryKey& parent, const std::string& name) : KeyName(name) {
    if (parent.Opened) Open(parent.KeyHandle);
}

RegistryKey::~RegistryKey() {
    if (Opened) RegCloseKey(KeyHandle);
}

void RegistryKey::Open(HKEY parent) {
    HKEY handle = kNoKey;
    bool created = false;
    if (RegCreateKeyEx(parent, KeyName, &handle, &created) != ERROR_SUCCESS) return;
    KeyHandle = handle;
    Opened = true;
    Created = created;
}

bool RegistryKey::ReadNumber(const std::string& name, uint32_t* value) {
    if (!Opened) return false;
    uint8_t bytes[4];
    uint32_t size = sizeof bytes;
    if (RegQueryValueEx(KeyHandle, ReadName(name), nullptr, bytes, &size) != ERROR_SUCCESS) return false;
    *value = NumberOf(bytes, size);
    return true;
}

bool RegistryKey::GetDWORD(const std::string& name, uint32_t* value) {
    return value && ReadNumber(name, value);
}

bool RegistryKey::GetDWORD(const std::string& name, int* value) {
    uint32_t bits = 0;
    if (!value || !ReadNumber(name, &bits)) return false;
    *value = static_cast<int>(bits);
    return true;
}

bool RegistryKey::GetString(const std::string& name, std::string* value) {
    if (!value || !Opened) return false;
    char buffer[kBufferSize];
    uint32_t size = sizeof buffer;
    if (RegQueryValueEx(KeyHandle, ReadName(name), nullptr, buffer, &size) != ERROR_SUCCESS) return false;
    value->assign(TextOf(buffer, size));
    return true;
}

bool RegistryKey::SaveDWORD(const std::string& name, uint32_t value) {
    if (!Opened) return false;
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return RegSetValueEx(KeyHandle, name, REG_DWORD, bytes, sizeof bytes) == ERROR_SUCCESS;
}

bool RegistryKey::SaveString(const std::string& name, const std::string& value) {
    if (!Opened) return false;
    return RegSetValueEx(KeyHandle, name, REG_SZ, value.c_str(), static_cast<uint32_t>(value.size() + 1)) ==
           ERROR_SUCCESS;
}

unsigned long RegistryKey::NumKeys() {
    uint32_t count = 0;
    return Opened && RegQueryInfoKey(KeyHandle, &count, nullptr) == ERROR_SUCCESS ? count : 0;
}

unsigned long RegistryKey::NumValues() {
    uint32_t count = 0;
    return Opened && RegQueryInfoKey(KeyHandle, nullptr, &count) == ERROR_SUCCESS ? count : 0;
}

bool RegistryKey::GetEnumKey(unsigned long index, std::string* name) {
    if (!name || !Opened) return false;
    char buffer[kBufferSize];
    uint32_t size = sizeof buffer;
    if (RegEnumKeyEx(KeyHandle, static_cast<uint32_t>(index), buffer, &size) != ERROR_SUCCESS) return false;
    name->assign(buffer, size);
    return true;
}

bool RegistryKey::GetEnumString(unsigned long index, std::string* name, std::string* value) {
    char data[kBufferSize];
    uint32_t size = sizeof data;
    if (!value || !EnumValue(index, name, data, &size)) return false;
    value->assign(TextOf(data, size));
    return true;
}

bool RegistryKey::GetEnumDWORD(unsigned long index, std::string* name, uint32_t* value) {
    uint8_t data[4];
    uint32_t size = sizeof data;
    if (!value || !EnumValue(index, name, data, &size)) return false;
    *value = NumberOf(data, size);
    return true;
}

bool RegistryKey::EnumValue(unsigned long index, std::string* name, void* data, uint32_t* size) {
    if (!name || !Opened) return false;
    char nameBuffer[kBufferSize];
    uint32_t nameSize = sizeof nameBuffer;
    if (RegEnumValue(KeyHandle, static_cast<uint32_t>(index), nameBuffer, &nameSize, nullptr, data, size) != ERROR_SUCCESS)
        return false;
    name->assign(nameBuffer, nameSize);
    return true;
}

bool RegistryKey::DeleteTree() {
    if (!Opened) return false;
    const unsigned long count = NumKeys();
    if (count == 0) return false;
    bool lastEnumerated = false;
    // Always index 0: every pass removes the first subkey. Names are read
    // whole here, so a subkey of any name length can be deleted.
    for (unsigned long i = 0; i < count; ++i) {
        std::string name;
        LONG error = RegEnumKeyEx(KeyHandle, 0, &name);
        lastEnumerated = error == ERROR_SUCCESS;
        if (lastEnumerated) {
            {
                RegistryKey child(KeyHandle, name);
                child.DeleteTree();
            }
            error = RegDeleteKey(KeyHandle, name);
        }
        if (error != ERROR_SUCCESS) {
            char text[64];
            std::snprintf(text, sizeof text, "Error with key #%d; code %d", static_cast<int>(i), static_cast<int>(error));
            platform::ShowMessage("RegistryKey::DeleteTree()", text, platform::MB_OK);
        }
    }
    return lastEnumerated;
}
