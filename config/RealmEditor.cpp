#include "config/RealmEditor.h"

#include "http/LetterCase.h"
#include "platform/PasswordHash.h"

AuthRealm* RealmEditor::FindRealm(const std::string& name) const {
    for (AuthRealm& realm : *realms_)
        if (EqualNoCase(realm.Name, name)) return &realm;
    return nullptr;
}

AuthUser* RealmEditor::FindUser(AuthRealm& realm, const std::string& name) {
    for (AuthUser& user : realm.Users)
        if (EqualNoCase(user.Name, name)) return &user;
    return nullptr;
}

const char* RealmEditor::RealmNameProblem(const std::string& name) {
    if (name.empty()) return "a realm needs a name";
    if (name.find('\\') != std::string::npos) return "a realm name cannot hold a backslash";
    return nullptr;
}

const char* RealmEditor::UserNameProblem(const std::string& name) {
    if (name.empty()) return "a user needs a name";
    if (name.find(':') != std::string::npos) return "a user name cannot hold a colon";
    return nullptr;
}

RealmEditor::Outcome RealmEditor::SetPassword(const std::string& realm, const std::string& user,
                                              const std::string& password, std::string* problem) {
    const char* bad = RealmNameProblem(realm);
    if (!bad) bad = UserNameProblem(user);
    if (!bad && password.empty()) bad = "an empty password is refused";
    std::string hash;
    if (!bad) {
        hash = platform::HashPassword(password);
        if (hash.empty()) bad = "the password could not be hashed";
    }
    if (bad) {
        if (problem) *problem = bad;
        return Outcome::Refused;
    }
    Outcome outcome = Outcome::PasswordChanged;
    AuthRealm* target = FindRealm(realm);
    if (!target) {
        AuthRealm fresh;
        fresh.SetName(realm, "");
        realms_->push_back(fresh);
        target = &realms_->back();
        outcome = Outcome::RealmAndUserAdded;
    }
    bool found = false;
    for (AuthUser& existing : target->Users)
        if (EqualNoCase(existing.Name, user)) {
            existing.Password = hash;
            found = true;
        }
    if (!found) {
        target->AddUser(AuthUser(user, hash));
        if (outcome == Outcome::PasswordChanged) outcome = Outcome::UserAdded;
    }
    return outcome;
}
