#pragma once
// Passwords at rest: a stored password is either plain text (as setups of
// earlier versions hold it) or a crypt(3) hash ("$y$" yescrypt, "$6$"
// SHA-512, "$2b$" bcrypt, and the other methods the system library knows).
// Both kinds are checked here, in time that does not depend on where a
// guess first differs, so the rest of the server never needs to know which
// kind a setup holds.

#include <string>
#include <string_view>

namespace platform {

// True when stored has the shape of a crypt(3) hash ("$id$..." with a known
// method); a plain password that happens to start that way is taken as a
// hash, which is why new passwords are stored hashed.
bool IsPasswordHash(std::string_view stored);

// A fresh yescrypt hash of password with a random salt, for storing; empty
// when the system cannot make one (no randomness, no memory).
std::string HashPassword(std::string_view password);

// True when given is the password that stored holds: hashed again with the
// stored hash as its setting and compared in constant time, or compared in
// constant time with a plain stored password. An empty stored value never
// matches a hash method; as plain text it matches only an empty guess.
bool PasswordMatches(std::string_view stored, std::string_view given);

}  // namespace platform
