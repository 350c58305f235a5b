// visitor: the visitor counter script (see VisitorScript.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "visitor/StoreLocation.h"
#include "visitor/VisitorScript.h"

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string home = StoreLocation::FindHome(argc > 0 && argv[0] ? argv[0] : "");
    const std::string output = VisitorScript::Answer(Variable("REQUEST_METHOD"), Variable("QUERY_STRING"), home);
    const bool written = std::fwrite(output.data(), 1, output.size(), stdout) == output.size();
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}
