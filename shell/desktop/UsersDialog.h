#pragma once
// The "Users" page: the setup's realms with their users and groups. The
// realm list (801) selects the realm whose description (803), users (806)
// and groups (811) the page shows; a group selected in 811 shows its
// members (815). Add Realm (804) takes the name in 802 (and, while no realm
// is selected, the description in 803, which otherwise edits the selected
// realm's description as it is typed) and selects the new realm; Set Password (809) stores a hash of the password typed in 808 for
// the user named in 807, adding the user when it is new; Add Group (813)
// and Add Member (817) take the names in 812 and 816; each list has its
// Remove button (805, 810, 814, 818).
//
// Passwords are never shown, hashed or not: the user list says only which
// users still have a plain password. Like the mapping pages, the page edits
// the realm list at once, and the sheet's caller keeps or discards it.

#include <vector>

#include "auth/AuthRealm.h"
#include "shell/desktop/PropertyPage.h"

class QListWidget;

class UsersDialog : public PropertyPage {
    Q_OBJECT
public:
    static constexpr int kRealmList = 801;
    static constexpr int kRealmName = 802;
    static constexpr int kDescription = 803;
    static constexpr int kAddRealm = 804;
    static constexpr int kRemoveRealm = 805;
    static constexpr int kUserList = 806;
    static constexpr int kUserName = 807;
    static constexpr int kPassword = 808;
    static constexpr int kSetPassword = 809;
    static constexpr int kRemoveUser = 810;
    static constexpr int kGroupList = 811;
    static constexpr int kGroupName = 812;
    static constexpr int kAddGroup = 813;
    static constexpr int kRemoveGroup = 814;
    static constexpr int kMemberList = 815;
    static constexpr int kMemberName = 816;
    static constexpr int kAddMember = 817;
    static constexpr int kRemoveMember = 818;

    // Edits realms, the realm list of the configuration being edited.
    explicit UsersDialog(std::vector<AuthRealm>* realms);

private:
    void AddRealm();
    void RemoveRealm();
    void SetPassword();
    void RemoveUser();
    void AddGroup();
    void RemoveGroup();
    void AddMember();
    void RemoveMember();
    // Refills the lists from the realms, keeping the given selections.
    void ShowRealms(int realm);
    void ShowRealm(int user, int group);
    void ShowMembers(int member);
    // The selected realm and group, or null.
    AuthRealm* Realm() const;
    AuthGroup* Group() const;

    std::vector<AuthRealm>* realms_;
    QListWidget* realmList_;
    QListWidget* userList_;
    QListWidget* groupList_;
    QListWidget* memberList_;
    QLineEdit* realmName_;
    QLineEdit* description_;
    QLineEdit* userName_;
    QLineEdit* password_;
    QLineEdit* groupName_;
    QLineEdit* memberName_;
};
