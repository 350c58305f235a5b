#include "http/HeaderLine.h"

#include "http/HeaderString.h"

int ParseHeaderLine(std::string_view line, std::string_view* value) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return -1;
    const int index = HeaderIndex(line.substr(0, colon));
    if (index < 0) return -1;
    *value = line.substr(HeaderValueStart(line, colon));
    return index;
}
