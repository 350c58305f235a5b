#pragma once
// Reading a secret (a new password) from standard input: typed at a
// terminal without echo, or taken line by line from a pipe or a file so
// that scripts and tests can give it.

#include <string>

namespace platform {

// True when standard input is a terminal.
bool InputIsTerminal();

// Reads one line of standard input into *line, without its line end (a
// carriage return before it goes too). At a terminal the prompt is written
// on standard error first, echo is off while the line is typed and the
// terminal is restored afterwards, even when an interrupt ends the program
// meanwhile. False at the end of input before any character, or when the
// input cannot be read.
bool ReadSecretLine(const std::string& prompt, std::string* line);

}  // namespace platform
