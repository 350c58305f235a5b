#pragma once
// One entry of the configuration's mapping lists: two texts and an integer.
// In Alias, Redir, CgiBin, CgiDos and CgiWin the first text is a virtual
// path as seen in URLs and the second its target (a directory, or for Redir
// a URL); in Types the first is a MIME type and the second a file-name
// extension with its dot. The attribute is 0 unless a caller sets it; no
// lookup reads it.
//
// Lists are searched first match first with the predicates below. Every
// comparison ignores ASCII letter case, always, so that the answer to one
// request never depends on the requests before it.

#include <string>
#include <string_view>
#include <vector>

class SystemMIMETable;

class Mapping {
public:
    std::string first;
    std::string second;
    int attribute = 0;

    Mapping();
    Mapping(std::string first, std::string second, int attribute = 0);

    // Equal when the first texts are equal (ignoring case); the second text
    // and the attribute do not count.
    bool operator==(const Mapping& other) const;
};

// Non-zero when url is the entry's virtual path or lies below it (the path
// followed by a slash): /cgi matches /cgi and /cgi/x, not /cgi-bin/x.
int HasVirtual(const Mapping& entry, std::string_view url);

// Non-zero when name ends with the entry's extension and is longer than it
// (a name that is the extension alone does not match).
int MatchExtension(const Mapping& entry, std::string_view name);

// The MIME type of the first entry of types whose extension ends name;
// failing that, the type the system table gives name's extension (when
// system is not null); "text/html" when neither knows it.
std::string MIMELookup(std::string_view name, const std::vector<Mapping>* types,
                       const SystemMIMETable* system = nullptr);

// type with "; charset=" and charset added when it is text/plain (without
// regard to case, with or without parameters) and names no charset of its
// own; any other type, an empty charset, or one that is not an HTTP token
// (which could break the header) leaves type as it is.
std::string TypeWithCharset(std::string type, std::string_view charset);

// The first entry of list for which match(entry, value) is non-zero, or null.
const Mapping* FindFirst(const std::vector<Mapping>& list, int (*match)(const Mapping&, std::string_view),
                         std::string_view value);
