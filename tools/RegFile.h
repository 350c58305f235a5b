#pragma once
// The REGEDIT4 text format of registry files, read and written by
// varevavo-reg:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Raziduzovo\Varevavo\Primary\Network]
//   "Port"=dword:00000050
//   "Name"="text with \\ and \" escaped"
//   @="the unnamed value"
//   "Raw"=hex(3):0a,0b
//   "Gone"=-
//
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]
//
// A [KEY] section creates the key; [-KEY] deletes it with everything below.
// Values whose bytes are not a plain text or a 4-byte number are written as
// hex(type), so a file carries every value exactly. Blank lines and lines
// starting with ';' are ignored; a hex value may continue on the next line
// after a trailing backslash.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One change a file asks for, in file order.
struct RegFileEntry {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = CreateKey;
    std::string key;  // path below HKEY_LOCAL_MACHINE
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    int line = 0;
};

class RegFile {
public:
    // Reads a whole file's text. False at the first problem, with *error
    // naming it and its line ("line 7: ...").
    static bool Parse(std::string_view text, std::vector<RegFileEntry>* entries, std::string* error);

    // The first line of every file, with its blank line.
    static constexpr std::string_view kHeader = "REGEDIT4\n\n";
    // "[KEY]\n" for a full key name.
    static std::string SectionLine(std::string_view fullKeyName);
    // The line of one value, its line end included.
    static std::string ValueLine(std::string_view name, uint32_t type, const std::vector<uint8_t>& data);
};

// Reads a key name written from the root: "HKLM\A\B" or
// "HKEY_LOCAL_MACHINE\A\B" (any letter case, trailing backslashes allowed;
// the root alone is allowed too). *path receives the part below the root
// ("A\B"). False for another root or an empty level ("A\\B").
bool ParseKeyName(std::string_view text, std::string* path);
