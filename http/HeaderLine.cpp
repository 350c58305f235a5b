#include "http/HeaderLine.h"

#include "http/HeaderString.h"

int ParseHeaderLine(std::string_view line, std::string_view* value) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return -1;
    const int index = HeaderIndex(line.substr(0, colon));
    if (index < 0) return -1;
    const size_t start = line.find_first_not_of(" \t\r\n\v\f", colon + 1);
    *value = start == std::string_view::npos ? std::string_view() : line.substr(start);
    return index;
}
