#pragma once
// Changes to a setup's realms that the password tool and the property
// sheet make alike: finding a realm or a user as the store does (names of
// registry keys and values match without regard to letter case, so two
// names that differ only in case would collapse into one on saving), telling
// which names the store and Basic credentials can carry, and setting a
// user's password, always stored as a fresh hash.

#include <string>
#include <vector>

#include "auth/AuthRealm.h"

class RealmEditor {
public:
    // Edits realms, which must outlive the editor.
    explicit RealmEditor(std::vector<AuthRealm>* realms) : realms_(realms) {}

    // The first realm of that name, or null.
    AuthRealm* FindRealm(const std::string& name) const;
    // The first user of that name in realm, or null.
    static AuthUser* FindUser(AuthRealm& realm, const std::string& name);

    // Why name cannot name a realm (empty, or a backslash, which would make
    // it a path of keys), or null when it can.
    static const char* RealmNameProblem(const std::string& name);
    // Why name cannot name a user (empty, or a colon, which Basic
    // credentials use to end the name), or null when it can.
    static const char* UserNameProblem(const std::string& name);

    enum class Outcome {
        Refused,           // a bad name, an empty password, or no hash could be made; nothing changed
        PasswordChanged,   // the user existed
        UserAdded,         // the realm existed, the user is new
        RealmAndUserAdded  // both are new
    };
    // Stores a hash of password as the password of every user of that name
    // in the realm (a duplicate left with its old password would still let
    // it in), creating the user, and the realm, when missing. With problem,
    // a refusal says why.
    Outcome SetPassword(const std::string& realm, const std::string& user, const std::string& password,
                        std::string* problem = nullptr);

private:
    std::vector<AuthRealm>* realms_;
};
