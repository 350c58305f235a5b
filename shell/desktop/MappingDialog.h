#pragma once
// The page of one mapping list (Alias, Redirection, Standard CGI, Windows
// CGI, MIME): the first text in edit 101 ("Virtual"; the media type on the
// MIME page), the second in edit 102 ("Actual"; the extension), the list in
// list box 800 and the buttons Add (103), Replace (104) and Delete (105).
// The page edits the list at once; the sheet's caller keeps or discards it.
//
// Add appends both edits as a new mapping at the end, and refuses with
// "Fields can not be blank" when either is empty; Replace overwrites the
// selected mapping (empty texts allowed); Delete removes it. After each of
// them the list is refilled, nothing is selected, Replace and Delete are
// disabled and both edits are empty. Order is the user's: nothing sorts or
// checks for duplicates.

#include <vector>

#include "config/Mapping.h"
#include "shell/desktop/PropertyPage.h"

class MappingDialog : public PropertyPage {
    Q_OBJECT
public:
    static constexpr int kFirstEdit = 101;
    static constexpr int kSecondEdit = 102;
    static constexpr int kAddButton = 103;
    static constexpr int kReplaceButton = 104;
    static constexpr int kDeleteButton = 105;
    static constexpr int kListBox = 800;

    // Edits list, a mapping list of the configuration being edited.
    explicit MappingDialog(std::vector<Mapping>* list);

    // Empties the list box listBoxId of page and adds one line per mapping in
    // list order: the first text, a tab, the second text, carrying the
    // mapping's index as its item data. 1, or 0 when there is no such list box.
    static int FillMappingListBox(QWidget* page, int listBoxId, const std::vector<Mapping>& list);
    // Puts the selected line's mapping into the two edits and returns 1; with
    // no line selected empties both edits and returns 0.
    static int UpdateMappingEdit(QWidget* page, int listBoxId, int firstEditId, int secondEditId,
                                 const std::vector<Mapping>& list);

private:
    void Add();
    void Replace();
    void Delete();
    // Refills the list and clears the selection, the edits and the buttons.
    void Refresh();
    void Selected();
    // The selected line's index in the list, or -1.
    int SelectedIndex() const;

    std::vector<Mapping>* list_;
};
