#pragma once
// Letter case. The server compares paths, header values, content types,
// SSI words and user names without regard to ASCII letter case, from the
// first request on. Method words and passwords are the exceptions and
// compare exactly. Safe from any thread.

#include <string>
#include <string_view>

bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
bool ContainsNoCase(std::string_view text, std::string_view part);
std::string ToLower(std::string_view text);
// True when the comma-separated list (a Connection header) holds token,
// its blanks aside, compared without case.
bool HasListToken(std::string_view list, std::string_view token);
// Exact equality of a secret and a guess, in a time that depends on their
// lengths only, never on where the first difference lies.
bool EqualSecret(std::string_view secret, std::string_view guess);
