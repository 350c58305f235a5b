#include "zazezere/VisitorConsole.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "platform/RegistryStore.h"

using namespace platform::reg;

namespace {

// The reference name was read into a 256-byte buffer.
constexpr size_t kMaxName = 255;

// Reads a count typed as a signed 32-bit decimal number, the long of the
// platform the program was designed on. False when the input ended first.
// A number that cannot be read gives what the stream sets (0, or the
// nearest limit when out of range); the rest of its line is then skipped so
// that the dialogue goes on.
bool ReadCount(std::istream& in, int32_t* count) {
    int32_t number = 0;
    in >> number;
    if (in.fail() && in.eof()) return false;
    if (in.fail()) {
        in.clear();
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    *count = number;
    return true;
}

// Little-endian number of the first (up to) four bytes.
uint32_t ShownCount(const uint8_t* data, uint32_t size) {
    uint32_t value = 0;
    for (uint32_t i = size < 4 ? size : 4; i > 0; --i) value = (value << 8) | data[i - 1];
    return value;
}

// Writes a counter through a handle of its own, opened and closed around the write.
void WriteCount(HKEY software, const std::string& name, int32_t count, std::ostream& err) {
    const uint32_t bits = static_cast<uint32_t>(count);
    const uint8_t data[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                             static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    ScopedKey writer;
    LONG result = RegOpenKeyEx(software, "Visitor", writer.Receive());
    if (result == ERROR_SUCCESS) result = RegSetValueEx(writer.get(), name, REG_DWORD, data, sizeof data);
    if (result != ERROR_SUCCESS) err << "Could not store " << name << ": " << ErrorText(result) << "\n";
}

void PrintTag(std::ostream& out, const char* script, const std::string& name) {
    out << "\nNow reference this in your page like this:\n\n"
        << "<IMG SRC=\"" << script << name << "\">\n"
        << "\n";
}

}  // namespace

int VisitorConsole::Run(std::istream& in, std::ostream& out, std::ostream& err) {
    ScopedKey visitor;
    ScopedKey software;
    // The keys close in this order at every end of the dialogue.
    const auto finish = [&](int status) {
        software.Reset();
        visitor.Reset();
        out.flush();
        return status;
    };

    LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", software.Receive());
    bool created = false;
    if (result == ERROR_SUCCESS) result = RegCreateKeyEx(software.get(), "Visitor", visitor.Receive(), &created);
    if (result != ERROR_SUCCESS) {
        err << "zazezere: cannot open HKEY_LOCAL_MACHINE\\Software\\Visitor: " << ErrorText(result) << "\n";
        return finish(1);
    }
    if (created) out << "Visitor not found in the registry!  Adding it now..." << "\n";

    for (;;) {
        out << "\n\n\n\n\nWelcome to the Visitor Administration Program! (Control-Break to quit)\n"
            << "\n"
            << "Enter a reference name (No Spaces): ";
        std::string name;
        int32_t count = 0;
        if (!(in >> name)) {
            out << "\n";
            return finish(0);
        }
        if (name.size() > kMaxName) {
            out << "\nA reference name may be at most " << kMaxName << " characters long; that one has "
                << name.size() << ".\n";
            continue;
        }
        uint32_t size = 0;
        if (RegQueryValueEx(visitor.get(), name, nullptr, nullptr, &size) != ERROR_SUCCESS) {
            out << name << " is a new key.  Please enter it's initial value: ";
            if (!ReadCount(in, &count)) {
                out << "\n";
                return finish(0);
            }
            WriteCount(software.get(), name, count, err);
            PrintTag(out, "/cgi-bin/visitor?", name);
            continue;
        }
        std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size ? size : 1]);
        if (!data) {
            out << "Not enough memory!\n";
            return finish(1);
        }
        if (RegQueryValueEx(visitor.get(), name, nullptr, data.get(), &size) != ERROR_SUCCESS) {
            out << "Error reading key!" << "\n";
            return finish(1);
        }
        out << name << " exists with a value of (" << ShownCount(data.get(), size) << ")\n";
        out << "Enter the value you want it to be: ";
        if (!ReadCount(in, &count)) {
            out << "\n";
            return finish(0);
        }
        WriteCount(software.get(), name, count, err);
        PrintTag(out, "/cgi-bin/visitor.exe?", name);
    }
}
