#pragma once
// One entry of an access-control list: a method mask granted to one user
// or one group of the list's realm. A plain value.

#include <cstdint>
#include <string>
#include <utility>

class AuthAccess {
public:
    AuthAccess(std::string name, int entryType, uint32_t mask)
        : Mask(mask), EntryType(entryType), Name(std::move(name)) {}

    uint32_t Mask;   // bit n stands for the method with code n (1 OPTIONS .. 7 TRACE)
    int EntryType;   // 0: Name is a user; 1: Name is a group
    std::string Name;
};
