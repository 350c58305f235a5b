#pragma once
// A user of an authentication realm: a name and its password, kept and
// stored as plain text. A plain value, copied into and out of its realm.

#include <string>
#include <utility>

class AuthUser {
public:
    AuthUser(std::string name, std::string password) : Name(std::move(name)), Password(std::move(password)) {}

    std::string Name;
    std::string Password;
};
