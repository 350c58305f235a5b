// A second process for the registry store tests, writing while the test
// process (or another writer) uses the same store:
//   store_writer add KEY PREFIX COUNT      COUNT values PREFIX0.. each on its own
//   store_writer increment KEY NAME COUNT  COUNT read-increment-write transactions
//   store_writer set KEY NAME NUMBER       one REG_DWORD
// KEY is a path below HKEY_LOCAL_MACHINE. Exit status 0 when every write
// succeeded; a failure is printed with its error code.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/RegistryStore.h"

using namespace platform::reg;

namespace {

int Failed(const char* what, LONG code) {
    std::fprintf(stderr, "store_writer: %s failed with %ld (%s)\n", what, code, ErrorText(code));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string command = argv[1];
    ScopedKey key;
    if (const LONG result = RegCreateKeyEx(HKEY_LOCAL_MACHINE, argv[2], key.Receive(), nullptr)) return Failed("open", result);
    const unsigned long count = std::strtoul(argv[4], nullptr, 10);
    if (command == "set") {
        const uint32_t value = static_cast<uint32_t>(count);
        if (const LONG result = RegSetValueEx(key.get(), argv[3], REG_DWORD, &value, 4)) return Failed("set", result);
        return 0;
    }
    for (unsigned long i = 0; i < count; ++i) {
        if (command == "add") {
            const std::string name = argv[3] + std::to_string(i);
            const uint32_t value = static_cast<uint32_t>(i);
            if (const LONG result = RegSetValueEx(key.get(), name, REG_DWORD, &value, 4)) return Failed("add", result);
        } else if (command == "increment") {
            Transaction transaction(Transaction::Write);
            uint32_t value = 0, size = 4;
            const LONG read = RegQueryValueEx(key.get(), argv[3], nullptr, &value, &size);
            if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return Failed("read", read);
            ++value;
            if (const LONG result = RegSetValueEx(key.get(), argv[3], REG_DWORD, &value, 4)) return Failed("write", result);
            if (const LONG result = transaction.Commit()) return Failed("commit", result);
        } else {
            return 2;
        }
    }
    return 0;
}
