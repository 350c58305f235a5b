#pragma once
// A group of an authentication realm: a name and the user names of its
// members, in the order they were added (duplicates allowed). A plain value,
// copied into and out of its realm.

#include <string>
#include <vector>

class AuthGroup {
public:
    // A group with an empty name and no members.
    AuthGroup();

    void SetName(const std::string& name);
    // Appends a member; returns the new number of members.
    int AddUsername(const std::string& userName);

    std::string Name;
    std::vector<std::string> Members;
};
