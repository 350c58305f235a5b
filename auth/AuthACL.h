#pragma once
// An access-control list: a URL path, the realm whose users and groups it
// names, two stored options and its entries. Carried by the configuration
// (AccessControlList) and stored below the setup's Access\Basic key.
// The request pipeline tests requests against them (AccessGate).
//
// Layout of one list key (named by Path):
//   value Realm              REG_SZ
//   value DisableAutoIndex   REG_DWORD
//   value User_Or_Class      REG_DWORD
//   subkey Users             one REG_DWORD per user entry: name = user, data = Mask
//   subkey Groups            one REG_DWORD per group entry: name = group, data = Mask
//   subkeys Allow, Deny      made empty by loading; nothing is stored in them

#include <string>
#include <vector>

#include "auth/AuthAccess.h"

class RegistryKey;

class AuthACL {
public:
    // Empty texts, both options 0, no entries.
    AuthACL();

    void SetPath(const std::string& path);
    // Empties Access; the other fields stay.
    void FlushLists();
    // Appends a copy; returns the new number of entries.
    int AddAccess(const AuthAccess& entry);

    // Replaces the entries with those of the list's key (all user entries,
    // then all group entries, each in the store's enumeration order) and
    // reads Realm, DisableAutoIndex and User_Or_Class over the fields (a
    // missing value leaves its field as it was). Missing subkeys are created.
    // Entries that cannot be read are skipped. False only when key is null.
    bool Load(RegistryKey* key);
    // Writes the list into its key, which the caller has just emptied. True
    // when every write succeeded.
    bool Save(RegistryKey* key) const;

    std::string Path;
    std::string Realm;
    int User_Or_Class = 0;     // stored option; nothing acts on it
    int DisableAutoIndex = 0;  // nonzero: no generated listing below Path
    std::vector<AuthAccess> Access;
};
