#include "shell/desktop/UsersDialog.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/RealmEditor.h"
#include "http/LetterCase.h"
#include "platform/PasswordHash.h"

namespace {

QString Text(const QLineEdit* edit) { return edit->text().left(PropertyPage::kTextLimit); }

}  // namespace

UsersDialog::UsersDialog(std::vector<AuthRealm>* realms)
    : realms_(realms),
      realmList_(MakeList(kRealmList, [this] { ShowRealm(-1, -1); })),
      userList_(MakeList(kUserList, [] {})),
      groupList_(MakeList(kGroupList, [this] { ShowMembers(-1); })),
      memberList_(MakeList(kMemberList, [] {})),
      realmName_(MakeEdit(kRealmName)),
      description_(MakeEdit(kDescription)),
      userName_(MakeEdit(kUserName)),
      password_(MakeEdit(kPassword)),
      groupName_(MakeEdit(kGroupName)),
      memberName_(MakeEdit(kMemberName)) {
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText("new password");
    connect(description_, &QLineEdit::textEdited, this, [this] {
        if (AuthRealm* realm = Realm()) realm->Description = Text(description_).toStdString();
    });

    auto* realmForm = new QFormLayout;
    AddRow(realmForm, "Realm", realmName_);
    AddRow(realmForm, "Description", description_);
    auto* userForm = new QFormLayout;
    AddRow(userForm, "User", userName_);
    AddRow(userForm, "Password", password_);
    auto* groupForm = new QFormLayout;
    AddRow(groupForm, "Group", groupName_);
    auto* memberForm = new QFormLayout;
    AddRow(memberForm, "Member", memberName_);

    auto* grid = new QGridLayout;
    grid->addLayout(ListColumn("Realms", realmList_, realmForm,
                           {MakeButton(kAddRealm, "Add &Realm", [this] { AddRealm(); }),
                            MakeButton(kRemoveRealm, "Remove", [this] { RemoveRealm(); })}),
                    0, 0);
    grid->addLayout(ListColumn("Users", userList_, userForm,
                           {MakeButton(kSetPassword, "&Set Password", [this] { SetPassword(); }),
                            MakeButton(kRemoveUser, "Remove", [this] { RemoveUser(); })}),
                    0, 1);
    grid->addLayout(ListColumn("Groups", groupList_, groupForm,
                           {MakeButton(kAddGroup, "Add &Group", [this] { AddGroup(); }),
                            MakeButton(kRemoveGroup, "Remove", [this] { RemoveGroup(); })}),
                    1, 0);
    grid->addLayout(ListColumn("Members of the group", memberList_, memberForm,
                           {MakeButton(kAddMember, "Add &Member", [this] { AddMember(); }),
                            MakeButton(kRemoveMember, "Remove", [this] { RemoveMember(); })}),
                    1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addWidget(Note("Passwords are stored hashed and never shown; a user marked \"plain text\" still "
                           "has a readable password. Access lists name these users and groups."));
    ShowRealms(realms_->empty() ? -1 : 0);
}

AuthRealm* UsersDialog::Realm() const { return SelectedItem(realmList_, realms_); }

AuthGroup* UsersDialog::Group() const {
    AuthRealm* realm = Realm();
    return realm ? SelectedItem(groupList_, &realm->Groups) : nullptr;
}

void UsersDialog::ShowRealms(int realm) {
    QStringList lines;
    for (const AuthRealm& r : *realms_) lines << QString::fromStdString(r.Name);
    FillList(realmList_, lines, realm);
    ShowRealm(-1, -1);
}

void UsersDialog::ShowRealm(int user, int group) {
    const AuthRealm* realm = Realm();
    description_->setText(realm ? QString::fromStdString(realm->Description) : QString());
    QStringList users;
    QStringList groups;
    if (realm) {
        for (const AuthUser& u : realm->Users)
            users << QString::fromStdString(u.Name) + (platform::IsPasswordHash(u.Password) ? "" : "  (plain text)");
        for (const AuthGroup& g : realm->Groups) groups << QString::fromStdString(g.Name);
    }
    FillList(userList_, users, user);
    FillList(groupList_, groups, group);
    ShowMembers(-1);
}

void UsersDialog::ShowMembers(int member) {
    QStringList lines;
    if (const AuthGroup* group = Group())
        for (const std::string& name : group->Members) lines << QString::fromStdString(name);
    FillList(memberList_, lines, member);
}

void UsersDialog::AddRealm() {
    const std::string name = Text(realmName_).toStdString();
    RealmEditor editor(realms_);
    if (const char* problem = RealmEditor::RealmNameProblem(name)) return Complain(problem);
    if (editor.FindRealm(name)) return Complain("There is a realm of that name already.");
    AuthRealm realm;
    // While a realm is selected the description field is that realm's; only
    // with none selected is what it holds meant for the new one.
    realm.SetName(name, Realm() ? "" : Text(description_).toStdString());
    realms_->push_back(realm);
    realmName_->clear();
    ShowRealms(static_cast<int>(realms_->size()) - 1);
}

void UsersDialog::RemoveRealm() {
    if (EraseSelected(realmList_, realms_)) ShowRealms(-1);
}

void UsersDialog::SetPassword() {
    AuthRealm* realm = Realm();
    if (!realm) return Complain("Select a realm first.");
    const std::string user = Text(userName_).toStdString();
    std::string problem;
    RealmEditor editor(realms_);
    if (editor.SetPassword(realm->Name, user, password_->text().toStdString(), &problem) ==
        RealmEditor::Outcome::Refused)
        return Complain(QString::fromStdString(problem));
    password_->clear();
    userName_->clear();
    int row = 0;
    while (static_cast<size_t>(row) < realm->Users.size() && !EqualNoCase(realm->Users[row].Name, user)) ++row;
    ShowRealm(row, SelectedRow(groupList_));
}

void UsersDialog::RemoveUser() {
    AuthRealm* realm = Realm();
    if (realm && EraseSelected(userList_, &realm->Users)) ShowRealm(-1, SelectedRow(groupList_));
}

void UsersDialog::AddGroup() {
    AuthRealm* realm = Realm();
    if (!realm) return Complain("Select a realm first.");
    const std::string name = Text(groupName_).toStdString();
    if (name.empty()) return Complain("A group needs a name.");
    for (const AuthGroup& group : realm->Groups)
        if (EqualNoCase(group.Name, name)) return Complain("There is a group of that name already.");
    AuthGroup group;
    group.SetName(name);
    realm->AddGroup(group);
    groupName_->clear();
    ShowRealm(SelectedRow(userList_), static_cast<int>(realm->Groups.size()) - 1);
}

void UsersDialog::RemoveGroup() {
    AuthRealm* realm = Realm();
    if (realm && EraseSelected(groupList_, &realm->Groups)) ShowRealm(SelectedRow(userList_), -1);
}

void UsersDialog::AddMember() {
    AuthGroup* group = Group();
    if (!group) return Complain("Select a group first.");
    const std::string name = Text(memberName_).toStdString();
    if (const char* problem = RealmEditor::UserNameProblem(name)) return Complain(problem);
    for (const std::string& member : group->Members)
        if (EqualNoCase(member, name)) return Complain("That user is a member already.");
    group->AddUsername(name);
    memberName_->clear();
    ShowMembers(static_cast<int>(group->Members.size()) - 1);
}

void UsersDialog::RemoveMember() {
    AuthGroup* group = Group();
    if (group && EraseSelected(memberList_, &group->Members)) ShowMembers(-1);
}
