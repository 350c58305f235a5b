#include "shell/desktop/AccessDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "http/HTTPRequest.h"
#include "http/LetterCase.h"

namespace {

// The mask bits of the methods the page has boxes for, OPTIONS to TRACE.
constexpr uint32_t kShownMethods = ((2u << MethodTRACE) - 1) & ~((1u << MethodOPTIONS) - 1);

QString Text(const QLineEdit* edit) { return edit->text().trimmed().left(PropertyPage::kTextLimit); }

QString Methods(uint32_t mask) {
    QStringList words;
    for (int code = MethodOPTIONS; code <= MethodTRACE; ++code)
        if (mask & (1u << code)) words << QString::fromLatin1(MethodWord(code).data(), MethodWord(code).size());
    return words.isEmpty() ? "nothing" : words.join(' ');
}

}  // namespace

AccessDialog::AccessDialog(std::vector<AuthACL>* lists, const std::vector<AuthRealm>* realms)
    : lists_(lists),
      realms_(realms),
      pathList_(MakeList(kPathList, [this] { ShowList(-1); })),
      entryList_(MakeList(kEntryList, [this] { ShowEntry(); })),
      path_(MakeEdit(kPath)),
      realm_(new QComboBox),
      noIndex_(MakeBox(kDisableAutoIndex, "Disable Auto-&Indexing below the path")),
      entryName_(MakeEdit(kEntryName)),
      userEntry_(new QRadioButton("&User")),
      groupEntry_(new QRadioButton("G&roup")) {
    path_->setPlaceholderText("/private");
    realm_->setObjectName(QString("id%1").arg(kRealm));
    realm_->setEditable(true);
    realm_->lineEdit()->setMaxLength(kTextLimit);
    connect(realm_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (AuthACL* list = List()) list->Realm = text.trimmed().left(kTextLimit).toStdString();
    });
    connect(noIndex_, &QCheckBox::toggled, this, [this](bool on) {
        if (AuthACL* list = List()) list->DisableAutoIndex = on ? 1 : 0;
    });
    userEntry_->setObjectName(QString("id%1").arg(kUserEntry));
    groupEntry_->setObjectName(QString("id%1").arg(kGroupEntry));
    userEntry_->setChecked(true);

    auto* listForm = new QFormLayout;
    AddRow(listForm, "Path", path_);
    listForm->addRow(LabelFor("Realm", realm_), realm_);
    listForm->addRow(noIndex_);
    auto* entryForm = new QFormLayout;
    AddRow(entryForm, "Name", entryName_);
    auto* kinds = new QHBoxLayout;
    kinds->addWidget(userEntry_);
    kinds->addWidget(groupEntry_);
    kinds->addStretch();
    entryForm->addRow(kinds);
    auto* boxes = new QGridLayout;
    for (int code = MethodOPTIONS; code <= MethodTRACE; ++code) {
        const std::string_view word = MethodWord(code);
        QCheckBox* box = MakeBox(kFirstMethod + code - MethodOPTIONS, QString::fromLatin1(word.data(), word.size()));
        methods_[code - MethodOPTIONS] = box;
        boxes->addWidget(box, (code - MethodOPTIONS) / 4, (code - MethodOPTIONS) % 4);
    }
    entryForm->addRow(boxes);
    auto* columns = new QHBoxLayout;
    columns->addLayout(ListColumn("Protected paths", pathList_, listForm,
                                  {MakeButton(kAddList, "Add &List", [this] { AddList(); }),
                                   MakeButton(kRemoveList, "Remove", [this] { RemoveList(); })}),
                       1);
    columns->addLayout(ListColumn("Who may do what there", entryList_, entryForm,
                                  {MakeButton(kSetEntry, "&Set Entry", [this] { SetEntry(); }),
                                   MakeButton(kRemoveEntry, "Remove", [this] { RemoveEntry(); })}),
                       1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(Note("A path and everything below it asks for the credentials of the realm's users; "
                           "a list without entries protects nothing."));
    ShowLists(lists_->empty() ? -1 : 0);
}

