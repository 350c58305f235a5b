#pragma once
// The one reading of a "Name: value" line, shared by the header block of a
// request and the header lines a script writes before its output.

#include <string_view>

// The table index (HeaderString.h) of the header the line sets, and its
// value into *value. The name is the text before the first colon, exactly
// (a blank before the colon makes it a name no table entry has), compared
// without case; the value is the rest of the line after its leading white
// space (blank, tab, CR, LF, vertical tab, form feed), trailing characters
// kept. -1, with *value untouched, for a line without a colon or a name
// outside the table.
int ParseHeaderLine(std::string_view line, std::string_view* value);

// Where the value of a header line starts, the name ending at colon: after
// the white space that follows the colon (blank, tab, CR, LF, vertical tab,
// form feed), or only blanks and tabs for a framing header (a length or a
// coding), whose value must not begin with anything else.
inline size_t HeaderValueStart(std::string_view line, size_t colon, bool framing = false) {
    size_t start = colon + 1;
    while (start < line.size()) {
        const char c = line[start];
        if (c != ' ' && c != '\t' && (framing || (c != '\r' && c != '\n' && c != '\v' && c != '\f'))) break;
        ++start;
    }
    return start;
}
