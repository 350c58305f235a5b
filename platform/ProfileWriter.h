#pragma once
// The private-profile writer: builds one profile file (an initialisation
// file of [Section] headers and Key=Value lines) in memory and writes it
// whole on Flush. The Windows CGI engine describes each request to its
// program this way.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

// One writer per profile file, used by one thread. The profile starts empty:
// Flush replaces whatever the file held before.
class ProfileWriter {
public:
    // path: the profile file, a server path (Paths.h).
    explicit ProfileWriter(std::string path);

    // Sets Key=Value in [Section], in memory. Sections keep the order of
    // their first write and keys the order of theirs; writing a key that
    // exists replaces its value in place. Section and key names lose the
    // blanks (spaces, tabs) at their ends and compare without ASCII letter
    // case, the first spelling written staying in the file, because INI
    // readers do the same and some of them (Python's configparser) refuse a
    // file that holds a key twice. Values are written exactly.
    //
    // Returns false, and changes nothing, for text that a reader would take
    // for more than one key, since values come from the request and must
    // never add sections or keys to the profile:
    //   - any text holding a line break (CR or LF) or a NUL byte;
    //   - an empty section or key name;
    //   - a section name holding "]" (a reader ends the header there);
    //   - a key starting with "[" (read as a section header) or ";" (read as
    //     a comment).
    // A key may hold "=": the Windows CGI profile names media ranges such as
    // "image/gif;q=0.5" as keys. A reader splits such a line at its first
    // "=", but it stays one line of the section it was written in.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    // Writes the whole profile to the file: each section as its [Name] line
    // and its Key=Value lines, sections parted by an empty line. Lines end
    // with LF alone, which every INI reader on this host takes (configparser,
    // shell and Perl readers, which would keep a CR in the value). The cache
    // stays, so later writes and another Flush rewrite the file. False when
    // the file cannot be written.
    bool Flush();

    const std::string& Path() const { return path_; }

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> keyIndex;  // lower-case key → entries index
    };

    std::string path_;
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> sectionIndex_;  // lower-case name → sections_ index
};

}  // namespace platform
