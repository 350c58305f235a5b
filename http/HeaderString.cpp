#include "http/HeaderString.h"

#include "http/Utilities.h"

const char* const HeaderString[Hdr::Count] = {
#define VAREVAVO_HEADER_NAME(id, text) text,
    VAREVAVO_HEADER_TABLE(VAREVAVO_HEADER_NAME)
#undef VAREVAVO_HEADER_NAME
};

int HeaderIndex(std::string_view name) {
    for (int i = 0; i < Hdr::Count; ++i)
        if (EqualNoCase(name, HeaderString[i])) return i;
    return -1;
}
