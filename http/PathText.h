#pragma once
// The text of paths: slashes, and a script's trailing path information.
// Paths are server paths (drive letters and backslashes; see
// platform/Paths.h). Safe from any thread.

#include <string>

std::string SlashesForward(std::string s);
std::string SlashesBack(std::string s);
// Splits a script request into the script file and its trailing path
// information. On entry *path is the file-system path a script URL maps to
// and *script the URL path; both may carry extra segments after the script.
// When a leading part of *path names a file, *path and *script are cut to it
// and the rest of the URL, from its slash on, goes to *pathInfo. *path is
// always turned to backslashes.
void FindPathInfo(std::string* path, std::string* script, std::string* pathInfo);
