#pragma once
// Base64 decoding, as credentials arrive in it. Safe from any thread.

#include <string>

// Base64 alphabet values by character code; '=' is 0, anything else 65.
extern const signed char Base256Table[256];
// Base64 decoding in groups of four; a short last group is read as if padded
// with '='. Characters outside the alphabet are not rejected.
std::string DecodeBase64(const std::string& s);
