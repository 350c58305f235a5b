#pragma once
// The visitor counter as a CGI program: GET /cgi-bin/visitor?NAME adds one
// to the counter NAME and answers a picture of the new number, marked so
// that no cache keeps it (each view counts). HEAD shows the number without
// counting.
//
// NAME is the query with its %-escapes decoded (a plus sign stays a plus
// sign: zazezere takes one as part of a name). A name zazezere would refuse
// (empty, longer than 255 characters, holding a blank or another white-space
// character, or a NUL byte), a home without a registry store, or a store
// that fails, changes nothing and answers a complete response of the
// script's own (the server sends it as it stands, and would drop a Status
// header) with an error status and the "Err" picture.

#include <string>

class VisitorScript {
public:
    // The reference name a query names; false when zazezere would refuse it.
    static bool NameOf(const std::string& query, std::string* name);

    // The whole output of the program for a request of method (as in
    // REQUEST_METHOD) with query (QUERY_STRING), the counters living in the
    // store of home (empty: not found).
    static std::string Answer(const std::string& method, const std::string& query, const std::string& home);
};
