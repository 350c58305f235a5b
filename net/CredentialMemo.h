#pragma once
// Credentials verified on one connection, kept for its next requests so
// that a kept-alive client is not made to wait for its password to be
// hashed again each time. It belongs to that connection alone and goes
// with it: nothing verified on one connection is believed on another.

#include <string>

struct CredentialMemo {
    std::string given;   // the Authorization value the client sent
    std::string stored;  // the stored password (plain or hashed) it matched
};
