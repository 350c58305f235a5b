#include "auth/AuthACL.h"

#include "platform/RegistryKey.h"

namespace {

constexpr int kUserEntry = 0;
constexpr int kGroupEntry = 1;

}  // namespace

AuthACL::AuthACL() = default;

void AuthACL::SetPath(const std::string& path) { Path = path; }

void AuthACL::FlushLists() { Access.clear(); }

int AuthACL::AddAccess(const AuthAccess& entry) {
    Access.push_back(entry);
    return static_cast<int>(Access.size());
}

bool AuthACL::Load(RegistryKey* key) {
    if (!key) return false;
    FlushLists();
    key->GetString("Realm", &Realm);
    key->GetDWORD("DisableAutoIndex", &DisableAutoIndex);
    key->GetDWORD("User_Or_Class", &User_Or_Class);
    std::string name;
    uint32_t mask = 0;
    for (const auto& [subkey, type] : {std::pair{"Users", kUserEntry}, std::pair{"Groups", kGroupEntry}}) {
        RegistryKey entries(*key, subkey);
        for (unsigned long i = 0, count = entries.NumValues(); i < count; ++i)
            if (entries.GetEnumDWORD(i, &name, &mask)) AddAccess(AuthAccess(name, type, mask));
    }
    RegistryKey allow(*key, "Allow");
    RegistryKey deny(*key, "Deny");
    return true;
}

bool AuthACL::Save(RegistryKey* key) const {
    if (!key) return false;
    bool ok = key->SaveString("Realm", Realm);
    ok &= key->SaveDWORD("DisableAutoIndex", static_cast<uint32_t>(DisableAutoIndex));
    ok &= key->SaveDWORD("User_Or_Class", static_cast<uint32_t>(User_Or_Class));
    RegistryKey users(*key, "Users");
    RegistryKey groups(*key, "Groups");
    ok &= users.Opened && groups.Opened;
    for (const AuthAccess& entry : Access) {
        // Entry types other than user and group have no place to go.
        RegistryKey* target = entry.EntryType == kUserEntry ? &users : entry.EntryType == kGroupEntry ? &groups : nullptr;
        if (target) ok &= target->SaveDWORD(entry.Name, entry.Mask);
    }
    return ok;
}
