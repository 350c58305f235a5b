#include "auth/AuthGroup.h"

AuthGroup::AuthGroup() = default;

void AuthGroup::SetName(const std::string& name) { Name = name; }

int AuthGroup::AddUsername(const std::string& userName) {
    Members.push_back(userName);
    return static_cast<int>(Members.size());
}