void AccessDialog::showEvent(QShowEvent* event) {
    const QSignalBlocker quiet(realm_);
    const QString current = realm_->currentText();
    realm_->clear();
    for (const AuthRealm& realm : *realms_) realm_->addItem(QString::fromStdString(realm.Name));
    realm_->setCurrentText(current);
    PropertyPage::showEvent(event);
}

AuthACL* AccessDialog::List() const { return SelectedItem(pathList_, lists_); }

void AccessDialog::ShowLists(int list) {
    QStringList lines;
    for (const AuthACL& l : *lists_) lines << QString::fromStdString(l.Path);
    FillList(pathList_, lines, list);
    ShowList(-1);
}

void AccessDialog::ShowList(int entry) {
    const AuthACL* list = List();
    if (list) {
        // Showing the list is not an edit of it.
        const QSignalBlocker quietRealm(realm_);
        const QSignalBlocker quietBox(noIndex_);
        realm_->setCurrentText(QString::fromStdString(list->Realm));
        noIndex_->setChecked(list->DisableAutoIndex != 0);
    }
    QStringList lines;
    if (list)
        for (const AuthAccess& a : list->Access)
            lines << QString("%1 %2: %3").arg(a.EntryType == 1 ? "group" : "user", QString::fromStdString(a.Name),
                                              Methods(a.Mask));
    FillList(entryList_, lines, entry);
    ShowEntry();
}

void AccessDialog::ShowEntry() {
    AuthACL* list = List();
    const AuthAccess* selected = list ? SelectedItem(entryList_, &list->Access) : nullptr;
    if (!selected) return;
    const AuthAccess& entry = *selected;
    entryName_->setText(QString::fromStdString(entry.Name));
    (entry.EntryType == 1 ? groupEntry_ : userEntry_)->setChecked(true);
    for (int code = MethodOPTIONS; code <= MethodTRACE; ++code)
        methods_[code - MethodOPTIONS]->setChecked(entry.Mask & (1u << code));
}

void AccessDialog::AddList() {
    std::string path = Text(path_).toStdString();
    // The store names the list's key by its path, so a path must be one key
    // name; a trailing slash would make "/a/" a list apart from "/a".
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path[0] != '/') return Complain("A path starts with a slash (\"/private\").");
    if (path.find('\\') != std::string::npos) return Complain("A path cannot hold a backslash.");
    for (const AuthACL& list : *lists_)
        if (EqualNoCase(list.Path, path)) return Complain("There is a list for that path already.");
    AuthACL list;
    list.SetPath(path);
    list.Realm = realm_->currentText().trimmed().left(kTextLimit).toStdString();
    list.DisableAutoIndex = noIndex_->isChecked() ? 1 : 0;
    lists_->push_back(list);
    path_->clear();
    ShowLists(static_cast<int>(lists_->size()) - 1);
}

void AccessDialog::RemoveList() {
    if (EraseSelected(pathList_, lists_)) ShowLists(-1);
}

void AccessDialog::SetEntry() {
    AuthACL* list = List();
    if (!list) return Complain("Select a path first.");
    const std::string name = Text(entryName_).toStdString();
    if (name.empty()) return Complain("An entry names a user or a group.");
    const int type = groupEntry_->isChecked() ? 1 : 0;
    uint32_t mask = 0;
    for (int code = MethodOPTIONS; code <= MethodTRACE; ++code)
        if (methods_[code - MethodOPTIONS]->isChecked()) mask |= 1u << code;
    int row = 0;
    while (static_cast<size_t>(row) < list->Access.size() &&
           !(list->Access[row].EntryType == type && EqualNoCase(list->Access[row].Name, name)))
        ++row;
    if (static_cast<size_t>(row) < list->Access.size()) {
        AuthAccess& entry = list->Access[row];
        entry.Mask = (entry.Mask & ~kShownMethods) | mask;
    } else {
        list->AddAccess(AuthAccess(name, type, mask));
    }
    ShowList(row);
}

void AccessDialog::RemoveEntry() {
    AuthACL* list = List();
    if (list && EraseSelected(entryList_, &list->Access)) ShowList(-1);
}
