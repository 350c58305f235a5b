#pragma once
// Where the server's paths meet the host's file system.
//
// Inside the server paths keep their drive letters and backslashes
// (C:\HTTPD\HTDOCS\index.html); they are converted only here, at the moment
// they reach the file system:
//   - every backslash becomes a slash;
//   - a leading drive "X:" becomes $VAREVAVO_HOME/drive_x (letter lower-cased);
//   - a path without a drive is a host path as it stands.

#include <string>
#include <string_view>

namespace platform {

// The machine's state folder: $VAREVAVO_HOME, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/varevavo. Read at every call, so a test
// that changes the variable sees its own home.
std::string VarevavoHome();
// Makes home the state folder of this process and of the programs it starts
// (sets VAREVAVO_HOME). For a program that learns its home another way.
void SetVarevavoHome(const std::string& home);

// The host form of a server path (rules above). A path holding a NUL byte has
// no host form: the result is empty, and every file operation of this layer
// refuses such a path.
std::string HostPath(std::string_view serverPath);

// True when the text holds a NUL byte.
bool HasNul(std::string_view text);

// Creates a directory and its missing parents (host path), each new one
// with mode (less the umask). True when it exists afterwards.
bool MakeDirectories(const std::string& hostPath, unsigned mode = 0755);

}  // namespace platform
