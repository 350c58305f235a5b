#pragma once
// The "Access" page: the setup's access lists. The list of paths (819)
// selects the list whose realm (821, the realms of the setup offered),
// DisableAutoIndex box (822) and entries (825) the page shows; changing the
// realm or the box changes the selected list at once, and with no list
// selected they are what Add List (823) gives the list of the path in 820.
// An entry names a user (radio 827) or a group (828) of the realm in 826
// with one box per method, OPTIONS to TRACE (829 to 835), each bit n of the
// entry's Mask for the method of code n. Set Entry (836) replaces the mask
// of the entry of that name and kind, keeping any bit the boxes do not
// show, or appends a new entry; each list has its Remove button (824, 837).
// Like the mapping pages, the page edits the lists at once, and the sheet's
// caller keeps or discards them.

#include <array>
#include <vector>

#include "auth/AuthACL.h"
#include "auth/AuthRealm.h"
#include "shell/desktop/PropertyPage.h"

class QComboBox;
class QListWidget;
class QRadioButton;

class AccessDialog : public PropertyPage {
    Q_OBJECT
public:
    static constexpr int kPathList = 819;
    static constexpr int kPath = 820;
    static constexpr int kRealm = 821;
    static constexpr int kDisableAutoIndex = 822;
    static constexpr int kAddList = 823;
    static constexpr int kRemoveList = 824;
    static constexpr int kEntryList = 825;
    static constexpr int kEntryName = 826;
    static constexpr int kUserEntry = 827;
    static constexpr int kGroupEntry = 828;
    static constexpr int kFirstMethod = 829;  // the box of OPTIONS; TRACE is kFirstMethod + 6
    static constexpr int kSetEntry = 836;
    static constexpr int kRemoveEntry = 837;

    // Edits lists, the access lists of the configuration being edited;
    // the names of realms, which must outlive the page, are offered each
    // time the page is shown (the Users page may have added some).
    AccessDialog(std::vector<AuthACL>* lists, const std::vector<AuthRealm>* realms);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void AddList();
    void RemoveList();
    void SetEntry();
    void RemoveEntry();
    void ShowLists(int list);
    void ShowList(int entry);
    void ShowEntry();
    // The selected list, or null.
    AuthACL* List() const;

    std::vector<AuthACL>* lists_;
    const std::vector<AuthRealm>* realms_;
    QListWidget* pathList_;
    QListWidget* entryList_;
    QLineEdit* path_;
    QComboBox* realm_;
    QCheckBox* noIndex_;
    QLineEdit* entryName_;
    QRadioButton* userEntry_;
    QRadioButton* groupEntry_;
    std::array<QCheckBox*, 7> methods_{};
};
