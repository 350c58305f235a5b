#pragma once
// How the counter finds the registry store of the server that runs it. A
// script gets nothing but the CGI variables, so the home is read from where
// the program lies: the server keeps its drives in the home
// (C:\HTTPD\CGI-BIN is <home>/drive_c/HTTPD/CGI-BIN), so the nearest folder
// above the program named "drive_" and one letter is a drive, and the home
// is the folder that holds it. The store is <home>/registry.db.

#include <string>
#include <string_view>

class StoreLocation {
public:
    // The home that holds the program at programPath (an absolute host
    // path, as the server starts a script), or empty when no folder above it
    // is a drive. "." and ".." steps are resolved first.
    static std::string HomeOf(std::string_view programPath);

    // The home for this process: from startedAs (argv[0]) when it is an
    // absolute path inside a drive; else from the program's own file (links
    // followed); else from VAREVAVO_HOME when it is set (a run by hand).
    // Empty when none of them gives a home.
    static std::string FindHome(const std::string& startedAs);
};
