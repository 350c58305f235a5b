#pragma once
// A user of an authentication realm: a name and its password, stored as
// plain text or as a crypt(3) hash (platform/PasswordHash.h checks both). A
// plain value, copied into and out of its realm.

#include <string>
#include <utility>

class AuthUser {
public:
    AuthUser(std::string name, std::string password) : Name(std::move(name)), Password(std::move(password)) {}

    std::string Name;
    std::string Password;
};
