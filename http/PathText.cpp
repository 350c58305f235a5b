#include "http/PathText.h"

#include "http/FileTests.h"

std::string SlashesForward(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string SlashesBack(std::string s) {
    // Every request's path comes through here, with few slashes in it: the
    // library's search finds them faster than a look at each byte.
    for (size_t at = s.find('/'); at != std::string::npos; at = s.find('/', at + 1)) s[at] = '\\';
    return s;
}

void FindPathInfo(std::string* path, std::string* script, std::string* pathInfo) {
    *path = SlashesBack(*path);
    if (IsFile(*path)) return;
    size_t a = path->rfind('\\');
    size_t b = script->rfind('/');
    for (;;) {
        if (a == std::string::npos || b == std::string::npos || a == 0 || b == 0) return;
        if (IsFile(path->substr(0, a))) break;
        a = path->rfind('\\', a - 1);
        b = script->rfind('/', b - 1);
    }
    path->resize(a);
    *pathInfo = script->substr(b);
    script->resize(b);
}
