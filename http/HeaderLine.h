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
