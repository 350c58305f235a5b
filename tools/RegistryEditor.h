#pragma once
// varevavo-reg, the registry editor for administrators of a headless server:
//
//   varevavo-reg query  KEY [/v NAME | /ve] [/s]
//   varevavo-reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
//   varevavo-reg delete KEY [/v NAME | /ve] /f
//   varevavo-reg export KEY FILE [/y]
//   varevavo-reg import FILE
//
// KEY is written from the root: HKLM\SOFTWARE\... or HKEY_LOCAL_MACHINE\...
// Options may start with / or -, in any letter case.
//
// query prints the key's full name, then one line per value ("    Port
// REG_DWORD    0x50": name, type and data separated by four spaces), then
// after a blank line the names of its subkeys; with /s each key below follows
// with its values instead, each after a blank line. With /v only that value
// is shown (with /s, in every key below that holds it).
// add creates the key (and missing keys on the way) and, with /v or /ve,
// writes the value: REG_SZ text (the default, empty without /d) or a
// REG_DWORD given in decimal or 0x-hexadecimal. An existing value is replaced
// only with /f.
// delete removes a value, or a key with everything below it; it asks for no
// confirmation and so needs /f.
// export writes the key and every key below it to FILE as REGEDIT4 text
// (see RegFile.h), values in their order; import applies such a file as one
// transaction. export then import into another home reproduces the keys
// exactly.
//
// A bad command line, a missing key, a malformed file: one line
// "ERROR: ..." on the error stream (the line number included for a file),
// exit status 1, and nothing changed.

#include <ostream>
#include <string>
#include <vector>

class RegistryEditor {
public:
    // Output goes to out, error messages to err.
    RegistryEditor(std::ostream& out, std::ostream& err);

    // Runs one command (the arguments after the program name); returns the
    // exit status, 0 or 1.
    int Run(const std::vector<std::string>& arguments);

private:
    struct Options;

    int Query(const Options& options);
    int Add(const Options& options);
    int Delete(const Options& options);
    int Export(const Options& options);
    int Import(const Options& options);
    // Prints "ERROR: problem" and returns 1.
    int Fail(const std::string& problem);
    // The same, followed by the usage of the command.
    int SyntaxError(const std::string& problem, const std::string& command);

    std::ostream& out_;
    std::ostream& err_;
};
