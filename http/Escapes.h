#pragma once
// Escapes and encodings of URLs, form text and HTML, and the token cutter
// of request text. Safe from any thread.

#include <string>
#include <string_view>

// The character given by two hexadecimal digits (not validated).
char x2c(const char* two);
// Decodes %-escapes in place. A percent sign followed by fewer than two
// characters is copied as it stands. Plus signs are left alone; a decoded
// NUL byte stays in the text.
void unescape_url(std::string& url);
// unescape_url of at most the first 8191 characters of s.
std::string DecodeEscape(const std::string& s);
// Escapes the five characters % blank ? + & as %25 %20 %3f %2b %26.
std::string EncodeEscape(const std::string& s);
// A path made safe to put in a link or a Location: every byte other than
// letters, digits, - . _ ~ / and the sub-delimiters ! $ ' ( ) * , ; = becomes
// %XX (upper-case hex), so that #, ?, %, blanks, & and +, colons and
// non-ASCII bytes all reach the server as they are named.
std::string EncodePath(std::string_view path);
std::string PlusToSpace(std::string s);
// Removes and returns the text of *s before its first delimiter (the
// delimiter is removed too); with no delimiter, all of *s, leaving it empty.
std::string StringToken(std::string* s, std::string_view delimiters);
// Escapes & < > " for HTML text.
std::string HTMLEscape(std::string_view text);
