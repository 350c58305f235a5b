#include "http/PathText.h"

#include "http/FileTests.h"

std::string SlashesForward(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string SlashesBack(std::string s) {
    for (char& c : s)
        if (c == '/') c = '\\';
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
