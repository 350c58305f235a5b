// varevavo-acme-hook: the challenge hook the ACME helper (uacme) calls
// while the server obtains a certificate. Arguments: METHOD TYPE IDENT
// TOKEN AUTH. "begin" of an http-01 challenge makes it pending for the
// plain port to answer; "done" and "failed" end it. Every other type is
// declined (status 1), so the helper picks HTTP-01. The home is the
// server's, inherited through the environment.
#include <cstdio>
#include <string>

#include "config/ACMEChallenge.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: varevavo-acme-hook METHOD TYPE IDENT TOKEN AUTH\n");
        return 85;
    }
    const std::string method = argv[1], type = argv[2];
    if (type != "http-01") return 1;
    if (method == "begin") return ACMEChallenge::Begin(argv[4], argv[5]) ? 0 : 1;
    if (method == "done" || method == "failed") return ACMEChallenge::End(argv[4]) ? 0 : 1;
    return 1;
}
