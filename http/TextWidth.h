#pragma once
// How wide UTF-8 text shows in a monospaced font, for the columns of the
// plain listing. East Asian wide and fullwidth characters (CJK ideographs,
// kana, Hangul, fullwidth forms, most emoji) take two columns, every other
// character one. A byte that does not begin a whole UTF-8 sequence counts
// as one character of one column, as a browser shows it as one replacement
// character. Safe from any thread.

#include <cstddef>
#include <string_view>

// Columns of the character with code point c: 2 or 1.
int CharacterColumns(char32_t c);

// Columns of the whole text.
size_t DisplayWidth(std::string_view text);

// The longest start of text that takes at most columns, cut between
// characters, never inside one; its columns go to *width.
std::string_view FitColumns(std::string_view text, size_t columns, size_t* width);
