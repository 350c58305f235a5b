#pragma once
// An authentication realm: a named collection of users and groups, carried
// by the configuration (RealmList) and stored below the setup's
// Authentication\Basic key. The users and groups of a realm are what the
// access-control lists naming it grant methods to (AccessGate).
//
// Layout of one realm key:
//   value Description   REG_SZ
//   subkey Users        one REG_SZ value per user: name = user, data = password
//   subkey Groups       one subkey per group, holding one value per member,
//                       named by the member (the data are empty and unread)

#include <string>
#include <vector>

#include "auth/AuthGroup.h"
#include "auth/AuthUser.h"

class RegistryKey;

class AuthRealm {
public:
    // A realm with empty name and description and no users or groups.
    AuthRealm();

    void SetName(const std::string& name, const std::string& description);
    // Append a copy; return the new number of users or groups.
    int AddUser(const AuthUser& user);
    int AddGroup(const AuthGroup& group);

    // Replaces the users and groups (and Description, when one is stored)
    // with those of the realm's key, creating its missing Users and Groups
    // subkeys. Entries that cannot be read are skipped. Users and groups come
    // back in the store's enumeration order. False only when key is null.
    bool Load(RegistryKey* key);
    // Writes the realm into its key, which the caller has just emptied. True
    // when every write succeeded.
    bool Save(RegistryKey* key) const;

    std::string Name;
    std::string Description;
    std::vector<AuthUser> Users;
    std::vector<AuthGroup> Groups;
};
