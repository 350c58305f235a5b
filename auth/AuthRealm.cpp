#include "auth/AuthRealm.h"

#include "platform/RegistryKey.h"

AuthRealm::AuthRealm() = default;

void AuthRealm::SetName(const std::string& name, const std::string& description) {
    Name = name;
    Description = description;
}

int AuthRealm::AddUser(const AuthUser& user) {
    Users.push_back(user);
    return static_cast<int>(Users.size());
}

int AuthRealm::AddGroup(const AuthGroup& group) {
    Groups.push_back(group);
    return static_cast<int>(Groups.size());
}

bool AuthRealm::Load(RegistryKey* key) {
    if (!key) return false;
    RegistryKey users(*key, "Users");
    RegistryKey groups(*key, "Groups");
    Users.clear();
    Groups.clear();
    key->GetString("Description", &Description);
    std::string name, data;
    for (unsigned long i = 0, count = users.NumValues(); i < count; ++i)
        if (users.GetEnumString(i, &name, &data)) AddUser(AuthUser(name, data));
    for (unsigned long i = 0, count = groups.NumKeys(); i < count; ++i) {
        if (!groups.GetEnumKey(i, &name)) continue;
        RegistryKey members(groups, name);
        AuthGroup group;
        group.SetName(name);
        std::string member;
        for (unsigned long j = 0, memberCount = members.NumValues(); j < memberCount; ++j)
            if (members.GetEnumString(j, &member, &data)) group.AddUsername(member);
        AddGroup(group);
    }
    return true;
}

bool AuthRealm::Save(RegistryKey* key) const {
    if (!key) return false;
    RegistryKey users(*key, "Users");
    RegistryKey groups(*key, "Groups");
    bool ok = users.Opened && groups.Opened;
    ok &= key->SaveString("Description", Description);
    for (const AuthUser& user : Users) ok &= users.SaveString(user.Name, user.Password);
    for (const AuthGroup& group : Groups) {
        RegistryKey members(groups, group.Name);
        ok &= members.Opened;
        for (const std::string& member : group.Members) ok &= members.SaveString(member, "");
    }
    return ok;
}
